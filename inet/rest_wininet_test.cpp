// What only the WinInet client can show: the browser's user agent of the platform, and error
// texts taken from WinInet's own messages.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include "inet/rest.h"
#include "tests/support/http_server.h"
#include "text/text.h"

// WinInet ends a chunked body quietly where the connection was cut, keeps a head cut by a
// time-out as it got it, and takes an answer without a status line for an HTTP/0.9 body.
extern const bool client_sees_broken_framing = false;

namespace {

TEST(inet_user_agent, platform_browser_text_is_composed_into_the_agent) {
    const std::string platform = inet::platform_user_agent_text();
    ASSERT_FALSE(platform.empty());
    EXPECT_EQ(platform.rfind("Mozilla/", 0), 0u) << platform;
    const std::string agent = to_narrow_acp(inet::rest::default_user_agent());
    EXPECT_EQ(agent, inet::rest::compose_user_agent(platform));
    EXPECT_EQ(agent.find(" MSIE 7.0;"), std::string::npos) << agent;
    EXPECT_NE(agent, "Mozilla/4.0 (compatible; Windows NT) WinInetRest/1.0");
}

TEST(inet_error_text, a_refused_connection_reports_wininets_own_message) {
    wchar_t expected[256] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   LoadLibraryW(L"wininet.dll"), ERROR_INTERNET_CANNOT_CONNECT, 0,
                                   expected, 256, nullptr);
    std::u16string text(reinterpret_cast<const char16_t*>(expected), n);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    const std::u16string url = from_utf8(test_support::closed_port_url() + "/x");
    auto r = inet::rest::get(url, inet::rest::request_options());
    EXPECT_EQ(r->status, -1);
    if (text.empty())  // a wininet.dll without message texts
        text = u"The attempt to connect to the server failed. (WinInet error 12029)";
    EXPECT_EQ(std::string(r->error), to_narrow_acp(text));
}

// A code for which wininet.dll has no text (wine's has only a few) still says what it means.
TEST(inet_error_text, a_code_without_a_message_of_wininet_is_explained) {
    test_support::http_server shop;
    shop.serve("/loop", test_support::reply::redirect("/loop"));
    auto r = inet::rest::get(shop.url16("/loop"), inet::rest::request_options());
    EXPECT_EQ(r->status, -1);
    const std::string error = r->error;
    EXPECT_NE(error.find("redirect"), std::string::npos) << error;
    EXPECT_NE(error, "WinInet error 12156");
}

}  // namespace
