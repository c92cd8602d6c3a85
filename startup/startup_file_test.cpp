#include "startup/startup_file.h"

#include <gtest/gtest.h>

#include <string>

#include "inet/session.h"
#include "log/log_writer.h"
#include "tests/support/test_log.h"
#include "os/platform.h"
#include "text/text.h"

namespace {

bool load(startup_file_xml& s, const std::string& bytes) {
    return s.load(bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::string doc(const std::string& children) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><startup>" + children + "</startup>";
}

struct Startup : ::testing::Test {
    test_support::log_capture log;
    startup_file_xml s;
    // The data folder the install folder goes under (the log capture's own on POSIX).
    std::u16string base() { return LocalLowFolder(); }
    // "/" in an expected path as the native separator.
    static std::u16string native(std::u16string path) {
        for (char16_t& c : path)
            if (c == u'/') c = os::path_separator();
        return path;
    }
};

TEST_F(Startup, DecodingByMarkOrDeclaration) {
    set_system_code_page("WINDOWS-1252");
    std::u16string out;
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"UTF-8 mark, no declaration", "\xEF\xBB\xBF<a>\xC3\xA9</a>", u"<a>\u00e9</a>"},
        {"no mark, no declaration: code page", "<a>\xC3\xA9</a>", u"<a>\u00c3\u00a9</a>"},
        {"declaration naming UTF-8", "<?XML version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>",
         u"<?XML version=\"1.0\" encoding=\"UTF-8\"?><a>\u00e9</a>"},
        {"declaration naming another encoding", "<?xml encoding=\"euc-kr\"?><a>\xE9</a>",
         u"<?xml encoding=\"euc-kr\"?><a>\u00e9</a>"},
        {"declaration without its end", "<?xml encoding=\"utf-8\" <a>\xE9</a>",
         u"<?xml encoding=\"utf-8\" <a>\u00e9</a>"},
        {"UTF-16LE mark, whatever the declaration", std::string("\xFF\xFE<\0a\0>\0", 8), u"<a>"},
        {"text ends at its first zero", std::string("ab\0cd", 5), u"ab"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(decode_xml_text(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), out))
            << c.name;
        EXPECT_EQ(out, c.text) << c.name;
    }
    EXPECT_FALSE(decode_xml_text(nullptr, 5, out));
    EXPECT_FALSE(decode_xml_text("x", 0, out));
    EXPECT_FALSE(decode_xml_text("\0x", 2, out)) << "nothing before the first zero";
    // Exactly the three mark bytes: not treated as marked, read in the code page.
    ASSERT_TRUE(decode_xml_text("\xEF\xBB\xBF", 3, out));
    EXPECT_EQ(out, u"\u00ef\u00bb\u00bf");
    EXPECT_FALSE(load(s, "\xEF\xBB\xBF"));
}

TEST_F(Startup, EveryFieldAndTheListInDocumentOrder) {
    ASSERT_TRUE(load(
        s, doc("<module>ed.so</module><install_path>shop/editor</install_path>"
               "<update_url>http://u.example/up</update_url><todo>new_work</todo>"
               "<install_page>http://shop/install</install_page><editor_id>E</editor_id>"
               "<config_url>http://c/cfg</config_url><storage_url>S</storage_url><rsid>R</rsid>"
               "<lsid>L</lsid><count>7</count><return_url>http://r/?a=1&b=2</return_url>"
               "<return2_url>R2</return2_url><setkey_url>K</setkey_url>"
               "<internal_call id=\"x\">1</internal_call><cookie>C</cookie><user_id>U</user_id>"
               "<agent type=\"id\">chrome</agent><title>T</title><app_icon>I</app_icon>"
               "<unknown>ignored</unknown>")));
    EXPECT_EQ(s.module, u"ed.so");
    EXPECT_EQ(s.install_path, base() + native(u"/shop/editor/"));
    EXPECT_EQ(s.update_url, u"http://u.example/up/");
    EXPECT_EQ(s.update_file_url, u"http://u.example/up/");
    EXPECT_EQ(s.todo, u"new_work");
    EXPECT_EQ(s.count, 7);
    EXPECT_EQ(s.return_url, u"http://r/?a=1&b=2") << "a plain ampersand arrives as written";
    EXPECT_EQ(s.app_title, u"T");
    EXPECT_EQ(s.agent, u"chrome");
    EXPECT_EQ(s.agent_type, u"id");
    EXPECT_EQ(s.internal_calls, (std::vector<std::pair<std::u16string, std::u16string>>{
                                    {u"install_page", u"http://shop/install"},
                                    {u"x", u"1"},
                                    {u"agent", u"chrome"},
                                    {u"agent_type", u"id"}}));
    EXPECT_TRUE(log.has_line(u">>"));
}

