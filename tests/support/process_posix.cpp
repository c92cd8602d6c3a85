#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tests/support/process.h"

namespace test_support {

namespace {

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

}  // namespace

run_result run_program(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, int seconds) {
    run_options options;
    options.seconds = seconds;
    return run_program(argv, env, options);
}

run_result run_program(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, const run_options& options) {
    const int seconds = options.seconds;
    run_result result;
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe_fds[1], 1);
        ::dup2(pipe_fds[1], 2);
        const int null_in = ::open("/dev/null", O_RDONLY);
        if (null_in >= 0) ::dup2(null_in, 0);
        for (const auto& [name, value] : env) {
            if (value.empty())
                ::unsetenv(name.c_str());
            else
                ::setenv(name.c_str(), value.c_str(), 1);
        }
        if (options.in_child) options.in_child();
        auto args = c_argv(argv);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    if (options.started) options.started(child);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            ::kill(child, SIGKILL);
            break;
        }
        pollfd p{pipe_fds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipe_fds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    result.max_rss_kib = usage.ru_maxrss;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

background_program::background_program(const std::vector<std::string>& argv,
                                       std::string& first_line) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipe_fds[1], 1);
        auto args = c_argv(argv);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{pipe_fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        if (::read(pipe_fds[0], &c, 1) != 1 || c == '\n') break;
        first_line.push_back(c);
    }
    ::close(pipe_fds[0]);
}

background_program::~background_program() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

}  // namespace test_support
