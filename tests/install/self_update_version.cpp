// The version of one of the self-update test's launchers (QUORLA_TEST_LAUNCHER_VERSION), in
// place of the build's own generated source: both versions link this build's libraries and
// differ in this file only. Their release folder and key come from the environment
// (tests/e2e/release_test_settings.cpp).
#include "update/launcher_identity.h"

const char* launcher_version() {
    return QUORLA_TEST_LAUNCHER_VERSION;
}
const char* launcher_update_url() {
    return "";
}
