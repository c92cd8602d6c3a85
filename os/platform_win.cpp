#include <windows.h>

#include "os/platform.h"
#include "text/text.h"

namespace os {

char16_t path_separator() {
    return u'\\';
}

std::u16string executable_path() {
    // The buffer grows until the whole name fits: paths may be longer than MAX_PATH.
    std::u16string buffer(MAX_PATH, u'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer.data()),
                                           static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

bool user_language_is_korean() {
    return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_KOREAN;
}

std::u16string environment_variable(std::u16string_view name) {
    const std::u16string wide_name(name);
    std::u16string value(256, u'\0');
    for (;;) {
        const DWORD n = GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(wide_name.c_str()), reinterpret_cast<wchar_t*>(value.data()),
                                                static_cast<DWORD>(value.size()));
        if (n == 0) return {};
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);  // n counts the terminating zero when the buffer was too small
    }
}

}  // namespace os
