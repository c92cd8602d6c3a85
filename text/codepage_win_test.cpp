// The system code page on Windows: CP_ACP, and no best-fit look-alikes.
#include <gtest/gtest.h>
#include <windows.h>

#include "text/text.h"

namespace {

struct CodePageWin : ::testing::Test {
    void TearDown() override { set_system_code_page(""); }
};

TEST_F(CodePageWin, UnpinnedIsTheAnsiCodePageAndEveryDefinedByteRoundTrips) {
    set_system_code_page("");
    const UINT acp = GetACP();
    EXPECT_EQ(system_code_page(),
              acp == CP_UTF8 ? std::string("UTF-8") : "CP" + std::to_string(acp));
    CPINFO info{};
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (info.MaxCharSize != 1) GTEST_SKIP() << "code page " << acp << " has multi-byte characters";
    for (int b = 0x20; b < 0x100; ++b) {
        const std::string byte(1, static_cast<char>(b));
        wchar_t expected = 0;
        if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, byte.data(), 1, &expected, 1) != 1)
            continue;
        const std::u16string wide = to_wide_acp(byte);
        EXPECT_EQ(wide, std::u16string(1, static_cast<char16_t>(expected))) << b;
        EXPECT_EQ(to_narrow_acp(wide), byte) << b;
    }
}

TEST_F(CodePageWin, CharactersTheCodePageLacksBecomeQuestionMarksNotLookAlikes) {
    set_system_code_page("WINDOWS-1252");
    const struct {
        std::u16string text;
        const char* expected;
    } cases[] = {
        {u"a\uFF3Cb", "a?b"},     // full-width backslash, not a path separator
        {u"\uFF0E\uFF0E", "??"},  // full-width full stops, not ".."
        {u"\u0100", "?"},         // A with macron, not "A"
        {u"\u00e9\u0100\u20ac", "\xE9?\x80"},
    };
    for (const auto& c : cases) EXPECT_EQ(to_narrow_acp(c.text), c.expected);
}

}  // namespace
