#include "module/module_host_test_os.h"

const char* const kModuleSuffix = ".so";
const std::u16string kMissingExportCode = u"0x00000002";  // ENOENT
const std::u16string kMissingModuleCode = u"0x00000002";

// dlerror names the file.
std::u16string missing_module_text(const std::u16string& path) {
    return path;
}
