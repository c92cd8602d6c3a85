#include <spawn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "app/return_page.h"
#include "os/platform.h"
#include "os/posix_path.h"
#include "text/text.h"

extern char** environ;

std::u16string default_address_handler() { return u"xdg-open"; }

std::vector<std::u16string> named_browser_programs(const std::u16string& agent) {
    // Browsers that have no build for this system ("ie", "safari") have no programs here.
    if (equals_nocase(agent, u"chrome") || equals_nocase(agent, u"chorme"))
        return {u"google-chrome", u"chromium", u"chromium-browser"};
    if (equals_nocase(agent, u"firefox")) return {u"firefox"};
    if (equals_nocase(agent, u"opera")) return {u"opera"};
    // "microsoft-edge:" means nothing here; Edge opens the address itself.
    if (equals_nocase(agent, u"edge") || equals_nocase(agent, u"edg")) return {u"microsoft-edge"};
    return {};
}

bool program_available(const std::u16string& program) {
    const std::string name = os::native_path(program);
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" + name;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// Starts the program in a grandchild, so that it is never waited for and leaves no zombie.
bool start_detached(const std::u16string& program, const std::u16string& argument) {
    const std::string file = os::native_path(program);
    const std::string arg = os::native_path(argument);
    // A launcher started with SIGCHLD ignored would have its child reaped by the kernel, and
    // the wait below would fail although the browser started: wait with the default action.
    struct sigaction default_action {}, inherited {};
    default_action.sa_handler = SIG_DFL;
    ::sigemptyset(&default_action.sa_mask);
    ::sigaction(SIGCHLD, &default_action, &inherited);
    const pid_t child = ::fork();
    if (child < 0) {
        ::sigaction(SIGCHLD, &inherited, nullptr);
        return false;
    }
    if (child == 0) {
        ::setsid();
        // The browser gets its standard streams and nothing else of ours (log, sockets).
        ::close_range(3, ~0U, 0);
        ::signal(SIGCHLD, SIG_DFL);
        char* argv[] = {const_cast<char*>(file.c_str()), const_cast<char*>(arg.c_str()), nullptr};
        pid_t grandchild = 0;
        const int spawned = ::posix_spawnp(&grandchild, file.c_str(), nullptr, nullptr, argv, environ);
        ::_exit(spawned == 0 ? 0 : 127);
    }
    int status = 0;
    pid_t waited = 0;
    while ((waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    ::sigaction(SIGCHLD, &inherited, nullptr);
    return waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
