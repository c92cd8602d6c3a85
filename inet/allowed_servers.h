#pragma once
// The servers a locked-down build may talk to. A shop that builds its own launcher can name
// its hosts (CMake option QUORLA_ALLOWED_SERVERS); a link, a startup document or a redirect
// that leads anywhere else is then refused. The default build names none and allows any.
#include <string>
#include <string_view>
#include <vector>

namespace inet {

// The list this build was made with; empty allows every host.
std::vector<std::u16string> built_in_allowed_servers();

// The list in force for this process: the built-in one unless a test replaced it.
const std::vector<std::u16string>& allowed_servers();
void set_allowed_servers(std::vector<std::u16string> hosts);

// Splits "a.example;*.b.example" (also "," or spaces between names) into its names.
std::vector<std::u16string> parse_server_list(std::u16string_view text);

// A name matches itself, letter case and one trailing dot ignored; "*.example.com" matches
// every host below example.com, but not example.com itself.
bool host_matches(std::u16string_view host, const std::vector<std::u16string>& list);

// True when no list is in force, or when the address cracks and its host matches the list;
// in an https-only build also only for https addresses (a refused http address is logged).
bool server_allowed(std::u16string_view url);

// A shop profile's launcher takes https addresses only (QUORLA_HTTPS_ONLY): a plain http
// document could be changed by anyone on the network path. Tests may switch it.
bool https_only();
void set_https_only(bool only);
// The https-only rule for one address, redirects included: true unless the build is
// https-only and the address's scheme is not https.
bool scheme_allowed(std::u16string_view url);

}  // namespace inet
