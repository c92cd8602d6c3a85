#include "startup/prepare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "inet/allowed_servers.h"
#include "inet/rest.h"
#include "log/log_writer.h"
#include "tests/support/http_server.h"
#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "text/text.h"

namespace fs = std::filesystem;

namespace {

// Every test logs into its own file and can read the lines back.
struct Prepare : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quorla-prepare-" + std::to_string(test_support::process_id()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        test_support::set_environment("XDG_DATA_HOME", dir.string());
        set_system_code_page("UTF-8");
        LogWriter::Destroy();
        LogWriter::Instance().SetPath((dir / "test.log").u16string());
    }
    void TearDown() override {
        LogWriter::Destroy();
        set_system_code_page("");
        fs::remove_all(dir);
    }
    std::u16string log_text() {
        std::ifstream in(dir / "test.log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        const std::string bytes = s.str();
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                 (static_cast<uint8_t>(bytes[i + 1]) << 8)));
        return text;
    }
};

TEST_F(Prepare, ArgumentGrammarTable) {
    struct Case {
        std::u16string arguments;
        bool ok;
        std::u16string key, server;
    } cases[] = {
        {u"key=K1&svr=http%3A%2F%2Fh%2Fs", true, u"K1", u"http://h/s"},
        {u"svr=http%3A%2F%2Fh%2Fs&key=K1", true, u"K1", u"http://h/s"},
        {u"junk?key=K&svr=S", true, u"K", u"S"},
        // A trailing value runs to the end and takes every "&" with it.
        {u"key=K&svr=http://h/s?a=1&b=2", true, u"K", u"http://h/s?a=1&b=2"},
        {u"svr=S&key=K&extra=1", true, u"K&extra=1", u"S"},
        // The key is taken unchanged, percent signs included.
        {u"key=a%20b&svr=S", true, u"a%20b", u"S"},
        {u"key=&svr=S", true, u"", u"S"},
        // Inside a longer word counts too.
        {u"monkey=K&svr=S", true, u"K", u"S"},
        // Another separator: both names present but no marker.
        {u"key=K;svr=S", false, u"old", u"old"},
        {u"svr=S;key=K", false, u"old", u"old"},
        // Letter case is exact.
        {u"KEY=K&svr=S", false, u"old", u"old"},
        {u"key=K", false, u"old", u"old"},
    };
    for (const auto& c : cases) {
        std::u16string key = u"old", server = u"old";
        EXPECT_EQ(parse_invocation_arguments(key, c.arguments, server), c.ok)
            << to_utf8(c.arguments);
        EXPECT_EQ(key, c.key) << to_utf8(c.arguments);
        EXPECT_EQ(server, c.server) << to_utf8(c.arguments);
    }
}

TEST_F(Prepare, MissingNameIsLoggedButMissingMarkerIsNot) {
    std::u16string key, server;
    EXPECT_FALSE(parse_invocation_arguments(key, u"key=K;svr=S", server));
    EXPECT_EQ(log_text(), u"");
    EXPECT_FALSE(parse_invocation_arguments(key, u"key=K&server=S", server));
    EXPECT_NE(
        log_text().find(u"*오류 : 명령 인수값이 올바르지 않습니다. key, svr 값이 없습니다.\r\n"),
        std::u16string::npos);
}

