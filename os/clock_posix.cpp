#include <time.h>

#include "os/clock.h"

namespace os {

local_time system_local_now() {
    const time_t now = ::time(nullptr);
    struct tm t {};
    ::localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

uint32_t system_tick_count() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace os
