#include "text/url.h"

#include <gtest/gtest.h>

#include "text/text.h"

namespace {

struct Url : ::testing::Test {
    void SetUp() override { set_system_code_page("UTF-8"); }
    void TearDown() override { set_system_code_page(""); }
};

TEST_F(Url, EncodeModesFromTheCodePageAndUtf8) {
    EXPECT_EQ(url_encode(u"a b/c?d=\u00e9", 2), u"a%20b/c?d=%C3%A9");
    set_system_code_page("WINDOWS-1252");
    EXPECT_EQ(url_encode(u"a b/c?d=\u00e9", 1), u"a%20b/c?d=%E9");
    set_system_code_page("CP949");
    EXPECT_EQ(url_encode(u"\ud55c", 1), u"%C7%D1");
    EXPECT_EQ(url_encode(u"\ud55c", 2), u"%ED%95%9C");
}

TEST_F(Url, OtherModesReturnTheTextUnchanged) {
    for (int mode : {0, 3, -1}) EXPECT_EQ(url_encode(u"a b%", mode), u"a b%");
}

TEST_F(Url, EncodeKeepsAddressPunctuationAndEncodesTheRest) {
    EXPECT_EQ(url_encode(u";/?:@=&-_.+!*(),#~", 2), u";/?:@=&-_.+!*(),#~");
    EXPECT_EQ(url_encode(u"'$%", 2), u"%27%24%25");
    EXPECT_EQ(url_encode(u"%20", 2), u"%2520");
    EXPECT_EQ(url_encode(u"[]\"<>", 2), u"%5B%5D%22%3C%3E");
}

TEST_F(Url, SurrogateHalvesAreEncodedSeparately) {
    EXPECT_EQ(url_encode(u"\U0001F600", 2), u"%EF%BF%BD%EF%BF%BD");
}

TEST_F(Url, ComponentEncoding) {
    std::u16string out = u"pre:";
    EXPECT_TRUE(url_encode_component(out, u"a b&c"));
    EXPECT_EQ(out, u"pre:a%20b%26c");
    std::u16string kept;
    url_encode_component(kept, u"(x)*~");
    EXPECT_EQ(kept, u"(x)*~");
    std::u16string punct;
    url_encode_component(punct, u"!'/:?=");
    EXPECT_EQ(punct, u"%21%27%2F%3A%3F%3D");
    std::u16string empty = u"keep";
    url_encode_component(empty, u"");
    EXPECT_EQ(empty, u"keep");
}

TEST_F(Url, DecodeTable) {
    struct Case {
        std::u16string in, out;
    } cases[] = {
        {u"a%20b", u"a b"},
        {u"100%", u"100%"},
        {u"%zz", u"%zz"},
        {u"a+b", u"a+b"},
        {u"%4", u"%4"},
        {u"%41%4", u"A%4"},
        {u"%ED%95%9C", u"\ud55c"},
        {u"%ed%95%9c", u"\ud55c"},
        {u"\ud55c no escapes", u"\ud55c no escapes"},
        {u"http%3A%2F%2F127.0.0.1%3A8080%2Fs", u"http://127.0.0.1:8080/s"},
    };
    for (const auto& c : cases) EXPECT_EQ(url_decode(c.in), c.out) << to_utf8(c.in);
}

TEST_F(Url, DecodeOfNonUtf8TextKeepsEscapesAsSingleUnits) {
    // The text itself is not UTF-8 once converted (code page 1252 gives 0xE9), so escapes
    // decode to single code units.
    set_system_code_page("WINDOWS-1252");
    EXPECT_EQ(url_decode(u"\u00e9%41%E9"), u"\u00e9A\u00e9");
}

TEST_F(Url, LooksLikeUtf8Boundaries) {
    struct Case {
        std::string bytes;
        bool expected;
    } cases[] = {
        {"", true},
        {"plain", true},
        {"\xC0\x80", false},
        {"\xED\xA0\x80", false},
        {"\xF4\x8F\xBF\xBF", true},
        {"\xF4\x90\x80\x80", false},
        {"\xE2\x82", false},
        {"\xEF\xBB\xBF\xFF", true},
        {"\xC3\xA9", true},
        {"\xF5\x80\x80\x80", false},
        {std::string("ok\0\xFF", 4), true},
    };
    for (const auto& c : cases) EXPECT_EQ(looks_like_utf8(c.bytes), c.expected);
}

TEST_F(Url, LongTextIsUtf8OnlyWhenAllAscii) {
    std::string ascii(2048, 'a');
    EXPECT_TRUE(looks_like_utf8(ascii));
    std::string valid_utf8 = std::string(2046, 'a') + "\xC3\xA9";
    EXPECT_FALSE(looks_like_utf8(valid_utf8));
    std::string short_utf8 = std::string(2045, 'a') + "\xC3\xA9";
    EXPECT_TRUE(looks_like_utf8(short_utf8));
}

}  // namespace
