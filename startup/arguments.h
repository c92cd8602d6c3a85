#pragma once
// The invocation arguments and the request addresses built from them.
#include <string>

// Splits "key=K&svr=S" (either order) into the work key (unchanged) and the server address
// (URL-decoded). On failure the outputs are left as they were.
bool parse_invocation_arguments(std::u16string& key, const std::u16string& arguments,
                                std::u16string& server);

// base (one trailing "/" removed) + "?" when it has none + key=K + the extra parameter,
// then url_encode in `mode`.
std::u16string compose_request_url(const std::u16string& parameter, int mode,
                                   const std::u16string& base, const std::u16string& key);
