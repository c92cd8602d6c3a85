// The launcher of the self-update end-to-end test: the real launcher, except that where its
// releases are and the key that signs them come from the environment
// (QUORLA_TEST_RELEASE_FOLDER, QUORLA_TEST_RELEASE_KEY), so that a loopback shop can publish
// them. Built for that test only; never installed or packed.
#include "os/platform.h"
#include "quorla_config.h"
#include "text/text.h"
#include "update/self_update.h"

#if QUORLA_SHOP_PROFILE || QUORLA_PACKAGE_BUILD
#error "a test launcher's release settings never go into a shop profile or package build"
#endif

self_update_settings builtin_self_update_settings() {
    return self_update_settings_for(
        os::environment_variable(u"QUORLA_TEST_RELEASE_FOLDER"),
        parse_manifest_public_keys(to_utf8(os::environment_variable(u"QUORLA_TEST_RELEASE_KEY"))));
}
