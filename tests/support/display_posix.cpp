#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/display.h"

namespace test_support {

private_display::private_display() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
                 "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return;
    }
    server_ = pid;
    // The server writes its display number and a line feed once it accepts clients.
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
    ::close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
}

private_display::~private_display() {
    if (server_ > 0) {
        ::kill(static_cast<pid_t>(server_), SIGTERM);
        ::waitpid(static_cast<pid_t>(server_), nullptr, 0);
    }
}

}  // namespace test_support
