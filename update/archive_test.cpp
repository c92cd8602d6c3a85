#include "update/archive.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#include "log/system_error.h"
#include "tests/support/archives.h"
#include "tests/support/sandbox.h"
#include "update/files.h"
#include "update/update_test_util.h"

namespace fs = std::filesystem;

namespace {
zip_entry_spec file_entry(const std::string& name, const std::string& data) {
    zip_entry_spec e;
    e.name = name;
    e.data = data;
    return e;
}
zip_entry_spec folder_entry(const std::string& name) {
    zip_entry_spec e;
    e.name = name;
    e.folder = true;
    e.deflate = false;
    return e;
}
// Every regular file under a folder, as relative paths.
std::vector<std::string> files_under(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), folder).string());
    std::sort(out.begin(), out.end());
    return out;
}
struct code_page_guard {
    explicit code_page_guard(const std::string& cp) { set_system_code_page(cp); }
    ~code_page_guard() { set_system_code_page(""); }
};
}  // namespace

class zip_test : public update_files_test {
  protected:
    // Builds an archive of the entries and extracts it into w/dest with no filter.
    int extract(const std::vector<zip_entry_spec>& entries, const std::u16string& filter = u"",
                const std::u16string& new_name = u"") {
        EXPECT_TRUE(make_zip(at("a.zip"), entries));
        return extract_zip(w("a.zip"), w("dest"), filter, new_name);
    }
    std::string dest(const std::string& rel = "") const { return at("dest/" + rel); }
};

TEST_F(zip_test, NameRulesConfineEntriesUnderTheBaseFolder) {
    const struct {
        const char* stored;
        const char* unpacked;
    } rows[] = {
        {"dir/../x.dll", "x.dll"},
        {"dir\\..\\x.dll", "x.dll"},
        {"a\\../x.dll", "x.dll"},
        {"a/..\\x.dll", "x.dll"},
        {"C:\\x\\y.dll", "x/y.dll"},
        {"C:/x/y.dll", "x/y.dll"},
        {"/abs/z.dll", "abs/z.dll"},
        {"\\abs\\z.dll", "abs/z.dll"},
        {"\\\\server\\share\\s.dll", "server/share/s.dll"},
        {"x\\..\\C:\\q.dll", "q.dll"},
        {"sub\\inner.dll", "sub/inner.dll"},
        {"plain.dll", "plain.dll"},
    };
    for (const auto& r : rows) {
        fs::remove_all(dest());
        EXPECT_EQ(extract({file_entry(r.stored, "data")}), 1) << r.stored;
        EXPECT_EQ(files_under(dest()), std::vector<std::string>{r.unpacked}) << r.stored;
        EXPECT_EQ(read_file_bytes(dest(r.unpacked)), "data") << r.stored;
    }
    // Nothing landed beside the destination.
    EXPECT_EQ(files_under(at("")), (std::vector<std::string>{"a.zip", "dest/plain.dll"}));
}

TEST_F(zip_test, NamesStillLeavingTheDestinationAreRefused) {
    const char* rows[] = {"dir/../../x.dll", "../x.dll",    "..\\x.dll",
                          "a/../..\\x.dll",  "C:..\\x.dll", "..",
                          "a/.../x.dll",     ". .\\x.dll",  "sub/con.dll"};
    for (const char* stored : rows) {
        fs::remove_all(dest());
        fs::remove(log_path);
        EXPECT_EQ(extract({file_entry("first.dll", "1"), file_entry(stored, "evil")}), 0) << stored;
        EXPECT_EQ(last_system_error(), uint32_t(EACCES));
        EXPECT_TRUE(logged(u"Extract Zip failed to UnzipItem\n")) << stored;
        EXPECT_TRUE(logged(u"Extract Zip refused entry outside the destination (" +
                           from_utf8(stored) + u")"))
            << narrow(log_text());
        EXPECT_TRUE(fs::exists(dest("first.dll")));  // entries before it stay
    }
    EXPECT_EQ(files_under(at("")), (std::vector<std::string>{"a.zip", "dest/first.dll"}));
}

