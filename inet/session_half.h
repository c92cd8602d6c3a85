#pragma once
// What the two HTTP halves (session_curl.cpp, session_wininet.cpp) share with session.cpp:
// the session's portable state, which each half's CMyInternetSession::impl extends, and the
// option hooks each half fills in. Callers use inet/session.h, never this.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "inet/session.h"

namespace inet {

constexpr size_t option_count = 7;

struct session_common {
    explicit session_common(const std::array<uint32_t, option_count>& defaults)
        : options(defaults) {}
    std::u16string agent;
    std::string error;
    // The platform's defaults, so an option nobody sets still means something.
    std::array<uint32_t, option_count> options;
};

// Hands a stored option to the platform, where it takes it.
void apply_platform_option(CMyInternetSession::impl& session, session_option option,
                           uint32_t value);
// What the platform holds for the option; false where it does not answer for it.
bool query_platform_option(const CMyInternetSession::impl& session, session_option option,
                           uint32_t& value);

}  // namespace inet
