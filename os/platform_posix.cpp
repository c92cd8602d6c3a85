#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "os/platform.h"
#include "os/posix_path.h"
#include "text/text.h"

namespace os {

char16_t path_separator() { return u'/'; }

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

}  // namespace os