TEST_F(Prepare, ComposeRequestUrlTable) {
    struct Case {
        std::u16string parameter;
        int mode;
        std::u16string base, key, expected;
    } cases[] = {
        {u"field=startup", 2, u"http://h/s/", u"K", u"http://h/s?key=K&field=startup"},
        {u"field=startup", 2, u"http://h/s", u"K", u"http://h/s?key=K&field=startup"},
        {u"field=startup", 2, u"http://h/s?a=1", u"K", u"http://h/s?a=1&key=K&field=startup"},
        {u"field=startup", 2, u"http://h/s?", u"K", u"http://h/s?key=K&field=startup"},
        {u"field=startup", 2, u"http://h/s?a=1&", u"K", u"http://h/s?a=1&key=K&field=startup"},
        {u"field=startup", 2, u"http://h/s", u"", u"http://h/s?field=startup"},
        {u"", 2, u"http://h/s", u"K", u"http://h/s?key=K"},
        // Only one trailing "/" goes.
        {u"p=1", 0, u"http://h//", u"", u"http://h/?p=1"},
        // Percent signs in a key are encoded again; spaces become %20.
        {u"field=result", 2, u"http://h/s", u"a%20b c", u"http://h/s?key=a%2520b%20c&field=result"},
        {u"field=result", 0, u"http://h/s", u"a b", u"http://h/s?key=a b&field=result"},
        {u"x=\ud55c", 2, u"http://h", u"", u"http://h?x=%ED%95%9C"},
        {u"", 0, u"", u"", u"?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compose_request_url(c.parameter, c.mode, c.base, c.key), c.expected)
            << to_utf8(c.base) << " " << to_utf8(c.key);
}

TEST_F(Prepare, ComposeMode1UsesTheCodePage) {
    set_system_code_page("CP949");
    EXPECT_EQ(compose_request_url(u"", 1, u"http://h/\ud55c", u""), u"http://h/%C7%D1?");
}

const char kStartup[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><startup><update_url>http://u/p</update_url>"
    "<setkey_url>http://shop/setkey/</setkey_url><return_url>http://shop/return?a=1</return_url>"
    "<internal_call id=\"own\">1</internal_call></startup>";

TEST_F(Prepare, DownloadsLoadsAndAddsTheNamedValues) {
    test_support::http_server shop;
    shop.serve("/s", test_support::reply::text(kStartup));
    for (const std::u16string& arguments :
         {u"key=K%41&svr=" + shop.url16("/s/"), u"svr=" + shop.url16("/s/") + u"&key=K%41"}) {
        std::u16string key;
        startup_file_xml startup;
        ASSERT_TRUE(prepare_execution(key, arguments, startup)) << to_utf8(log_text());
        EXPECT_EQ(key, u"K%41");
        EXPECT_EQ(shop.last_request().target, "/s?key=K%2541&field=startup");
        EXPECT_EQ(startup.internal_calls,
                  (std::vector<std::pair<std::u16string, std::u16string>>{
                      {u"own", u"1"},
                      {u"set_key_url", u"http://shop/setkey?key=K%2541&field=result"},
                      {u"set_return_url", u"http://shop/return?a=1"},
                      {u"is_local_execution", u"true"}}));
    }
    const std::u16string text = log_text();
    EXPECT_NE(text.find(u"* 실행준비 시작 ********************\r\n"), std::u16string::npos);
    EXPECT_NE(text.find(u"* url: " + shop.url16("/s?key=K%2541&field=startup") + u"\r\n\r\n"),
              std::u16string::npos);
}

TEST_F(Prepare, FiveFailedAttemptsThenTheDownloadLines) {
    for (int status : {206, 500}) {
        test_support::http_server shop;
        shop.serve("/s", test_support::reply::text("partial", status));
        std::u16string key;
        startup_file_xml startup;
        EXPECT_FALSE(prepare_execution(key, u"key=K&svr=" + shop.url16("/s"), startup));
        EXPECT_EQ(shop.request_count("/s"), 5);
        EXPECT_EQ(key, u"K") << "the key is stored before the download";
        const std::u16string url = shop.url16("/s?key=K&field=startup");
        const std::u16string text = log_text();
        EXPECT_NE(text.find(u"*오류 : 다운로드 하지 못했습니다. (url:" + url + u", status:" +
                            ascii_to_wide(std::to_string(status)) + u", err:0x"),
                  std::u16string::npos);
        EXPECT_NE(text.find(u"* 오류: startup.xml을 다운로드 하지 못했습니다. (url:" + url + u")"),
                  std::u16string::npos);
    }
}

TEST_F(Prepare, UnreachableServerLogsThePlatformText) {
    std::vector<char> buffer{'x'};
    const std::u16string url = from_utf8(test_support::closed_port_url());
    EXPECT_FALSE(fetch_to_memory(buffer, url));
    const std::u16string text = log_text();
    EXPECT_NE(text.find(u"status:-1, err:0x"), std::u16string::npos);
    // The client's own text for the refused connection, as it gives it for the same address.
    const std::string platform_text = inet::rest::get(url, inet::rest::request_options())->error;
    EXPECT_NE(platform_text, "");
    EXPECT_NE(text.find(u"      " + to_wide_acp(platform_text)), std::u16string::npos)
        << to_utf8(text);
    EXPECT_EQ(buffer, std::vector<char>{'x'}) << "the buffer is untouched on failure";
}

TEST_F(Prepare, EmptyBodyCountsAsDownloadedButDoesNotLoad) {
    test_support::http_server shop;
    shop.serve("/s", test_support::reply::text(""));
    std::vector<char> buffer{'x'};
    EXPECT_TRUE(fetch_to_memory(buffer, shop.url16("/s")));
    EXPECT_TRUE(buffer.empty());
    std::u16string key;
    startup_file_xml startup;
    EXPECT_FALSE(prepare_execution(key, u"key=K&svr=" + shop.url16("/s"), startup));
    EXPECT_EQ(shop.request_count("/s"), 2);
    EXPECT_NE(log_text().find(u"* 오류: startup.xml의 포멧이 올바르지 않습니다. (url:" +
                              shop.url16("/s?key=K&field=startup") + u")"),
              std::u16string::npos);
}

// The lines a shop needs beside the download and format lines: which check refused the
// document, where redirects ended, and the start of an answer other than 200.
TEST_F(Prepare, ExtraLinesSayWhatTheServerAnswered) {
    test_support::http_server shop;
    const std::string page(10000, 'a');
    const struct {
        const char* name;
        test_support::reply answer;
        std::u16string line;
    } rows[] = {
        {"empty", test_support::reply::text(""), u"*오류 : startup.xml이 비어 있습니다. (bytes:0)"},
        {"no-end", test_support::reply::text("<startup><todo>new_work</todo>"),
         u"*오류 : startup.xml에 </startup>이 없습니다."},
        {"no-element", test_support::reply::text("<Startup><![CDATA[</startup>]]></Startup>"),
         u"*오류 : startup.xml에 startup 요소가 없습니다."},
        {"no-scheme",
         test_support::reply::text("<startup><update_url>shop/update</update_url></startup>"),
         u"*오류 : startup.xml의 update_url에 ://이 없습니다. (update_url:shop/update/)"},
        {"moved", test_support::reply::redirect("/login?from=editor"),
         u"*알림 : 요청이 다른 주소에서 끝났습니다. (url:" +
             shop.url16("/moved?key=K&field=startup") + u", final:" +
             shop.url16("/login?from=editor") + u")"},
        {"error-page", test_support::reply::text(page, 404),
         u"*알림 : 서버 응답의 처음 부분입니다. (status:404, bytes:10000)"},
    };
    shop.serve("/login", test_support::reply::text("<html>Please log in</html>"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        shop.serve(std::string("/") + row.name, row.answer);
        std::u16string key;
        startup_file_xml startup;
        EXPECT_FALSE(prepare_execution(key, u"key=K&svr=" + shop.url16(std::string("/") + row.name),
                                       startup));
        const std::u16string text = log_text();
        EXPECT_NE(text.find(row.line), std::u16string::npos) << to_utf8(text);
    }
    // The error page is quoted up to 4 KiB, and says how much was left out.
    EXPECT_NE(log_text().find(u">" + std::u16string(4096, u'a') + u"[… 5904 bytes left out]\r\n"),
              std::u16string::npos);
}

}  // namespace

namespace {

TEST_F(Prepare, ServerOutsideTheAllowedListIsRefusedBeforeAnyRequest) {
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the list changes below
    std::vector<std::u16string> saved = inet::allowed_servers();
    test_support::http_server shop;
    shop.serve("/s", test_support::reply::text(kStartup));
    inet::set_allowed_servers({u"shop.example", u"*.shop.example"});
    std::u16string key;
    startup_file_xml startup;
    EXPECT_FALSE(prepare_execution(key, u"key=K&svr=" + shop.url16("/s"), startup));
    EXPECT_TRUE(shop.requests().empty());
    EXPECT_NE(log_text().find(u"* 오류: 허용되지 않은 서버입니다. (url:" +
                              shop.url16("/s?key=K&field=startup") + u")"),
              std::u16string::npos)
        << to_utf8(log_text());
    inet::set_allowed_servers({u"127.0.0.1"});
    EXPECT_TRUE(prepare_execution(key, u"key=K&svr=" + shop.url16("/s"), startup))
        << to_utf8(log_text());
    inet::set_allowed_servers(saved);
}

}  // namespace
