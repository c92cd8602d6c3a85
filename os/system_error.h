#pragma once
// The calling thread's last system error code (errno on POSIX, GetLastError on Windows).
#include <cstdint>
#include <string>

namespace os {

uint32_t last_system_error();
void set_last_system_error(uint32_t code);
// The system's text for a code, without a trailing line break; empty when it has none.
std::u16string system_error_message(uint32_t code);

}  // namespace os
