// Linked into every test executable: where the sources and the build are, for tests that
// need test data or built artefacts (modules, tools), whether run by CTest or by hand.
#include <cstdlib>

namespace {
void set_unless_set(const char* name, const char* value) {
    if (std::getenv(name) != nullptr) return;
#ifdef _WIN32
    _putenv_s(name, value);
#else
    ::setenv(name, value, 0);
#endif
}

const bool environment_set = [] {
    set_unless_set("QUORLA_SOURCE_DIR", QUORLA_TEST_SOURCE_DIR);
    set_unless_set("QUORLA_BINARY_DIR", QUORLA_TEST_BINARY_DIR);
    return true;
}();
}  // namespace
