// The parts of the HTTP session both halves share: its stored state and options, and the
// certificate policy.
#include "inet/session.h"

#include "inet/session_half.h"
#include "inet/trust_settings.h"

namespace inet {

const std::string& CMyInternetSession::error_text() const {
    return common().error;
}
const std::u16string& CMyInternetSession::agent() const {
    return common().agent;
}

void CMyInternetSession::set_option(session_option option, uint32_t value) {
    const size_t i = static_cast<size_t>(option);
    if (i >= option_count) return;
    common().options[i] = value;
    apply_platform_option(*p, option, value);
}

uint32_t CMyInternetSession::option(session_option option) const {
    const size_t i = static_cast<size_t>(option);
    if (i >= option_count) return 0;
    uint32_t value = 0;
    if (query_platform_option(*p, option, value)) return value;
    return common().options[i];
}

namespace {
bool& certificate_policy() {
    static bool verify = builtin_trust_settings().verify_tls;
    return verify;
}
}  // namespace

bool verifies_certificates() {
    return certificate_policy();
}
void set_verifies_certificates(bool verify) {
    certificate_policy() = verify;
}

}  // namespace inet
