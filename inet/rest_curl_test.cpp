// What only the libcurl client on POSIX can show: no browser of the platform to take a user
// agent from, and a file size limit imposed on a child process.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "inet/rest.h"
#include "tests/support/http_server.h"
#include "tests/support/sandbox.h"

// libcurl reports a cut chunk, a head cut by a time-out and a missing status line as errors.
extern const bool client_sees_broken_framing = true;

namespace {

namespace fs = std::filesystem;
using inet::rest::request_options;
using test_support::http_server;

std::string body_of(const inet::rest::_response& r) {
    return std::string(r.body.begin(), r.body.begin() + std::max(0, r.body_size));
}

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return s;
}

std::u16string wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

class temp_dir {
  public:
    temp_dir() : path(test_support::make_temporary_folder("quorla-inet")) {}
    ~temp_dir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

TEST(inet_user_agent, posix_has_no_browser_text_so_the_fallback_applies) {
    EXPECT_EQ(inet::rest::default_user_agent(),
              u"Mozilla/4.0 (compatible; Windows NT) WinInetRest/1.0");
}

TEST(inet_get_to_file, file_size_limit_fails_the_request_instead_of_keeping_a_cut_file) {
    // The disk refusing writes (here a file size limit in a child process) must not give a
    // 200 for a file that holds only the first part of the body: neither in the middle of the
    // body nor in the last piece, which reaches the disk only when the file is closed.
    struct Case {
        size_t body;
        rlim_t limit;
    } cases[] = {{200000, 65536}, {800, 500}};
    for (const auto& c : cases) {
        http_server shop;
        shop.serve_bytes("/big.zip", pattern(c.body));
        temp_dir dir;
        const std::string out = (dir.path / "big.zip").string();
        const std::u16string url = shop.url16("/big.zip");
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{c.limit, c.limit};
            setrlimit(RLIMIT_FSIZE, &limit);
            auto r = inet::rest::get_to_file(url, request_options(), wide(out));
            _exit(r->status == -1 && r->error[0] != '\0' ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "child died with signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << c.body;
        EXPECT_LE(fs::file_size(out), c.limit);
    }
}

TEST(inet_get, proxy_from_the_environment_is_honoured) {
    http_server proxy;
    proxy.serve_bytes("http://shop.invalid/startup", "via proxy");
    const char* no = std::getenv("no_proxy");
    const char* NO = std::getenv("NO_PROXY");
    std::string saved_no = no ? no : "";
    std::string saved_NO = NO ? NO : "";
    test_support::set_environment("http_proxy", proxy.base_url());
    test_support::unset_environment("no_proxy");
    test_support::unset_environment("NO_PROXY");
    auto r = inet::rest::get(u"http://shop.invalid/startup?key=1", request_options());
    test_support::unset_environment("http_proxy");
    test_support::set_environment("no_proxy", saved_no);
    test_support::set_environment("NO_PROXY", saved_NO);
    EXPECT_EQ(r->status, 200) << r->error;
    EXPECT_EQ(body_of(*r), "via proxy");
    EXPECT_EQ(proxy.last_request().request_line, "GET http://shop.invalid/startup?key=1 HTTP/1.0");
}

}  // namespace
