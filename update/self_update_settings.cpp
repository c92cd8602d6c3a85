// This build's self-update settings, in a file of their own: the end-to-end test's launcher
// links its own definition instead (tests/e2e/release_test_settings.cpp).
#include "text/text.h"
#include "update/launcher_identity.h"
#include "update/self_update.h"

self_update_settings builtin_self_update_settings() {
    return self_update_settings_for(from_utf8(launcher_update_url()),
                                    builtin_manifest_public_keys());
}
