#pragma once
// Splitting a request address into what the request engine needs.
#include <cstdint>
#include <string>
#include <string_view>

namespace inet {

enum class service_type { unknown, http, https };

struct cracked_url {
    std::u16string url;  // the address as given
    service_type service = service_type::unknown;
    std::u16string host;    // without brackets for an IPv6 literal
    uint16_t port = 0;      // explicit, else the scheme's default
    std::u16string object;  // path with query: the request target, never empty
    bool ok = false;
};

// Splits `url` (scheme "http" or "https", any letter case). Fails on an empty text, another
// scheme, an empty host or a bad port. User name and password are dropped: requests never
// carry credentials. The fragment stays on the client. Characters that may not stand in a
// request line (space, controls, non-ASCII, '"', '<', '>') are percent-encoded, non-ASCII as
// UTF-8, as browsers do.
cracked_url crack_url(std::u16string_view url);

}  // namespace inet
