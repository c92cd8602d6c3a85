#pragma once
// Running the real launcher as a customer's browser would, in a data folder of the test's own,
// and reading back what it left there.
//
//   const auto run = test_support::run_launcher(data, test_support::launcher_link(startup, "K"));
//   EXPECT_NE(test_support::launcher_log(data).find("* 업데이트 시작"), std::string::npos);
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace test_support {

// A program built by this build: <build>/bin/NAME.
std::filesystem::path built_program(const std::string& name);

// The launcher a test runs: this build's, or, when QUORLA_WINDOWS_BINARY_DIR names a Windows
// build, its quorla-launcher.exe under wine, with a wine prefix of that build's own
// (<windows build>/wine-e2e) whose LocalLow folder holds the log and the installed modules.
struct launcher_target {
    bool windows = false;
    std::filesystem::path windows_build;
    std::filesystem::path wine_prefix;

    // The data folder a run with `data` uses: `data` itself on Linux (XDG_DATA_HOME), the
    // prefix's LocalLow folder under wine.
    std::filesystem::path data_folder(const std::filesystem::path& data) const;
    // The sample editor module: its file name, and where the build left it.
    std::string module_file() const;
    std::filesystem::path built_module() const;
    // A path as the launcher sees it (a drive letter path under wine).
    std::string native_path(const std::filesystem::path& path) const;
    // Puts a "browser" program at `program` that appends each address it is asked to open as
    // a line to the file it returns.
    std::filesystem::path make_browser(const std::filesystem::path& program) const;
    // The command line that runs the launcher with these arguments; `test_launcher` names a
    // test's own launcher build in <build>/tests instead (quorla_test_launcher in CMake).
    std::vector<std::string> command(const std::vector<std::string>& arguments,
                                     const std::string& test_launcher = "") const;
};
const launcher_target& launcher_under_test();

// The whole file as bytes; "" when it cannot be read.
std::string read_text(const std::filesystem::path& path);
// How often `needle` occurs in `text` (overlapping occurrences counted).
size_t count_of(const std::string& text, const std::string& needle);
// Every byte but letters, digits, ".", "-" and "_" as %XX, the way shops write the server.
std::string percent_encode(const std::string& text);
// "quorla://key=KEY&svr=<startup address, percent-encoded>".
std::string launcher_link(const std::string& startup_url, const std::string& key);

// Runs the launcher under test with the link, headless, with XDG_DATA_HOME = data and a UTF-8
// locale; `env` adds to or overrides those. Killed after `seconds`.
run_result run_launcher(const std::filesystem::path& data, const std::string& link,
                        std::map<std::string, std::string> env = {}, int seconds = 120);
run_result run_launcher(const std::filesystem::path& data, const std::string& link,
                        std::map<std::string, std::string> env, const run_options& options);

// Today's launcher log under the data folder, as UTF-8; "" when there is none.
std::string launcher_log(const std::filesystem::path& data);

}  // namespace test_support
