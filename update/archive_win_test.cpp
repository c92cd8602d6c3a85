// Archive behaviour that rests on Windows file systems: the read-only attribute, file times
// through SetFileTime, files held open by another program.
#include <windows.h>

#include "update/archive_test_util.h"

namespace {

// The file's times and attributes as the system reports them.
WIN32_FILE_ATTRIBUTE_DATA attributes_of(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(std::filesystem::path(path).c_str(), GetFileExInfoStandard, &data)) << path;
    return data;
}

int64_t unix_seconds(const FILETIME& t) {
    const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

}  // namespace

// The DOS read-only bit becomes the read-only attribute; Unix permission bits have no
// Windows counterpart and leave a file writable.
TEST_F(zip_test, ReadOnlyAttributeFromTheArchive) {
    zip_entry_spec ro = file_entry("ro.dll", "r");
    ro.external_attributes = 0x01;
    zip_entry_spec unix_ro = file_entry("tool", "x");
    unix_ro.made_by_unix = true;
    unix_ro.external_attributes = (0100444u << 16);
    EXPECT_EQ(extract({ro, unix_ro, file_entry("plain", "p")}), 1);
    const struct {
        const char* name;
        bool read_only;
        const char* data;
    } rows[] = {{"ro.dll", true, "r"}, {"tool", true, "x"}, {"plain", false, "p"}};
    for (const auto& r : rows) {
        EXPECT_EQ((attributes_of(dest(r.name)).dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0, r.read_only)
            << r.name;
        EXPECT_EQ(read_file_bytes(dest(r.name)), r.data) << r.name;
    }
}

// "UT" times are UTC; a DOS time stamp is the local time of this system.
TEST_F(zip_test, TimesFromUtFieldElseDosTimeAsLocalTime) {
    zip_entry_spec ut = file_entry("ut.dll", "u");
    ut.ut_modified = 1500000000;
    zip_entry_spec dos = file_entry("dos.dll", "d");  // 2020-06-15 12:30:44 local
    EXPECT_EQ(extract({ut, dos}), 1);
    EXPECT_EQ(unix_seconds(attributes_of(dest("ut.dll")).ftLastWriteTime), 1500000000);
    SYSTEMTIME utc{}, local{};
    const FILETIME written = attributes_of(dest("dos.dll")).ftLastWriteTime;
    ASSERT_TRUE(FileTimeToSystemTime(&written, &utc));
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
    EXPECT_EQ(std::vector<int>({local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond}),
              std::vector<int>({2020, 6, 15, 12, 30, 44}));
}

// A module file another program holds open without sharing deletion cannot be replaced: the
// extraction fails instead of reporting a file it did not write.
TEST_F(zip_test, FileInUseFailsTheExtraction) {
    std::filesystem::create_directories(dest());
    write_file_bytes(dest("m.dll"), "old");
    const HANDLE held = CreateFileW(std::filesystem::path(dest("m.dll")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(extract({file_entry("m.dll", "new")}), 0);
    CloseHandle(held);
    EXPECT_EQ(read_file_bytes(dest("m.dll")), "old");
}

// The system decodes cabinet names in the ANSI code page. (Names flagged UTF-8 are left out:
// wine's cabinet library ignores the flag.)
TEST_F(cab_test, NamesDecodedInTheAnsiCodePage) {
    const std::string ansi = "caf\xE9.dll";
    wchar_t decoded[64] = {};
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), decoded, 63);
    ASSERT_GT(n, 0);
    ASSERT_TRUE(make_cab(at("m.cab"), {{ansi, "cp"}}, false));
    EXPECT_EQ(extract_cab(w("m.cab"), w("dest"), u"", u""), 1);
    EXPECT_EQ(read_file_bytes(dest(to_utf8(std::u16string(reinterpret_cast<const char16_t*>(decoded), n)))), "cp");
}
