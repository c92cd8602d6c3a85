#pragma once
// A shop as most shops run: Debian's nginx serving a folder, its .php files through PHP-FPM,
// both started on 127.0.0.1 with configurations of their own in a work folder and stopped
// again when the object goes.
//
//   test_support::php_shop shop(dir / "www", dir / "stack");
//   if (!shop.missing().empty()) GTEST_SKIP() << shop.missing();
//   ASSERT_TRUE(shop.running()) << shop.why_not();
//   run_launcher(data, launcher_link(shop.base_url() + "/startup.php", "K"));
//
// And the proxy an office customer sits behind: Debian's tinyproxy on 127.0.0.1, the same way.
//
//   test_support::office_proxy proxy(dir / "proxy");          // or (dir, "user", "password")
//   if (!proxy.missing().empty()) GTEST_SKIP() << proxy.missing();
//   ASSERT_TRUE(proxy.running()) << proxy.why_not();
//   run_launcher(data, link, {{"http_proxy", "http://" + proxy.address()}});
//   EXPECT_EQ(proxy.requests().size(), 5u);
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace test_support {

class php_shop {
  public:
    php_shop(const std::filesystem::path& root, const std::filesystem::path& work);
    ~php_shop();
    php_shop(const php_shop&) = delete;
    php_shop& operator=(const php_shop&) = delete;

    // Which program is not installed; "" when both are.
    const std::string& missing() const { return missing_; }
    bool running() const { return !base_url_.empty(); }
    // What the servers logged when they did not start.
    const std::string& why_not() const { return why_not_; }
    // "http://127.0.0.1:PORT".
    const std::string& base_url() const { return base_url_; }
    // nginx's access log so far: one line per request, "GET /path HTTP/1.0" status bytes.
    std::string access_log() const;

  private:
    std::filesystem::path work_;
    std::string missing_, base_url_, why_not_;
    std::unique_ptr<background_program> fpm_, nginx_;
};

class office_proxy {
  public:
    // With a user name, every request that does not carry it and its password (Basic) is
    // answered 407.
    explicit office_proxy(const std::filesystem::path& work, const std::string& user = "",
                          const std::string& password = "");
    ~office_proxy();
    office_proxy(const office_proxy&) = delete;
    office_proxy& operator=(const office_proxy&) = delete;

    const std::string& missing() const { return missing_; }
    bool running() const { return !address_.empty(); }
    const std::string& why_not() const { return why_not_; }
    // "127.0.0.1:PORT".
    const std::string& address() const { return address_; }
    // The request lines the proxy was asked so far, in order: "GET http://host:port/path
    // HTTP/1.0" for plain http, "CONNECT host:port HTTP/1.1" for the tunnel of an https one.
    std::vector<std::string> requests() const;

  private:
    std::filesystem::path work_;
    std::string missing_, address_, why_not_;
    std::unique_ptr<background_program> proxy_;
};

}  // namespace test_support
