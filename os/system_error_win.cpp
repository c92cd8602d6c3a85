// Windows side of system errors: GetLastError and the system message table.
#include <windows.h>

#include "os/system_error.h"
#include "os/platform.h"

namespace os {

uint32_t last_system_error() { return GetLastError(); }

void set_last_system_error(uint32_t code) { SetLastError(code); }

std::u16string system_error_message(uint32_t code) {
    // A Korean user reads the system's own language, everyone else US English.
    const DWORD language = user_language_is_korean() ? MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT)
                                                     : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, language, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (n == 0 || buffer == nullptr) return {};
    std::u16string text(reinterpret_cast<const char16_t*>(buffer), n);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
    return text;
}

}  // namespace os
