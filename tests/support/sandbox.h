#pragma once
// The test sandbox: scratch folders, environment variables and the process's own id, so that
// tests never call the OS for them. One half per OS (sandbox_posix.cpp, sandbox_win.cpp).
// Names and values are UTF-8.
#include <filesystem>
#include <string>

namespace test_support {

// A new, empty folder of this process's own under the system's temporary folder,
// "<tmp>/<prefix>-XXXXXX". The caller removes it when done; throws when none can be made.
std::filesystem::path make_temporary_folder(const std::string& prefix);

// Sets an environment variable of this process; with `replace` false an existing value stays.
void set_environment(const std::string& name, const std::string& value, bool replace = true);
void unset_environment(const std::string& name);
// The value, or "" when unset.
std::string environment(const std::string& name);

// This process's id, for names that must not meet those of a parallel test.
long process_id();

// Runs a command line of the build machine's shell (sh -c): the Linux tools some tests build
// their data with or compare against (gcab, md5sum, openssl). Returns the exit status (-1
// when it could not run); standard output goes to `output` when given. The Windows tests run
// under wine, which starts the build machine's programs itself.
int run_build_machine_command(const std::string& command, std::string* output = nullptr);
// A path as that shell sees it.
std::string build_machine_path(const std::filesystem::path& path);

}  // namespace test_support
