#include "app/return_page.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "inet/allowed_servers.h"
#include "tests/support/sandbox.h"
#include "text/platform.h"
#include "text/posix_path.h"
#include "text/text.h"

namespace fs = std::filesystem;

namespace {

using kind = launch_plan::kind;

TEST(ReturnPage, ChoiceTable) {
    const std::u16string url = u"http://shop/return?x=1";
    const std::vector<std::u16string> chrome = {u"google-chrome", u"chromium", u"chromium-browser"};
    struct Case {
        std::u16string address, agent, agent_type;
        kind what;
        std::vector<std::u16string> programs;
    } cases[] = {
        {u"", u"chrome", u"", kind::nothing, {}},
        {url, u"ChRoMe", u"", kind::start_executable, chrome},
        {url, u"chrome", u"ID", kind::start_executable, chrome},
        {url, u"chorme", u"id", kind::start_executable, chrome},
        {url, u"firefox", u"", kind::start_executable, {u"firefox"}},
        {url, u"opera", u"", kind::start_executable, {u"opera"}},
        {url, u"edge", u"", kind::start_executable, {u"microsoft-edge"}},
        {url, u"EDG", u"", kind::start_executable, {u"microsoft-edge"}},
        {url, u"ie", u"", kind::open_address, {u"xdg-open"}},
        {url, u"explore", u"", kind::open_address, {u"xdg-open"}},
        {url, u"safari", u"", kind::open_address, {u"xdg-open"}},
        {url, u"sapari", u"", kind::open_address, {u"xdg-open"}},
        {url, u"netscape", u"", kind::open_address, {u"xdg-open"}},
        {url, u"", u"", kind::open_address, {u"xdg-open"}},
        {url, u"/opt/b/browser.EXE", u"file", kind::start_executable, {u"/opt/b/browser.EXE"}},
        {url, u"/opt/b/browser.exe", u"FILE", kind::start_executable, {u"/opt/b/browser.exe"}},
        {url, u"/opt/b/browser", u"file", kind::open_address, {u"xdg-open"}},
        {url, u"exe", u"file", kind::open_address, {u"xdg-open"}},
        {url, u".exe", u"file", kind::start_executable, {u".exe"}},
        {url, u"chrome", u"other", kind::nothing, {}},
    };
    for (const auto& c : cases) {
        const launch_plan plan = choose_launch(c.address, c.agent, c.agent_type);
        EXPECT_EQ(plan.what, c.what) << to_utf8(c.agent) << "/" << to_utf8(c.agent_type);
        EXPECT_EQ(plan.programs, c.programs) << to_utf8(c.agent) << "/" << to_utf8(c.agent_type);
        if (c.what != kind::nothing) {
            EXPECT_EQ(plan.argument, c.address);
        }
    }
}

TEST(ReturnPage, MissingNamedBrowserFallsBackToTheDefaultHandler) {
    std::vector<std::u16string> launched;
    set_launcher_for_tests([&](const std::u16string& program, const std::u16string& argument) {
        launched.push_back(program + u" " + argument);
        return program == u"xdg-open";  // no browser of that name starts here
    });
    open_return_page(u"http://shop/r", u"firefox", u"");
    EXPECT_EQ(launched, (std::vector<std::u16string>{u"firefox http://shop/r", u"xdg-open http://shop/r"}));
    launched.clear();
    open_return_page(u"http://shop/r", u"x", u"other");
    open_return_page(u"", u"firefox", u"");
    // A build that names its servers opens no other address.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the list changes below
    const std::vector<std::u16string> saved = inet::allowed_servers();
    inet::set_allowed_servers({u"shop.example"});
    open_return_page(u"http://elsewhere.example/r", u"", u"");
    inet::set_allowed_servers(saved);
    EXPECT_TRUE(launched.empty());
    set_launcher_for_tests(nullptr);
}

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
    open_return_page(url, from_native_path(script.string()), u"file");
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
