// Windows side of the clocks: GetLocalTime and GetTickCount.
#include <windows.h>

#include "os/clock.h"

namespace os {

local_time system_local_now() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

uint32_t system_tick_count() {
    return GetTickCount();
}

}  // namespace os
