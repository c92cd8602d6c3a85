// Archive behaviour that rests on POSIX file systems: permission bits, links, time zones.
#include <sys/stat.h>
#include <time.h>

#include "tests/support/sandbox.h"
#include "update/archive_test_util.h"

namespace fs = std::filesystem;

TEST_F(zip_test, ExistingLinkIsReplacedNotWrittenThrough) {
    fs::create_directories(dest());
    write_file_bytes(at("outside.txt"), "keep");
    fs::create_symlink(at("outside.txt"), dest("m.dll"));
    EXPECT_EQ(extract({file_entry("m.dll", "new")}), 1);
    EXPECT_EQ(read_file_bytes(at("outside.txt")), "keep");
    EXPECT_FALSE(fs::is_symlink(dest("m.dll")));
    EXPECT_EQ(read_file_bytes(dest("m.dll")), "new");
}

TEST_F(zip_test, AttributesMapToPermissionBits) {
    const mode_t old_mask = umask(022);
    zip_entry_spec ro = file_entry("ro.dll", "r");
    ro.external_attributes = 0x01;
    zip_entry_spec exec = file_entry("tool", "x");
    exec.made_by_unix = true;
    exec.external_attributes = (0100755u << 16);
    zip_entry_spec setuid = file_entry("suid", "s");
    setuid.made_by_unix = true;
    setuid.external_attributes = (0104777u << 16);
    zip_entry_spec unreadable = file_entry("none", "n");
    unreadable.made_by_unix = true;
    unreadable.external_attributes = (0100000u << 16);
    EXPECT_EQ(extract({ro, exec, setuid, unreadable, file_entry("plain", "p")}), 1);
    umask(old_mask);
    struct stat st {};
    const struct {
        const char* name;
        mode_t mode;
    } rows[] = {{"ro.dll", 0444}, {"tool", 0755}, {"suid", 0755}, {"none", 0400}, {"plain", 0644}};
    for (const auto& r : rows) {
        ASSERT_EQ(stat(dest(r.name).c_str(), &st), 0) << r.name;
        EXPECT_EQ(st.st_mode & 07777, r.mode) << r.name;
    }
}

TEST_F(zip_test, TimesFromUtFieldElseDosTimeAsLocalTime) {
    const char* old_tz = getenv("TZ");
    const std::string saved = old_tz ? old_tz : "";
    test_support::set_environment("TZ", "KST-9");
    tzset();
    zip_entry_spec ut = file_entry("ut.dll", "u");
    ut.ut_modified = 1500000000;
    zip_entry_spec dos = file_entry("dos.dll", "d");  // 2020-06-15 12:30:44 local
    EXPECT_EQ(extract({ut, dos}), 1);
    struct stat st {};
    ASSERT_EQ(stat(dest("ut.dll").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
    ASSERT_EQ(stat(dest("dos.dll").c_str(), &st), 0);
    struct tm t {};
    t.tm_year = 120;
    t.tm_mon = 5;
    t.tm_mday = 15;
    t.tm_hour = 3;  // 12:30:44 at UTC+9
    t.tm_min = 30;
    t.tm_sec = 44;
    EXPECT_EQ(st.st_mtime, timegm(&t));
    if (old_tz)
        test_support::set_environment("TZ", saved);
    else
        test_support::unset_environment("TZ");
    tzset();
}

// Names decoded in a code page the test picks (the system decodes them on Windows).
TEST_F(cab_test, NamesDecodedByUtf8FlagOrCodePage) {
    code_page_guard cp("CP949");
    ASSERT_TRUE(make_cab(
        at("m.cab"),
        {{"\xC7\xD1\xB1\xDB.dll", "cp"}, {"\xED\x95\x9C\xEA\xB8\x80_u.dll", "u", true}}, false));
    EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 1);
    EXPECT_EQ(read_file_bytes(dest("한글.dll")), "cp");
    EXPECT_EQ(read_file_bytes(dest("한글_u.dll")), "u");
}

// libmspack checks the data; the cabinet library under wine does not.
TEST_F(cab_test, DamagedDataAbortsWithDecompressLine) {
    std::string data(50000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 7919) >> 5);
    ASSERT_TRUE(make_cab(at("m.cab"), {{"d.bin", data}}, true));
    std::string bytes = read_file_bytes(at("m.cab"));
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] = char(~bytes[i]);
    write_file_bytes(at("m.cab"), bytes);
    EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 0);
    EXPECT_TRUE(logged(u"error : Decompress is failed(" + w("dest/d.bin") + u")\n"))
        << narrow(log_text());
}
