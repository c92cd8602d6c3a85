// Any downloaded bytes through the manifest loader: no crash, no sanitizer report, and a
// manifest that loads never names a path leading out of the install folder.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>

#include "update/manifest.h"

// The loader logs every document it reads; keep that away from the real data folder.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
#ifndef _WIN32  // the data folder on Windows is LocalLow, only computed here too
    setenv("XDG_DATA_HOME", "/tmp/quorla-manifest-fuzz", 1);
#endif
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    update_file_xml manifest;
    if (manifest.load(reinterpret_cast<const char*>(data), static_cast<int32_t>(size))) {
        if (manifest.module.empty() || manifest.files.empty()) std::abort();
        for (const auto& e : manifest.files)
            if (!manifest_path_is_safe(e.path) || !manifest_path_is_safe(e.archive)) std::abort();
    }
    return 0;
}
