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

#include "tests/support/process.h"

namespace test_support {

// A program built by this build: <build>/bin/NAME.
std::filesystem::path built_program(const std::string& name);

// The whole file as bytes; "" when it cannot be read.
std::string read_text(const std::filesystem::path& path);
// How often `needle` occurs in `text` (overlapping occurrences counted).
size_t count_of(const std::string& text, const std::string& needle);
// Every byte but letters, digits, ".", "-" and "_" as %XX, the way shops write the server.
std::string percent_encode(const std::string& text);
// "quorla://key=KEY&svr=<startup address, percent-encoded>".
std::string launcher_link(const std::string& startup_url, const std::string& key);

// Runs the launcher with the link, headless, with XDG_DATA_HOME = data and a UTF-8 locale;
// `env` adds to or overrides those. Killed after `seconds`.
run_result run_launcher(const std::filesystem::path& data, const std::string& link,
                        std::map<std::string, std::string> env = {}, int seconds = 120);
run_result run_launcher(const std::filesystem::path& data, const std::string& link,
                        std::map<std::string, std::string> env, const run_options& options);

// Today's launcher log under the data folder, as UTF-8; "" when there is none.
std::string launcher_log(const std::filesystem::path& data);

}  // namespace test_support
