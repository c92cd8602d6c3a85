// Fuzzes the manifest loader with arbitrary downloaded bytes, and the unscrambler with
// arbitrary attribute text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "log/log_writer.h"
#include "text/text.h"
#include "update/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        LogWriter::Instance().SetPath(u"/dev/null");
        return true;
    }();
    (void)quiet;
    update_file_xml manifest;
    manifest.load(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    std::u16string text = from_utf8(std::string(reinterpret_cast<const char*>(data), size));
    unscramble_update_data(text);
    return 0;
}