TEST_F(Startup, DocumentShapeTable) {
    struct Case {
        const char* name;
        std::string bytes;
        bool ok;
    } cases[] = {
        {"capitalised root", "<Startup><todo>x</todo></Startup>", false},
        {"self-closing root", "<startup/>", false},
        {"mixed-case children", doc("<TODO>x</TODO><Editor_ID>e</Editor_ID>"), true},
        {"empty update_url", doc("<update_url></update_url>"), false},
        {"update_url without scheme", doc("<update_url>host/path</update_url>"), false},
        {"root nested deeper", "<x><startup><todo>a</todo></startup></x>", true},
        {"no startup at all", "<other/>", false},
        {"install_path with a parent step", doc("<install_path>shop/../../etc</install_path>"),
         false},
        {"module leading out", doc("<module>../x.so</module>"), false},
        {"module leading out through a folded step", doc("<module>...\\x.so</module>"), false},
        {"install_path on a drive", doc("<install_path>C:\\shop</install_path>"), false},
        {"absolute module", doc("<module>/usr/lib/x.so</module>"), false},
        {"module in a subfolder", doc("<module>bin/x.so</module>"), true},
        {"ill-formed but closed", "<startup><todo>a</todo><broken</startup>", true},
        // The install folder must lie below the data folder, never be the data folder itself.
        {"empty install_path", doc("<install_path></install_path>"), false},
        {"install_path .", doc("<install_path>.</install_path>"), false},
        {"install_path /", doc("<install_path>/</install_path>"), false},
        {"install_path ./. \\", doc("<install_path>./. \\</install_path>"), false},
        // A value longer than 64 Ki characters only wants memory (an address is copied over and
        // over).
        {"return_url of 65536 characters",
         doc("<return_url>" + std::string(65536, 'r') + "</return_url>"), true},
        {"return_url of 65537 characters",
         doc("<return_url>" + std::string(65537, 'r') + "</return_url>"), false},
        {"internal_call id of 65537 characters",
         doc("<internal_call id=\"" + std::string(65537, 'i') + "\">v</internal_call>"), false},
    };
    for (const auto& c : cases) {
        startup_file_xml one;
        EXPECT_EQ(load(one, c.bytes), c.ok) << c.name;
    }
    EXPECT_TRUE(log.has_line(
        u"*오류 : startup.xml의 값이 너무 깁니다. (element:return_url, length:65537, limit:65536)"))
        << log.lines_utf8();
}

