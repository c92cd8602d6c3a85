// The log writer's POSIX facts: error texts, the XDG data folder, appenders made by fork.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "log/log_writer.h"
#include "log/log_writer_test_os.h"
#include "os/system_error.h"
#include "tests/support/sandbox.h"

std::u16string not_a_folder_text() {
    return u"Not a directory (0x0014)";
}

void run_appenders(const std::u16string& path, int processes, int lines) {
    std::vector<pid_t> children(static_cast<size_t>(processes));
    for (pid_t& child : children) {
        child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            LogWriter::Instance().SetPath(path);
            for (int i = 0; i < lines; ++i) LogWriter::Instance().Write(u"line %d from %d", i, test_support::process_id());
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

namespace {

TEST(SystemError, TextWithCodeOrCodeAlone) {
    os::set_last_system_error(5);
    EXPECT_EQ(SystemErrorText(), u"Input/output error (0x0005)");
    os::set_last_system_error(0x12345);
    EXPECT_EQ(SystemErrorText(), u"0x12345");
    os::set_last_system_error(9999);
    EXPECT_EQ(SystemErrorText(), u"0x270F");
}

TEST(DataFolder, XdgDataHomeThenHome) {
    const char* old_xdg = getenv("XDG_DATA_HOME");
    const std::string saved = old_xdg ? old_xdg : "";
    test_support::set_environment("XDG_DATA_HOME", "/data/x/");
    EXPECT_EQ(LocalLowFolder(), u"/data/x");
    test_support::set_environment("XDG_DATA_HOME", "relative");
    test_support::set_environment("HOME", "/home/u");
    EXPECT_EQ(LocalLowFolder(), u"/home/u/.local/share");
    if (old_xdg) test_support::set_environment("XDG_DATA_HOME", saved); else test_support::unset_environment("XDG_DATA_HOME");
}

}  // namespace
