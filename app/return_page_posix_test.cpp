// The return page on POSIX: named browsers by their Linux commands, a detached start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/return_page.h"
#include "app/return_page_test_os.h"
#include "tests/support/sandbox.h"
#include "os/posix_path.h"
#include "text/text.h"

namespace fs = std::filesystem;

const std::map<std::u16string, std::vector<std::u16string>> kNamedBrowsers = {
    {u"chrome", {u"google-chrome", u"chromium", u"chromium-browser"}},
    {u"firefox", {u"firefox"}},
    {u"opera", {u"opera"}},
    {u"edge", {u"microsoft-edge"}},
    {u"edg", {u"microsoft-edge"}},
    {u"ie", {}},
    {u"safari", {}},
};
const std::u16string kBrowserFolder = u"/opt/b/";

namespace {

TEST(ReturnPage, FileAgentIsStartedDetachedWithTheAddress) {
    const fs::path dir = fs::temp_directory_path() / ("quorla-return-" + std::to_string(test_support::process_id()));
    fs::create_directories(dir);
    const fs::path script = dir / "browser.EXE";
    const fs::path out = dir / "opened.txt";
    const int leaked = ::dup(2);  // not close-on-exec, like a log or socket a library might open
    {
        std::ofstream s(script);
        s << "#!/bin/sh\n[ -e /proc/$$/fd/" << leaked << " ] && set -- \"$1 (inherited a descriptor)\"\n"
          << "printf '%s' \"$1\" > '" << out.string() << ".tmp' && mv '" << out.string() << ".tmp' '"
          << out.string() << "'\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    const std::u16string url = u"http://shop/return?exit_code=0&keyresult=a%20b";
    // A launcher may inherit SIGCHLD ignored; the start must still count as a success.
    const auto inherited = std::signal(SIGCHLD, SIG_IGN);
    EXPECT_TRUE(start_detached(u"true", u""));
    open_return_page(url, os::from_native_path(script.string()), u"file");
    std::signal(SIGCHLD, inherited);
    ::close(leaked);
    std::string opened;
    for (int i = 0; i < 500 && opened.empty(); ++i) {
        std::ifstream in(out);
        std::stringstream s;
        s << in.rdbuf();
        opened = s.str();
        if (opened.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(opened, to_utf8(url));
    fs::remove_all(dir);
}

TEST(ReturnPage, ProgramLookup) {
    EXPECT_TRUE(program_available(u"sh"));
    EXPECT_FALSE(program_available(u"no-such-browser-here"));
    EXPECT_FALSE(program_available(u"/no/such/path.exe"));
}

}  // namespace
