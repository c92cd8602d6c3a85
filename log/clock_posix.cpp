#include <time.h>

#include <mutex>

#include "log/clock.h"

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
    const time_t now = ::time(nullptr);
    struct tm t {};
    ::localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

uint32_t tick_count() {
    {
        std::lock_guard<std::mutex> guard(source_lock);
        if (ticks_source) return ticks_source();
    }
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void set_local_time_source(std::function<local_time()> source) {
    std::lock_guard<std::mutex> guard(source_lock);
    time_source = std::move(source);
}

void set_tick_source(std::function<uint32_t()> source) {
    std::lock_guard<std::mutex> guard(source_lock);
    ticks_source = std::move(source);
}
