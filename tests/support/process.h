#pragma once
// Running the real programs from the end-to-end tests: one that runs to its end, and one that
// runs in the background (a shop) until the test stops it.
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace test_support {

struct run_result {
    int exit_code = -1;  // -1 when killed or not started
    int signal = 0;      // the signal that ended it (a crash, or our own kill), else 0
    bool timed_out = false;
    long max_rss_kib = 0;  // peak resident memory of the program
    std::string output;    // standard output and standard error together
};

struct run_options {
    int seconds = 120;  // killed after that long
    // Runs in the child just before exec: limits (setrlimit) and the like.
    std::function<void()> in_child;
    // Runs in the parent once the child exists, on the caller's thread: start a watcher that
    // may kill the child at a moment of the test's choosing.
    std::function<void(pid_t)> started;
};

// Runs argv[0] (found on PATH) with extra environment variables (an empty value unsets).
run_result run_program(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, const run_options& options);
run_result run_program(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, int seconds);

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
