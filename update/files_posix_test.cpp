// File helper behaviour of POSIX paths and file systems: "/" roots, errno codes, symbolic links.
#include <cerrno>

#include "os/system_error.h"
#include "tests/support/archives.h"
#include "update/files.h"
#include "update/update_test_util.h"

namespace fs = std::filesystem;

using create_folder_test = update_files_test;
using delete_tree_test = update_files_test;

TEST_F(create_folder_test, LeadingDoubleSeparatorOfLocalFolderIsCollapsed) {
    // "//tmp/..." names a local folder here, so it is no network path.
    const std::string path = "/" + at("local/one");
    EXPECT_EQ(create_folder(from_utf8(path)), 1);
    EXPECT_TRUE(fs::is_directory(at("local/one")));
}

TEST_F(create_folder_test, NormalisationTable) {
    const struct {
        std::u16string in, out;
    } rows[] = {
        {u"", u""},
        {u"/a/b", u"/a/b/"},
        {u"/a//b/", u"/a/b/"},
        {u"/a///b", u"/a//b/"},  // left to right without overlap
        {u"//quorla-no-such-share/dir", u"//quorla-no-such-share/dir/"},
        {u"//quorla-no-such-share//dir", u"//quorla-no-such-share/dir/"},
        {u"//tmp/dir", u"/tmp/dir/"},  // a local folder, so no network path
        {u"//", u"/"},
    };
    for (const auto& r : rows) EXPECT_EQ(normalise_folder_path(r.in), r.out) << narrow(r.in);
}

TEST_F(create_folder_test, EmptyPathFailsAndLogsErrorCode) {
    EXPECT_EQ(create_folder(u""), 0);
    EXPECT_TRUE(logged(u"폴더를 생성하지 못했습니다.[win32err:2][]")) << narrow(log_text());
    EXPECT_EQ(os::last_system_error(), uint32_t(ENOENT));
}

TEST_F(create_folder_test, FileInTheWayFailsInsteadOfReportingAFolder) {
    write_file_bytes(at("plain"), "x");
    EXPECT_EQ(create_folder(w("plain")), 0);
    EXPECT_TRUE(logged(u"폴더를 생성하지 못했습니다.[win32err:17][" + w("plain/") + u"]"))
        << narrow(log_text());
}

TEST_F(delete_tree_test, LinkToOutsideFolderIsRemovedNotFollowed) {
    fs::create_directories(at("outside"));
    write_file_bytes(at("outside/precious.txt"), "keep");
    fs::create_directories(at("t"));
    fs::create_directory_symlink(at("outside"), at("t/link"));
    EXPECT_EQ(delete_folder_tree(w("t"), true), 1);
    EXPECT_FALSE(fs::exists(at("t")));
    EXPECT_EQ(read_file_bytes(at("outside/precious.txt")), "keep");
}
