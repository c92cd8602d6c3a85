// What only the WinInet client can show: the browser's user agent of the platform, and error
// texts taken from WinInet's own messages.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

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
    if (text.empty()) text = u"WinInet error 12029";  // a wininet.dll without message texts
    EXPECT_EQ(std::string(r->error), to_narrow_acp(text));
}

// The system's proxy settings are the user's Internet Settings in the registry.
TEST(inet_get, proxy_of_the_system_settings_is_honoured) {
    test_support::http_server proxy;
    // The absolute address may carry the default port (wine's WinInet writes it).
    proxy.serve_bytes("http://shop.invalid/startup", "via proxy");
    proxy.serve_bytes("http://shop.invalid:80/startup", "via proxy");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER,
                              L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD on = 1, off = 0;
    const std::wstring server = L"127.0.0.1:" + std::to_wstring(proxy.port());
    RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on),
                   sizeof(on));
    InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    auto r = inet::rest::get(u"http://shop.invalid/startup?key=1", inet::rest::request_options());
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off),
                   sizeof(off));
    RegDeleteValueW(key, L"ProxyServer");
    RegCloseKey(key);
    InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    EXPECT_EQ(r->status, 200) << r->error;
    EXPECT_EQ(std::string(r->body.begin(), r->body.begin() + r->body_size), "via proxy");
    const std::string line = proxy.last_request().request_line;
    EXPECT_TRUE(line == "GET http://shop.invalid/startup?key=1 HTTP/1.0" ||
                line == "GET http://shop.invalid:80/startup?key=1 HTTP/1.0")
        << line;
    EXPECT_EQ(proxy.last_request().header("User-Agent"),
              to_narrow_acp(inet::rest::default_user_agent()));
}

}  // namespace
