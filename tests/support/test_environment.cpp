// Linked into every test executable: where the sources and the build are, for tests that
// need test data or built artefacts (modules, tools), whether run by CTest or by hand.
#include "tests/support/sandbox.h"

namespace {
const bool environment_set = [] {
    test_support::set_environment("QUORLA_SOURCE_DIR", QUORLA_TEST_SOURCE_DIR, false);
    test_support::set_environment("QUORLA_BINARY_DIR", QUORLA_TEST_BINARY_DIR, false);
    return true;
}();
}  // namespace
