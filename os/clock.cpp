// The clocks the launcher reads, which tests may replace; the system's own in the OS halves.
#include <mutex>

#include "os/clock.h"

namespace os {

namespace {
std::mutex source_lock;
std::function<local_time()> time_source;
std::function<uint32_t()> ticks_source;
}  // namespace

local_time local_now() {
    {
        std::lock_guard<std::mutex> guard(source_lock);
        if (time_source) return time_source();
    }
    return system_local_now();
}

uint32_t tick_count() {
    {
        std::lock_guard<std::mutex> guard(source_lock);
        if (ticks_source) return ticks_source();
    }
    return system_tick_count();
}

void set_local_time_source(std::function<local_time()> source) {
    std::lock_guard<std::mutex> guard(source_lock);
    time_source = std::move(source);
}

void set_tick_source(std::function<uint32_t()> source) {
    std::lock_guard<std::mutex> guard(source_lock);
    ticks_source = std::move(source);
}

}  // namespace os
