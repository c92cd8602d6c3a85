#pragma once
// Local time and tick count, behind a seam so that tests can move the clock.
#include <cstdint>
#include <functional>

namespace os {

struct local_time {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

local_time local_now();
// Milliseconds since an arbitrary start (monotonic), wrapping at 2^32 like GetTickCount.
uint32_t tick_count();

// Tests only: replace the clocks; an empty function restores the system clock.
void set_local_time_source(std::function<local_time()> source);
void set_tick_source(std::function<uint32_t()> source);

// The system's own clocks, one half per OS (clock_posix.cpp, clock_win.cpp).
local_time system_local_now();
uint32_t system_tick_count();

}  // namespace os
