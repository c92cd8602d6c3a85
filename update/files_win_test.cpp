// File helper behaviour of Windows paths and file systems: drive letters, UNC names, system
// error codes, files held open by another program.
#include <windows.h>

#include "os/system_error.h"
#include "tests/support/archives.h"
#include "text/format.h"
#include "update/files.h"
#include "update/update_test_util.h"

namespace fs = std::filesystem;

using create_folder_test = update_files_test;
using file_ops_test = update_files_test;

TEST_F(create_folder_test, NormalisationTable) {
    const struct {
        std::u16string in, out;
    } rows[] = {
        {u"", u""},
        {u"C:\\a\\b", u"C:\\a\\b\\"},
        {u"C:\\a\\\\b\\", u"C:\\a\\b\\"},
        {u"C:\\a\\\\\\b", u"C:\\a\\\\b\\"},  // left to right without overlap
        {u"\\\\server\\share\\dir", u"\\\\server\\share\\dir\\"},  // a network path keeps its two
        {u"\\\\server\\share\\\\dir", u"\\\\server\\share\\dir\\"},
        {u"C:/a/b", u"C:/a/b\\"},  // "/" is no separator of these rules
    };
    for (const auto& r : rows) EXPECT_EQ(normalise_folder_path(r.in), r.out) << narrow(r.in);
}

TEST_F(create_folder_test, FailuresLogTheSystemErrorCode) {
    write_file_bytes(at("plain"), "x");
    const struct {
        std::u16string path;
        uint32_t code;
    } rows[] = {
        {u"", ERROR_PATH_NOT_FOUND},
        {w("plain"), ERROR_ALREADY_EXISTS},  // a file in the way is no folder
        {w("plain\\sub"), ERROR_PATH_NOT_FOUND},
        {u"Q:\\quorla-no-such-drive\\x", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(create_folder(r.path), 0) << narrow(r.path);
        EXPECT_EQ(os::last_system_error(), r.code) << narrow(r.path);
        EXPECT_TRUE(logged(format16(u"폴더를 생성하지 못했습니다.[win32err:%d][%s]\n", static_cast<int>(r.code),
                                    normalise_folder_path(r.path))))
            << narrow(log_text());
    }
}

// A module file in use (held open without delete sharing) cannot be deleted or replaced; the
// helpers say so instead of reporting success.
TEST_F(file_ops_test, FilesInUseStayAndFail) {
    write_file_bytes(at("in_use.dll"), "running");
    write_file_bytes(at("fresh.dll"), "fresh");
    const HANDLE held = CreateFileW(fs::path(at("in_use.dll")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(delete_file_forced(w("in_use.dll")), 0);
    EXPECT_FALSE(delete_file(w("in_use.dll")));
    EXPECT_FALSE(os::copy_file_replace(w("fresh.dll"), w("in_use.dll")));
    EXPECT_FALSE(os::move_file_no_replace(w("in_use.dll"), w("moved.dll")));
    EXPECT_EQ(delete_folder_tree(w(""), true), 0);
    CloseHandle(held);
    EXPECT_EQ(read_file_bytes(at("in_use.dll")), "running");
    EXPECT_TRUE(delete_file(w("in_use.dll")));
}
