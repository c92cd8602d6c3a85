#include <cerrno>
#include <cstring>

#include "os/system_error.h"
#include "text/text.h"

namespace os {

uint32_t last_system_error() { return static_cast<uint32_t>(errno); }

void set_last_system_error(uint32_t code) { errno = static_cast<int>(code); }

std::u16string system_error_message(uint32_t code) {
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return {};
    return to_wide_acp(text);
}

}  // namespace os
