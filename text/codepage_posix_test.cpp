// The POSIX stand-in for the system code page: the locale's character set.
#include <gtest/gtest.h>

#include "tests/support/sandbox.h"
#include "text/text.h"

namespace {

TEST(CodePagePosix, CLocaleCountsAsUtf8) {
    test_support::set_environment("LC_ALL", "C");
    set_system_code_page("");
    EXPECT_TRUE(system_code_page_is_utf8());
    EXPECT_EQ(to_narrow_acp(u"\ud55c"), "\xED\x95\x9C");
    test_support::unset_environment("LC_ALL");
    set_system_code_page("");
}

}  // namespace
