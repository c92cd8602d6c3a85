#include "tests/support/sandbox.h"
#include "text/text.h"

#include <gtest/gtest.h>

namespace {

struct CodePage : ::testing::Test {
    void TearDown() override { set_system_code_page(""); }
};

TEST(Utf8, RoundTripsEveryPlane) {
    const std::u16string text = u"a\u00e9\ud55c\U0001F600z";
    EXPECT_EQ(to_utf8(text), "a\xC3\xA9\xED\x95\x9C\xF0\x9F\x98\x80z");
    EXPECT_EQ(from_utf8(to_utf8(text)), text);
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacter) {
    struct Case {
        const char* bytes;
        std::u16string expected;
    } cases[] = {
        {"a\xC0\x80z", u"a\uFFFD\uFFFDz"},      // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"ab\xE2\x82", u"ab\uFFFD\uFFFD"},  // truncated at the end
    };
    for (const auto& c : cases) EXPECT_EQ(from_utf8(c.bytes), c.expected) << c.bytes;
}

TEST(Utf8, LoneSurrogateBecomesReplacementInUtf8) {
    EXPECT_EQ(to_utf8(std::u16string(u"x") + char16_t(0xD800) + u"y"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(to_utf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(Utf8, ConversionsStopAtFirstZero) {
    EXPECT_EQ(from_utf8(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(to_utf8(std::u16string(u"ab\0cd", 5)), "ab");
}

TEST_F(CodePage, Windows1252MapsBothWaysAndUnrepresentableBecomesQuestionMark) {
    set_system_code_page("WINDOWS-1252");
    EXPECT_FALSE(system_code_page_is_utf8());
    EXPECT_EQ(to_narrow_acp(u"\u00e9\u20ac"), "\xE9\x80");
    EXPECT_EQ(to_wide_acp("\xE9\x80"), u"\u00e9\u20ac");
    EXPECT_EQ(to_narrow_acp(u"a\ud55cb"), "a?b");
    EXPECT_EQ(to_narrow_acp(u"\U0001F600"), "?");
}

TEST_F(CodePage, Cp949KoreanIsTwoBytes) {
    set_system_code_page("CP949");
    EXPECT_EQ(to_narrow_acp(u"\ud55c"), "\xC7\xD1");
    EXPECT_EQ(to_wide_acp("\xC7\xD1!"), u"\ud55c!");
}

TEST_F(CodePage, UndefinedByteBecomesReplacementNotTruncation) {
    set_system_code_page("CP949");
    EXPECT_EQ(to_wide_acp("a\xFF" "b"), u"a\uFFFDb");
}

TEST_F(CodePage, CLocaleCountsAsUtf8) {
    test_support::set_environment("LC_ALL", "C");
    set_system_code_page("");
    EXPECT_TRUE(system_code_page_is_utf8());
    EXPECT_EQ(to_narrow_acp(u"\ud55c"), "\xED\x95\x9C");
    test_support::unset_environment("LC_ALL");
}

TEST_F(CodePage, UnknownCharsetFallsBackToUtf8) {
    set_system_code_page("NO-SUCH-CHARSET");
    EXPECT_TRUE(system_code_page_is_utf8());
}

TEST(Ascii, CaseInsensitiveHelpersTouchOnlyAscii) {
    EXPECT_TRUE(equals_nocase(u"ChRoMe", u"chrome"));
    EXPECT_FALSE(equals_nocase(u"\u00C9", u"\u00E9"));
    EXPECT_TRUE(ends_with_nocase(u"x.EXE", u".exe"));
    EXPECT_FALSE(ends_with_nocase(u"exe", u".exe"));
    EXPECT_TRUE(starts_with_nocase(u"HTTPS://a", u"https://"));
    EXPECT_EQ(replace_all(u"a\\\\\\b", u"\\\\", u"\\"), u"a\\\\b");
}

}  // namespace
