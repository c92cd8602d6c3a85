#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "text/platform.h"
#include "text/posix_path.h"
#include "text/text.h"

char16_t path_separator() { return u'/'; }

std::string native_path(std::u16string_view path) { return to_utf8(path); }

std::u16string from_native_path(std::string_view path) { return from_utf8(path); }

std::u16string executable_path() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return from_native_path(std::string_view(buffer, static_cast<size_t>(n)));
}

bool user_language_is_korean() {
    // The first of these that is set decides, as for the C library's message catalogues.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return std::strncmp(value, "ko", 2) == 0;
    }
    return false;
}

std::u16string environment_variable(std::u16string_view name) {
    const char* value = std::getenv(to_utf8(name).c_str());
    return value ? from_native_path(value) : std::u16string();
}
