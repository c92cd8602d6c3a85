// Linked into every test executable: where the sources and the build are, for tests that
// need test data or built artefacts (modules, tools), whether run by CTest or by hand.
#include <cstdlib>

namespace {
const bool environment_set = [] {
    ::setenv("QUORLA_SOURCE_DIR", QUORLA_TEST_SOURCE_DIR, 0);
    ::setenv("QUORLA_BINARY_DIR", QUORLA_TEST_BINARY_DIR, 0);
    return true;
}();
}  // namespace
