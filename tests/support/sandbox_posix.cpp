#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/sandbox.h"

namespace test_support {

std::filesystem::path make_temporary_folder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a folder like " + pattern);
    return pattern;
}

void set_environment(const std::string& name, const std::string& value, bool replace) {
    ::setenv(name.c_str(), value.c_str(), replace ? 1 : 0);
}

void unset_environment(const std::string& name) {
    ::unsetenv(name.c_str());
}

std::string environment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

long process_id() {
    return static_cast<long>(::getpid());
}

}  // namespace test_support
