// Loads arbitrary bytes as a startup document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "log/log_writer.h"
#include "startup/startup_file.h"
#include "text/text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every load logs the whole document; the lines go nowhere. The install folder is only
    // computed, never created.
#ifndef _WIN32  // the data folder on Windows is LocalLow, only computed here too
    setenv("XDG_DATA_HOME", "/tmp/quorla-startup-fuzz", 1);
#endif
    LogWriter::Instance().SetPath(u"/dev/null");
    set_system_code_page("WINDOWS-1252");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    startup_file_xml startup;
    startup.load(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    return 0;
}
