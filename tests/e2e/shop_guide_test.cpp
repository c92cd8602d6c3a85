// The examples of docs/shop-integration.md, fed to the launcher's own readers and run with the
// real launcher, so that the guide a shop follows cannot drift from what the launcher does.
// An example is the fenced block after a line "<!-- example: NAME -->".
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "result/cart_key.h"
#include "result/edit_result.h"
#include "startup/prepare.h"
#include "tests/support/http_server.h"
#include "tests/support/launcher_run.h"
#include "tests/support/sandbox.h"
#include "tests/support/scratch.h"
#include "text/text.h"

namespace fs = std::filesystem;
using test_support::percent_encode;
using test_support::read_text;

namespace {

const std::string& guide() {
    static const std::string text =
        read_text(fs::path(QUORLA_TEST_SOURCE_DIR) / "docs" / "shop-integration.md");
    return text;
}

std::string example(const std::string& name) {
    const std::string& text = guide();
    size_t at = text.find("<!-- example: " + name + " -->");
    if (at == std::string::npos || (at = text.find("```", at)) == std::string::npos) {
        ADD_FAILURE() << "the guide has no example " << name;
        return "";
    }
    at = text.find('\n', at) + 1;
    return text.substr(at, text.find("\n```", at) + 1 - at);
}

// A one-line example without its line end.
std::string line_of(const std::string& name) {
    std::string s = example(name);
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// Lines with their trailing blanks cut, so the guide's alignment of empty values may vary.
std::string trimmed_lines(const std::string& text) {
    std::istringstream in(text);
    std::string out, line;
    while (std::getline(in, line)) out += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    return out;
}

std::string read_out(const startup_file_xml& s) {
    std::string out;
    auto field = [&](const char* name, const std::string& value) {
        char pad[32];
        std::snprintf(pad, sizeof pad, "%-15s = ", name);
        out += pad + value + "\n";
    };
    const std::pair<const char*, const std::u16string*> texts[] = {
        {"module", &s.module},
        {"install_path", &s.install_path},
        {"update_url", &s.update_url},
        {"update_file_url", &s.update_file_url},
        {"todo", &s.todo},
        {"editor_id", &s.editor_id},
        {"config_url", &s.config_url},
        {"storage_url", &s.storage_url},
        {"rsid", &s.rsid},
        {"lsid", &s.lsid}};
    for (const auto& [name, value] : texts) field(name, to_utf8(*value));
    field("count", std::to_string(s.count));
    const std::pair<const char*, const std::u16string*> more[] = {{"user_id", &s.user_id},
                                                                  {"return_url", &s.return_url},
                                                                  {"return2_url", &s.return2_url},
                                                                  {"setkey_url", &s.setkey_url},
                                                                  {"agent", &s.agent},
                                                                  {"agent_type", &s.agent_type},
                                                                  {"app_title", &s.app_title}};
    for (const auto& [name, value] : more) field(name, to_utf8(*value));
    for (const auto& [name, value] : s.internal_calls)
        out += "InternalCall(\"" + to_utf8(name) + "\", \"" + to_utf8(value) + "\")\n";
    return out;
}

// The full example, from the link to the cart and return addresses, with the guide's
// shop.example startup address served here.
TEST(ShopGuide, FullExampleReadsAndComposesAsTheGuideSays) {
    test_support::http_server shop;
    shop.serve_bytes("/editor/startup", example("full-startup"));
    const std::string guide_server = "https%3A%2F%2Fshop.example%2Feditor";
    const std::string here = percent_encode(shop.base_url()) + "%2Feditor";
    const std::string link = replace_all(line_of("full-link"), guide_server, here);

    test_support::set_environment("XDG_DATA_HOME", "/data");
    startup_file_xml startup;
    std::u16string key;
    const std::u16string arguments = from_utf8(link.substr(link.find("://") + 3));
    ASSERT_TRUE(prepare_execution(key, arguments, startup));
    EXPECT_EQ(shop.url(shop.last_request().target),
              replace_all(line_of("full-request"), "https://shop.example", shop.base_url()));
    EXPECT_EQ(trimmed_lines(read_out(startup)),
              trimmed_lines(replace_all(example("full-read"), "<data>", "/data")));

    std::u16string return_address, cart_address;
    ASSERT_TRUE(process_edit_result(return_address, arguments, startup,
                                    from_utf8(example("edit-result")), cart_address));
    EXPECT_EQ(to_utf8(cart_address), replace_all(line_of("cart-address"), guide_server, here));
    EXPECT_EQ(to_utf8(return_address), replace_all(line_of("return-address"), guide_server, here));
}

TEST(ShopGuide, CartAnswersConfirmTheKey) {
    for (const char* name : {"cart-answer", "tiny-cart"}) {
        test_support::http_server shop;
        shop.serve_bytes("/cart", example(name));
        EXPECT_TRUE(deliver_cart_key(shop.url16("/cart"), nullptr)) << name;
        EXPECT_EQ(shop.request_count("/cart"), 1) << name;
    }
}

// Every log line the troubleshooting section explains is one the launcher writes.
TEST(ShopGuide, ExplainedLogLinesExistInTheLauncher) {
    std::string sources;
    for (const char* folder : {"app", "startup", "update", "module", "result", "inet", "log"})
        for (const auto& entry : fs::directory_iterator(fs::path(QUORLA_TEST_SOURCE_DIR) / folder))
            if (entry.path().extension() == ".cpp" &&
                entry.path().filename().string().find("_test") == std::string::npos)
                sources += read_text(entry.path());
    const std::regex quoted("`(\\*(?: |오류|알림|경고)[^`\\n]*)`");
    int checked = 0;
    for (std::sregex_iterator it(guide().begin(), guide().end(), quoted), end; it != end; ++it) {
        const std::string line = (*it)[1].str();
        // The values the launcher fills in are "…" in the guide.
        const std::string fixed = line.substr(0, std::min(line.find(" ("), line.find("…")));
        const std::string as_format =
            std::regex_replace(fixed, std::regex("^(\\* 오류: )\\w+\\(\\)"), "$1%s()");
        EXPECT_TRUE(sources.find(fixed) != std::string::npos ||
                    sources.find(as_format) != std::string::npos)
            << line;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

struct ShopGuideTinyShop : ::testing::Test {
    fs::path dir = test_support::fresh_test_folder("quorla-guide");
    test_support::http_server shop;
    std::string port = std::to_string(shop.port());

    void TearDown() override { fs::remove_all(dir); }
    std::string here(const std::string& text) {
        return replace_all(replace_all(text, "127.0.0.1:8000", "127.0.0.1:" + port), "%3A8000",
                           "%3A" + port);
    }
};

// The static-file shop of the guide's first section, served as files, with the real launcher.
TEST_F(ShopGuideTinyShop, RunsFromLinkToReturnPage) {
    fs::create_directories(dir / "www");
    fs::create_directories(dir / "module");
    fs::create_directories(dir / "bin");
    fs::copy_file(fs::path(std::getenv("QUORLA_BINARY_DIR")) / "lib" / "libquorla_sample_editor.so",
                  dir / "module" / "libquorla_sample_editor.so");
    const auto packed =
        test_support::run_program({test_support::built_program("quorla-pack").string(), "--module",
                                   "libquorla_sample_editor.so", (dir / "module").string(),
                                   (dir / "www" / "update").string()},
                                  {}, 60);
    ASSERT_EQ(packed.exit_code, 0) << packed.output;
    std::ofstream(dir / "www" / "startup.xml") << here(example("tiny-startup"));
    std::ofstream(dir / "www" / "cart.xml") << example("tiny-cart");
    std::ofstream(dir / "www" / "return.html") << "<p>Thank you</p>\n";
    shop.serve_folder("/", dir / "www");
    // The customer's default browser records what it is asked to open.
    std::ofstream(dir / "bin" / "xdg-open")
        << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << (dir / "opened.txt").string() << "'\n";
    fs::permissions(dir / "bin" / "xdg-open", fs::perms::owner_all);

    const auto result =
        test_support::run_launcher(dir / "data", here(line_of("tiny-link")),
                                   {{"PATH", (dir / "bin").string() + ":" + std::getenv("PATH")}});
    ASSERT_FALSE(result.timed_out) << result.output;
    const std::string log = test_support::launcher_log(dir / "data");
    EXPECT_EQ(log.find("오류"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(dir / "data" / "TinyShop" / "editor" / "libquorla_sample_editor.so"));
    EXPECT_EQ(shop.request_count("/cart.xml"), 1);
    for (int i = 0; i < 200 && read_text(dir / "opened.txt").empty(); ++i) usleep(20000);
    EXPECT_EQ(read_text(dir / "opened.txt"), here(example("tiny-return")));
}

// The wrong-port excerpt of the troubleshooting section.
TEST_F(ShopGuideTinyShop, WrongPortLogsWhatTheGuideShows) {
    port = test_support::closed_port_url().substr(std::string("http://127.0.0.1:").size());
    test_support::run_launcher(dir / "data", here(line_of("tiny-link")));
    const std::string log = test_support::launcher_log(dir / "data");
    std::istringstream excerpt(here(example("log-wrong-port")));
    for (std::string line; std::getline(excerpt, line);) {
        if (line.rfind('*', 0) != 0) continue;
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

}  // namespace
