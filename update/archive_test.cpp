#include "update/archive.h"

#include "os/system_error.h"
#include "tests/support/archives.h"
#include "tests/support/sandbox.h"
#include "update/files.h"
#include "update/archive_test_util.h"
#include "update/update_test_util.h"

namespace fs = std::filesystem;

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
        EXPECT_EQ(os::last_system_error(), os::error_access_denied());
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
    EXPECT_TRUE(fs::exists(utf8_path(dest("café.dll"))));
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
    fs::permissions(dest("m.dll"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_EQ(extract({file_entry("m.dll", "new")}), 1);
    EXPECT_EQ(read_file_bytes(dest("m.dll")), "new");
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
        EXPECT_EQ(os::last_system_error(), os::error_access_denied());
        EXPECT_TRUE(logged(u"error : Decompress is failed(")) << stored;
        EXPECT_TRUE(logged(u"Extract Cab refused entry outside the destination (" +
                           from_utf8(stored) + u")"))
            << narrow(log_text());
    }
    EXPECT_EQ(files_under(at("")), (std::vector<std::string>{"dest/ok.dll", "m.cab"}));
}

// Names the Western code page cannot hold (Korean, Japanese) and one it can, marked as UTF-8
// as quorla-pack marks them (the zip entry's flag, the cabinet's name attribute), unpack under
// those names; a flagged zip name that is no UTF-8 is still read as UTF-8.
TEST_F(cab_test, NamesMarkedAsUtf8UnpackUnderThoseNames) {
    code_page_guard cp("WINDOWS-1252");
    struct row {
        bool cab;
        std::string stored, unpacked;
    } rows[] = {
        {false, "한글모듈.dll", "한글모듈.dll"}, {false, "日本語.dat", "日本語.dat"},
        {false, "modé.dll", "modé.dll"},         {false, "caf\xE9.dll", "caf\uFFFD.dll"},
        {true, "한글모듈.dll", "한글모듈.dll"},  {true, "日本語.dat", "日本語.dat"},
        {true, "modé.dll", "modé.dll"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.stored);
        fs::remove_all(dest());
        fs::create_directories(dest());
        if (r.cab) {
            ASSERT_TRUE(make_cab(at("m.cab"), {{r.stored, "data", true}}, true));
            EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 1) << narrow(log_text());
        } else {
            zip_entry_spec entry = file_entry(r.stored, "data");
            entry.utf8_flag = true;
            ASSERT_TRUE(make_zip(at("m.zip"), {entry}));
            EXPECT_EQ(extract_zip(w("m.zip"), w("dest"), u"", u""), 1) << narrow(log_text());
        }
        EXPECT_EQ(read_file_bytes(dest(r.unpacked)), "data") << narrow(log_text());
    }
}

TEST_F(cab_test, FilterPicksOneEntryIgnoringCaseUnderNewName) {
    ASSERT_TRUE(make_cab(at("m.cab"), {{"a.dll", "A"}, {"b.dll", "B"}}, true));
    EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"B.DLL", u"renamed.dll"), 1);
    EXPECT_EQ(files_under(dest()), std::vector<std::string>{"renamed.dll"});
    EXPECT_EQ(read_file_bytes(dest("renamed.dll")), "B");
}

TEST_F(cab_test, UnreadableCabinetFailsWithoutLine) {
    write_file_bytes(at("junk.cab"), std::string(500, 'j'));
    EXPECT_EQ(extract_cab(w("junk.cab"), w("dest"), u"", u""), 0);
    EXPECT_EQ(extract_cab(w("missing.cab"), w("dest"), u"", u""), 0);
    EXPECT_TRUE(log_empty());
}
