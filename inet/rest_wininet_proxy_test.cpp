// The system's proxy settings (the user's Internet Settings in the registry) are honoured.
// The settings reach every WinInet program of the user, the tests beside this one included,
// so CTest runs this one alone.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include "inet/rest.h"
#include "tests/support/http_server.h"
#include "text/text.h"

namespace {

// The user's proxy settings, for as long as it lives.
class system_proxy {
  public:
    explicit system_proxy(const std::wstring& server) {
        RegCreateKeyExW(HKEY_CURRENT_USER,
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        RegSetValueExW(key_, L"ProxyServer", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(server.c_str()),
                       static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
        enable(1);
    }
    ~system_proxy() {
        enable(0);
        RegDeleteValueW(key_, L"ProxyServer");
        RegCloseKey(key_);
    }
    bool ok() const { return key_ != nullptr; }

  private:
    void enable(DWORD on) {
        RegSetValueExW(key_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on),
                       sizeof(on));
        InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    }
    HKEY key_ = nullptr;
};

TEST(inet_get, proxy_of_the_system_settings_is_honoured) {
    test_support::http_server proxy;
    // The absolute address may carry the default port (wine's WinInet writes it).
    proxy.serve_bytes("http://shop.invalid/startup", "via proxy");
    proxy.serve_bytes("http://shop.invalid:80/startup", "via proxy");
    test_support::http_server shop;
    shop.serve_bytes("/direct", "direct");
    std::shared_ptr<inet::rest::_response> r;
    {
        system_proxy settings(L"127.0.0.1:" + std::to_wstring(proxy.port()));
        ASSERT_TRUE(settings.ok());
        r = inet::rest::get(u"http://shop.invalid/startup?key=1", inet::rest::request_options());
    }
    EXPECT_EQ(r->status, 200) << r->error;
    EXPECT_EQ(std::string(r->body.begin(), r->body.begin() + r->body_size), "via proxy");
    const std::string line = proxy.last_request().request_line;
    EXPECT_TRUE(line == "GET http://shop.invalid/startup?key=1 HTTP/1.0" ||
                line == "GET http://shop.invalid:80/startup?key=1 HTTP/1.0")
        << line;
    EXPECT_EQ(proxy.last_request().header("User-Agent"),
              to_narrow_acp(inet::rest::default_user_agent()));
    EXPECT_EQ(proxy.requests().size(), 1u);
    // Settings back as they were: the next request goes straight to its server again.
    EXPECT_EQ(inet::rest::get(shop.url16("/direct"), inet::rest::request_options())->status, 200);
    EXPECT_EQ(shop.request_count("/direct"), 1);
}

}  // namespace
