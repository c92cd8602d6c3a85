#pragma once
// Running the real programs from the end-to-end tests: one that runs to its end, and one that
// runs in the background (a shop) until the test stops it.
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace test_support {

struct run_result {
    int exit_code = -1;  // -1 when killed or not started
    bool timed_out = false;
    std::string output;  // standard output and standard error together
};

// Runs argv[0] (found on PATH) with extra environment variables; kills it after `seconds`.
run_result run_program(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                       int seconds);

class background_program {
public:
    // Starts the program; `first_line` receives the first line it prints (waits up to 30 s).
    background_program(const std::vector<std::string>& argv, std::string& first_line);
    ~background_program();  // SIGTERM, then waits
    background_program(const background_program&) = delete;
    background_program& operator=(const background_program&) = delete;

private:
    pid_t pid_ = -1;
};

}  // namespace test_support