TEST_F(zip_test, CodePageAndUtf8NamesAreDecoded) {
    code_page_guard cp("CP949");
    EXPECT_EQ(extract({file_entry("\xC7\xD1\xB1\xDB.dll", "cp949"),             // 한글 in CP949
                       file_entry("\xED\x95\x9C\xEA\xB8\x80_u.dll", "utf8")}),  // 한글 in UTF-8
              1);
    EXPECT_EQ(read_file_bytes(dest("한글.dll")), "cp949");
    EXPECT_EQ(read_file_bytes(dest("한글_u.dll")), "utf8");
}

TEST_F(zip_test, Windows1252NameIsDecodedWithThatCodePage) {
    code_page_guard cp("WINDOWS-1252");
    EXPECT_EQ(extract({file_entry("caf\xE9.dll", "x")}), 1);
    EXPECT_TRUE(fs::exists(dest("café.dll")));
}

TEST_F(zip_test, EmptyArchiveUnpacksNothingAndSucceeds) {
    EXPECT_EQ(extract({}), 1);
    EXPECT_TRUE(fs::is_directory(dest()));
    EXPECT_TRUE(files_under(dest()).empty());
    EXPECT_TRUE(log_empty());
}

TEST_F(zip_test, FolderOnlyEntriesProduceEmptyFolders) {
    EXPECT_EQ(extract({folder_entry("empty/"), folder_entry("deep/er/"), folder_entry("win\\f\\")}),
              1);
    EXPECT_TRUE(fs::is_directory(dest("empty")));
    EXPECT_TRUE(fs::is_directory(dest("deep/er")));
    EXPECT_TRUE(fs::is_directory(dest("win/f")));
}

TEST_F(zip_test, FilesInMissingFoldersGetEveryLevel) {
    EXPECT_EQ(extract({file_entry("a/b/c/file.dll", "deep")}), 1);
    EXPECT_EQ(read_file_bytes(dest("a/b/c/file.dll")), "deep");
}

TEST_F(zip_test, FilterPicksOneEntryIgnoringCaseUnderNewName) {
    const std::vector<zip_entry_spec> entries = {file_entry("a.dll", "A"),
                                                 file_entry("b.dll", "B")};
    EXPECT_EQ(extract(entries, u"B.DLL", u"renamed.dll"), 1);
    EXPECT_EQ(files_under(dest()), std::vector<std::string>{"renamed.dll"});
    EXPECT_EQ(read_file_bytes(dest("renamed.dll")), "B");
    fs::remove_all(dest());
    EXPECT_EQ(extract(entries, u"B.DLL"), 1);  // no new name: the filter is the name
    EXPECT_EQ(files_under(dest()), std::vector<std::string>{"B.DLL"});
}

TEST_F(zip_test, ExistingFilesAreReplacedEvenWhenReadOnly) {
    fs::create_directories(dest());
    write_file_bytes(dest("m.dll"), "old content that is longer");
    chmod(dest("m.dll").c_str(), 0444);
    EXPECT_EQ(extract({file_entry("m.dll", "new")}), 1);
    EXPECT_EQ(read_file_bytes(dest("m.dll")), "new");
}

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

TEST_F(zip_test, LargeEntryPassesThroughTheBufferIntact) {
    std::string big(8192000 + 12345, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 2654435761u) >> 13);
    EXPECT_EQ(extract({file_entry("big.bin", big), file_entry("small.bin", "s")}), 1);
    EXPECT_TRUE(read_file_bytes(dest("big.bin")) == big);
    EXPECT_EQ(read_file_bytes(dest("small.bin")), "s");
}

TEST_F(zip_test, DestinationWithoutTrailingSeparatorAndMissingLevels) {
    ASSERT_TRUE(make_zip(at("a.zip"), {file_entry("f.dll", "x")}));
    EXPECT_EQ(extract_zip(w("a.zip"), w("new/levels/here"), u"", u""), 1);
    EXPECT_TRUE(fs::exists(at("new/levels/here/f.dll")));
}

TEST_F(zip_test, MissingArchiveFails) {
    EXPECT_EQ(extract_zip(w("none.zip"), w("dest"), u"", u""), 0);
    EXPECT_TRUE(logged(u"Extract Zip failed to File not found\n"));
    EXPECT_FALSE(fs::exists(dest()));
}

