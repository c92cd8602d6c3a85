#pragma once
// A shop as most shops run: Debian's nginx serving a folder, its .php files through PHP-FPM,
// both started on 127.0.0.1 with configurations of their own in a work folder and stopped
// again when the object goes.
//
//   test_support::php_shop shop(dir / "www", dir / "stack");
//   if (!shop.missing().empty()) GTEST_SKIP() << shop.missing();
//   ASSERT_TRUE(shop.running()) << shop.why_not();
//   run_launcher(data, launcher_link(shop.base_url() + "/startup.php", "K"));
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

}  // namespace test_support
