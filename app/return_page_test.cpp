#include "app/return_page.h"

#include <gtest/gtest.h>

#include "app/return_page_test_os.h"
#include "inet/allowed_servers.h"
#include "text/text.h"

namespace {

using kind = launch_plan::kind;

TEST(ReturnPage, ChoiceTable) {
    const std::u16string url = u"http://shop/return?x=1";
    const std::u16string file = kBrowserFolder + u"browser";
    // `browser`: the row of the named browser table the agent falls in (see kNamedBrowsers);
    // for "file", the programs expected; nothing: the address is opened by the default handler.
    struct Case {
        std::u16string address, agent, agent_type, browser;
        std::vector<std::u16string> file_programs;
        bool nothing;
    } cases[] = {
        {u"", u"chrome", u"", u"", {}, true},
        {url, u"ChRoMe", u"", u"chrome", {}, false},
        {url, u"chrome", u"ID", u"chrome", {}, false},
        {url, u"chorme", u"id", u"chrome", {}, false},
        {url, u"firefox", u"", u"firefox", {}, false},
        {url, u"opera", u"", u"opera", {}, false},
        {url, u"edge", u"", u"edge", {}, false},
        {url, u"EDG", u"", u"edg", {}, false},
        {url, u"ie", u"", u"ie", {}, false},
        {url, u"explore", u"", u"ie", {}, false},
        {url, u"safari", u"", u"safari", {}, false},
        {url, u"sapari", u"", u"safari", {}, false},
        {url, u"netscape", u"", u"", {}, false},
        {url, u"", u"", u"", {}, false},
        {url, file + u".EXE", u"file", u"", {file + u".EXE"}, false},
        {url, file + u".exe", u"FILE", u"", {file + u".exe"}, false},
        {url, file, u"file", u"", {}, false},
        {url, u"exe", u"file", u"", {}, false},
        // Only an absolute path on this machine is started; a relative or network path gets
        // the default handler.
        {url, u".exe", u"file", u"", {}, false},
        {url, u"browser.exe", u"file", u"", {}, false},
        {url, u"\\\\server\\share\\browser.exe", u"file", u"", {}, false},
        {url, u"//server/share/browser.exe", u"file", u"", {}, false},
        {url, u"chrome", u"other", u"", {}, true},
    };
    for (const auto& c : cases) {
        const launch_plan plan = choose_launch(c.address, c.agent, c.agent_type);
        std::vector<std::u16string> programs = c.file_programs;
        if (!c.browser.empty()) programs = kNamedBrowsers.at(c.browser);
        const kind what = c.nothing ? kind::nothing : programs.empty() ? kind::open_address : kind::start_executable;
        if (what == kind::open_address) programs = {default_address_handler()};
        EXPECT_EQ(plan.what, what) << to_utf8(c.agent) << "/" << to_utf8(c.agent_type);
        EXPECT_EQ(plan.programs, programs) << to_utf8(c.agent) << "/" << to_utf8(c.agent_type);
        if (what != kind::nothing) {
            EXPECT_EQ(plan.argument, c.address);
        }
    }
}

TEST(ReturnPage, MissingNamedBrowserFallsBackToTheDefaultHandler) {
    std::vector<std::u16string> launched;
    set_launcher_for_tests([&](const std::u16string& program, const std::u16string& argument) {
        launched.push_back(program + u" " + argument);
        return program == default_address_handler();  // no browser of that name starts here
    });
    open_return_page(u"http://shop/r", u"firefox", u"");
    const std::u16string firefox = kNamedBrowsers.at(u"firefox").front();
    EXPECT_EQ(launched, (std::vector<std::u16string>{firefox + u" http://shop/r",
                                                     default_address_handler() + u" http://shop/r"}));
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

}  // namespace