TEST_F(zip_test, UncreatableDestinationFails) {
    ASSERT_TRUE(make_zip(at("a.zip"), {file_entry("f.dll", "x")}));
    write_file_bytes(at("blocker"), "file");
    EXPECT_EQ(extract_zip(w("a.zip"), w("blocker/dest"), u"", u""), 0);
    EXPECT_TRUE(logged(u"Extract Zip failed to SHCreateDirectoryExA\n")) << narrow(log_text());
}

TEST_F(zip_test, NonZipFileFailsToOpen) {
    write_file_bytes(at("junk.zip"), std::string(3000, 'J'));
    write_file_bytes(at("zero.zip"), "");
    EXPECT_EQ(extract_zip(w("junk.zip"), w("dest"), u"", u""), 0);
    EXPECT_EQ(extract_zip(w("zero.zip"), w("dest"), u"", u""), 0);
    EXPECT_TRUE(logged(u"Extract Zip failed to OpenZip\nExtract Zip failed to OpenZip\n"))
        << narrow(log_text());
}

TEST_F(zip_test, DamagedEntryFailsKeepsEarlierEntriesAndNoHalfFile) {
    zip_entry_spec bad = file_entry("bad.dll", "BADBADBADBADBADBADBAD");
    bad.deflate = false;
    ASSERT_TRUE(make_zip(at("a.zip"), {file_entry("good.dll", "fine"), bad}));
    std::string bytes = read_file_bytes(at("a.zip"));
    const size_t data = bytes.find("BADBADBAD");
    ASSERT_NE(data, std::string::npos);
    bytes[data] = 'X';
    write_file_bytes(at("a.zip"), bytes);
    EXPECT_EQ(extract_zip(w("a.zip"), w("dest"), u"", u""), 0);
    EXPECT_TRUE(logged(u"Extract Zip failed to UnzipItem\n"));
    EXPECT_EQ(files_under(dest()), std::vector<std::string>{"good.dll"});
}

TEST_F(zip_test, UnreadableEntryRecordFailsAfterEarlierEntries) {
    ASSERT_TRUE(make_zip(at("a.zip"), {file_entry("one.dll", "1"), file_entry("two.dll", "2")}));
    std::string bytes = read_file_bytes(at("a.zip"));
    const size_t first = bytes.find("PK\x01\x02");
    const size_t second = bytes.find("PK\x01\x02", first + 4);
    ASSERT_NE(second, std::string::npos);
    bytes[second + 3] = 0x07;
    write_file_bytes(at("a.zip"), bytes);
    EXPECT_EQ(extract_zip(w("a.zip"), w("dest"), u"", u""), 0);
    EXPECT_TRUE(logged(u"Extract Zip failed to GetZipItem\n")) << narrow(log_text());
    EXPECT_EQ(files_under(dest()), std::vector<std::string>{"one.dll"});
}

TEST_F(zip_test, FileEntryBlockedByFolderFails) {
    fs::create_directories(dest("taken"));
    EXPECT_EQ(extract({file_entry("taken", "x")}), 0);
    EXPECT_TRUE(logged(u"Extract Zip failed to UnzipItem\n"));
}

TEST(zip_names, RulesAppliedInOrderUntilNoneApplies) {
    const struct {
        const char16_t* in;
        const char16_t* out;
    } rows[] = {
        {u"", u""},
        {u"C:", u""},
        {u"C:\\/\\x", u"x"},
        {u"a/b/../c", u"c"},  // everything up to the first step goes
        {u"dir/../../x.dll", u"../x.dll"},
        {u"x\\..\\y/../z", u"z"},
        {u"ab:c", u"ab:c"},
        {u"..", u".."},
    };
    for (const auto& r : rows) EXPECT_EQ(apply_zip_name_rules(r.in), r.out) << narrow(r.in);
}

TEST(zip_names, DecodingCutsAtZeroAndLimitsLength) {
    EXPECT_EQ(decode_entry_name(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(decode_entry_name(std::string(400, 'n')).size(), kEntryNameLimit);
    std::string emoji;
    for (int i = 0; i < 200; ++i) emoji += "\xF0\x9F\x98\x80";
    const std::u16string d = decode_entry_name(emoji);
    EXPECT_LE(d.size(), kEntryNameLimit);
    EXPECT_FALSE(d.back() >= 0xD800 && d.back() <= 0xDBFF);
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));      // overlong "/"
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(is_valid_utf8("\xE2\x82"));      // cut short
    EXPECT_TRUE(is_valid_utf8("\xE2\x82\xAC"));
}