TEST_F(Startup, UpdateUrlSchemeComesFromTheSslAttribute) {
    struct Case {
        std::string element;
        std::u16string update, files;
    } cases[] = {
        {"<update_url ssl=\"LV1\">ftp://h/p</update_url>", u"https://h/p/", u"http://h/p/"},
        {"<update_url ssl=\"lv2\">http://h/p/</update_url>", u"https://h/p/", u"https://h/p/"},
        {"<update_url ssl=\"other\">https://h/p</update_url>", u"http://h/p/", u"http://h/p/"},
        {"<update_url>https://h</update_url>", u"http://h/", u"http://h/"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(load(s, doc(c.element))) << c.element;
        EXPECT_EQ(s.update_url, c.update) << c.element;
        EXPECT_EQ(s.update_file_url, c.files) << c.element;
    }
    // A build that verifies certificates never turns a written https into http.
    struct rule {
        std::u16string text, ssl;
        bool verifying;
        std::u16string update, files;
    } rules[] = {
        {u"https://h/", u"", true, u"https://h/", u"https://h/"},
        {u"HTTPS://h/", u"lv1", true, u"https://h/", u"https://h/"},
        {u"https://h/", u"", false, u"http://h/", u"http://h/"},
        {u"http://h/", u"", true, u"http://h/", u"http://h/"},
        {u"http://h/", u"lv1", true, u"https://h/", u"http://h/"},
    };
    for (const rule& r : rules) {
        std::u16string update, files;
        ASSERT_TRUE(update_addresses(r.text, r.ssl, r.verifying, update, files));
        EXPECT_EQ(update, r.update) << to_utf8(r.text) << " " << r.verifying;
        EXPECT_EQ(files, r.files) << to_utf8(r.text) << " " << r.verifying;
    }
    // The document takes the build's policy.
    const bool saved = inet::verifies_certificates();
    inet::set_verifies_certificates(true);
    const bool loaded = load(s, doc("<update_url>https://h/p</update_url>"));
    inet::set_verifies_certificates(saved);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(s.update_url, u"https://h/p/");
    EXPECT_EQ(s.update_file_url, u"https://h/p/");
}

TEST_F(Startup, InstallPathVariants) {
    struct Case {
        std::string text;
        std::u16string path;
    } cases[] = {
        {"/shop//editor/", u"/shop/editor/"},
        {"shop\\editor", u"/shop/editor/"},
        {"shop///editor", u"/shop//editor/"},  // one pass: three become two
        {"./shop", u"/./shop/"},
        {"\\\\server\\share", u"/server/share/"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(load(s, doc("<install_path>" + c.text + "</install_path>"))) << c.text;
        EXPECT_EQ(s.install_path, base() + native(c.path)) << to_utf8(c.path);
    }
}

TEST_F(Startup, InstallPageNeedsAnAbsoluteWebAddress) {
    struct Case {
        std::string text;
        bool kept;
    } cases[] = {{"http://a", false},    {"http://ab", true},     {"https://", true},
                 {"HTTPS://X", true},    {"HTTP://shop/x", true}, {"ftp://shop/x", false},
                 {"shop/install", false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(load(s, doc("<install_page>" + c.text + "</install_page>")));
        EXPECT_EQ(s.internal_calls.size(), c.kept ? 1u : 0u) << c.text;
    }
}

TEST_F(Startup, CountIsReadLikeStrtolAndClamped) {
    struct Case {
        std::string text;
        int32_t value;
    } cases[] = {{"12abc", 12},
                 {"abc", 0},
                 {"  -5", -5},
                 {"+7", 7},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1},
                 {"", 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(load(s, doc("<count>" + c.text + "</count>")));
        EXPECT_EQ(s.count, c.value) << c.text;
    }
}

TEST_F(Startup, RepeatedElementsOverwriteButListsGrow) {
    ASSERT_TRUE(load(s, doc("<agent type=\"id\">chrome</agent><agent type=\"file\">/b.exe</agent>"
                            "<internal_call>no id</internal_call><todo>a</todo><todo>b</todo>"
                            "<rsid>&amp;entity</rsid>")));
    EXPECT_EQ(s.agent, u"/b.exe");
    EXPECT_EQ(s.agent_type, u"file");
    EXPECT_EQ(s.todo, u"b");
    EXPECT_EQ(s.rsid, u"&amp;entity") << "references are not expanded";
    ASSERT_EQ(s.internal_calls.size(), 5u);
    EXPECT_EQ(s.internal_calls[4], (std::pair<std::u16string, std::u16string>{u"", u"no id"}));
}

TEST_F(Startup, ReloadClearsEverything) {
    ASSERT_TRUE(
        load(s, doc("<todo>a</todo><internal_call id=\"i\">v</internal_call><count>3</count>")));
    ASSERT_TRUE(load(s, doc("<rsid>r</rsid>")));
    EXPECT_TRUE(s.todo.empty());
    EXPECT_TRUE(s.internal_calls.empty());
    EXPECT_EQ(s.count, 0);
}

}  // namespace

namespace {

TEST_F(Startup, FailedDocumentLeavesNoFieldBehind) {
    // The fields before the failing element would otherwise drive an update of their own.
    const std::string before =
        "<install_path>shop/editor</install_path><update_url>http://shop/u</update_url>"
        "<todo>new_work</todo><internal_call id=\"i\">v</internal_call><count>2</count>";
    for (const std::string failing :
         {"<update_url>no scheme</update_url>", "<module>../outside.so</module>",
          "<install_path>../outside</install_path>"}) {
        startup_file_xml s;
        EXPECT_FALSE(load(s, doc(before + failing))) << failing;
        EXPECT_TRUE(s.install_path.empty() && s.update_url.empty() && s.update_file_url.empty() &&
                    s.todo.empty())
            << failing;
        EXPECT_TRUE(s.internal_calls.empty()) << failing;
        EXPECT_EQ(s.count, 0) << failing;
    }
}

}  // namespace
