#include "text/confine.h"

#include <gtest/gtest.h>

#include "text/text.h"

namespace {

// Every spelling that leads out of the folder on one of the two systems, and the plain names
// around them that must keep working.
TEST(path_confinement, names_that_leave_the_folder_on_either_system_are_refused) {
    const struct {
        const char16_t* path;
        bool inside;
    } rows[] = {
        {u"", true},
        {u"editor.dll", true},
        {u"bin/editor.so", true},
        {u"bin\\sub\\editor.dll", true},
        {u"./editor.dll", true},
        {u"a..b/.hidden/x.y", true},
        {u"..x/x..", true},  // "x.." reads as "x" on Windows, still inside
        {u"..x/y", true},
        {u"console/conx.txt", true},
        {u"com10.txt", true},
        {u"/etc/passwd", false},
        {u"\\Windows\\system32", false},
        {u"\\\\server\\share\\x", false},
        {u"//server/share/x", false},
        {u"\\\\?\\C:\\x", false},
        {u"\\\\.\\pipe\\x", false},
        {u"C:x.dll", false},
        {u"c:\\x.dll", false},
        {u"..", false},
        {u"../x", false},
        {u"a/../../x", false},
        {u"a\\..\\x", false},
        {u"...", false},
        {u". .", false},
        {u".. ", false},
        {u" ..", false},
        {u"a/. ./b", false},
        {u"a/.../b", false},
        {u"name.", true},
        {u"name ", true},
        {u"dir./x", true},
        {u". /x", true},
        {u"CON", false},
        {u"nul.txt", false},
        {u"sub/Aux", false},
        {u"prn .log", false},
        {u"COM1", false},
        {u"lpt9.dll", false},
        {u"conout$", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(path_stays_inside(row.path), row.inside) << to_utf8(row.path);
}

}  // namespace
