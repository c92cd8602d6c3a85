#include <windows.h>

#include "os/system_error.h"
#include "module/module_host_test_os.h"

const char* const kModuleSuffix = ".dll";
const std::u16string kMissingExportCode = u"0x0000007f";  // ERROR_PROC_NOT_FOUND
const std::u16string kMissingModuleCode = u"0x0000007e";  // ERROR_MOD_NOT_FOUND

std::u16string missing_module_text(const std::u16string&) {
    return os::system_error_message(ERROR_MOD_NOT_FOUND);
}
