#include <windows.h>

#include "text/platform.h"
#include "text/text.h"

char16_t path_separator() {
    return u'\\';
}

// Narrow paths on Windows are read in the ANSI code page by the C library and the "A" functions.
std::string native_path(std::u16string_view path) {
    return to_narrow_acp(path);
}

std::u16string from_native_path(std::string_view path) {
    return to_wide_acp(path);
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
