// The launcher of the profile end-to-end test (quorla-launcher-profile-test): the real launcher
// with a shop profile's trust settings, TLS verified and https only, except that its servers,
// its manifest keys and the authority that signs its servers' certificates come from the
// environment (QUORLA_TEST_ALLOWED_SERVERS, QUORLA_TEST_MANIFEST_KEYS, QUORLA_TEST_CA_FILE).
// A compiled-in key could not play two shops in one test, and the certificate is made by the
// test itself. An unset variable trusts nothing: no host is allowed, no manifest verifies.
// Built for that test only, never installed or packed: a profile or package build refuses
// QUORLA_TEST_LAUNCHERS (cmake/shop_profile.cmake), and this file does not compile in one.
#include "inet/trust_settings.h"
#include "os/platform.h"
#include "quorla_config.h"
#include "text/text.h"

#if QUORLA_SHOP_PROFILE || QUORLA_PACKAGE_BUILD
#error "a test launcher's trust settings never go into a shop profile or package build"
#endif

namespace {

std::string setting(std::u16string_view name, const char* unset) {
    const std::string value = to_utf8(os::environment_variable(name));
    return value.empty() ? unset : value;
}

}  // namespace

namespace inet {

const trust_settings& builtin_trust_settings() {
    static const trust_settings settings{
        true, true, setting(u"QUORLA_TEST_ALLOWED_SERVERS", "unset.invalid"),
        // 32 zero bytes: a key no signature verifies with.
        setting(u"QUORLA_TEST_MANIFEST_KEYS", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="),
        false, os::environment_variable(u"QUORLA_TEST_CA_FILE")};
    return settings;
}

}  // namespace inet