class cab_test : public update_files_test {
  protected:
    std::string dest(const std::string& rel = "") const { return at("dest/" + rel); }
    void SetUp() override {
        update_files_test::SetUp();
        fs::create_directories(dest());
    }
};

TEST_F(cab_test, PlainAndCompressedCabinetsUnpackEveryEntry) {
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i % 251);
    for (bool compressed : {false, true}) {
        fs::remove_all(dest());
        fs::create_directories(dest());
        ASSERT_TRUE(make_cab(at("m.cab"), {{"a.dll", "AAA"}, {"big.bin", big}}, compressed));
        EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 1) << compressed;
        EXPECT_EQ(read_file_bytes(dest("a.dll")), "AAA");
        EXPECT_TRUE(read_file_bytes(dest("big.bin")) == big);
    }
    EXPECT_TRUE(log_empty());
}

TEST_F(cab_test, FolderPartsGetNoFoldersCreated) {
    ASSERT_TRUE(make_cab(at("m.cab"), {{"sub\\a.dll", "A"}}, true));
    EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 0);
    EXPECT_FALSE(fs::exists(dest("sub")));
    EXPECT_TRUE(logged(u"error : Decompress is failed(" + w("dest/sub/a.dll") + u")\n"))
        << narrow(log_text());
    // With the folder in place the stored name is used as it is.
    fs::create_directories(dest("sub"));
    EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 1);
    EXPECT_EQ(read_file_bytes(dest("sub/a.dll")), "A");
}

TEST_F(cab_test, NamesLeavingTheDestinationAreRefused) {
    const char* rows[] = {"..\\x.dll", "../x.dll", "sub\\..\\..\\x.dll", "\\x.dll", "C:\\x.dll"};
    for (const char* stored : rows) {
        fs::remove(log_path);
        ASSERT_TRUE(make_cab(at("m.cab"), {{"ok.dll", "1"}, {stored, "evil"}}, false));
        EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 0) << stored;
        EXPECT_EQ(last_system_error(), uint32_t(EACCES));
        EXPECT_TRUE(logged(u"error : Decompress is failed(")) << stored;
        EXPECT_TRUE(logged(u"Extract Cab refused entry outside the destination (" +
                           from_utf8(stored) + u")"))
            << narrow(log_text());
    }
    EXPECT_EQ(files_under(at("")), (std::vector<std::string>{"dest/ok.dll", "m.cab"}));
}

TEST_F(cab_test, FilterPicksOneEntryIgnoringCaseUnderNewName) {
    ASSERT_TRUE(make_cab(at("m.cab"), {{"a.dll", "A"}, {"b.dll", "B"}}, true));
    EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"B.DLL", u"renamed.dll"), 1);
    EXPECT_EQ(files_under(dest()), std::vector<std::string>{"renamed.dll"});
    EXPECT_EQ(read_file_bytes(dest("renamed.dll")), "B");
}

TEST_F(cab_test, NamesDecodedByUtf8FlagOrCodePage) {
    code_page_guard cp("CP949");
    ASSERT_TRUE(make_cab(
        at("m.cab"),
        {{"\xC7\xD1\xB1\xDB.dll", "cp"}, {"\xED\x95\x9C\xEA\xB8\x80_u.dll", "u", true}}, false));
    EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 1);
    EXPECT_EQ(read_file_bytes(dest("한글.dll")), "cp");
    EXPECT_EQ(read_file_bytes(dest("한글_u.dll")), "u");
}

TEST_F(cab_test, UnreadableCabinetFailsWithoutLine) {
    write_file_bytes(at("junk.cab"), std::string(500, 'j'));
    EXPECT_EQ(extract_cab(w("junk.cab"), w("dest"), u"", u""), 0);
    EXPECT_EQ(extract_cab(w("missing.cab"), w("dest"), u"", u""), 0);
    EXPECT_TRUE(log_empty());
}

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
