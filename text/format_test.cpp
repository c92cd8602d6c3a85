#include "text/format.h"

#include <gtest/gtest.h>

namespace {

TEST(Format, ConversionsUsedByTheLog) {
    const std::u16string path = u"/tmp/\ud55c";
    EXPECT_EQ(format16(u"%02d:%02d:%02d ", 7, 5, 0), u"07:05:00 ");
    EXPECT_EQ(format16(u"(path:%s, 0x%08x)", path, 2u), u"(path:/tmp/\ud55c, 0x00000002)");
    EXPECT_EQ(format16(u"%04X|%x|%X", 0xabu, 255, 255), u"00AB|ff|FF");
    EXPECT_EQ(format16(u"%d%%", -5), u"-5%");
    EXPECT_EQ(format16(u"%s%04d%02d%02d.log", u"/l/", 2026, 12, 9), u"/l/20261209.log");
    EXPECT_EQ(format16(u"[%5d][%-3d][%05d]", 42, 7, -42), u"[   42][7  ][-0042]");
}

TEST(Format, NegativeIntAsHexIsItsTwosComplement) {
    EXPECT_EQ(format16(u"0x%08x", -1), u"0xffffffff");
}

TEST(Format, MismatchYieldsMarkerInsteadOfReadingGarbage) {
    EXPECT_EQ(format16(u"%s and %s", std::u16string(u"one")), u"one and <?>");
    EXPECT_EQ(format16(u"%d", u"text"), u"<?>");
    EXPECT_EQ(format16(u"%s", 5), u"<?>");
    EXPECT_EQ(format16(u"no conversions", 1, 2), u"no conversions");
}

TEST(Format, OddFormatsAreKeptAsWritten) {
    EXPECT_EQ(format16(u"100%"), u"100%");
    EXPECT_EQ(format16(u"%q%5"), u"%q%5");
    EXPECT_EQ(format16(u"%ls", u"w"), u"w");
}

TEST(Format, HugeWidthIsBounded) {
    EXPECT_LE(format16(u"%999999999d", 1).size(), 4096u);
}

}  // namespace
