#include <unistd.h>

#include <cstdio>
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

int run_build_machine_command(const std::string& command, std::string* output) {
    if (output == nullptr) return std::system(command.c_str());
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, n);
    return ::pclose(pipe);
}

std::string build_machine_path(const std::filesystem::path& path) {
    return path.string();
}

}  // namespace test_support
