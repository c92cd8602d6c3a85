#include "update/files.h"

#include <sys/stat.h>

#include "os/system_error.h"
#include "tests/support/archives.h"
#include "update/update_test_util.h"

namespace fs = std::filesystem;

using create_folder_test = update_files_test;
using delete_tree_test = update_files_test;
using file_ops_test = update_files_test;

TEST_F(create_folder_test, ExistingFolderSucceedsWithoutLogLine) {
    EXPECT_EQ(create_folder(w("")), 1);
    EXPECT_EQ(create_folder(from_utf8(root + "/w")), 1);
    EXPECT_TRUE(log_empty());
}

TEST_F(create_folder_test, MissingParentLevelsAreAllCreated) {
    EXPECT_EQ(create_folder(w("a/b/c/d")), 1);
    EXPECT_TRUE(fs::is_directory(at("a/b/c/d")));
    EXPECT_TRUE(log_empty());
}

TEST_F(create_folder_test, DoubledSeparatorCountsAsOne) {
    EXPECT_EQ(create_folder(w("x//y")), 1);
    EXPECT_TRUE(fs::is_directory(at("x/y")));
}

TEST_F(create_folder_test, FileAsParentLevelFailsWithNormalisedPath) {
    write_file_bytes(at("f"), "x");
    EXPECT_EQ(create_folder(w("f//sub")), 0);
    const uint32_t error = os::last_system_error();  // before anything else may change it
    EXPECT_TRUE(logged(u"[" + w("f/sub/") + u"]")) << narrow(log_text());
    EXPECT_NE(error, 0u);
}

TEST_F(delete_tree_test, MissingPathReturnsZeroSilently) {
    EXPECT_EQ(delete_folder_tree(w("nothing"), true), 0);
    EXPECT_TRUE(log_empty());
}

TEST_F(delete_tree_test, FileIsNotAFolder) {
    write_file_bytes(at("file"), "x");
    EXPECT_EQ(delete_folder_tree(w("file"), true), 0);
    EXPECT_TRUE(fs::exists(at("file")));
}

TEST_F(delete_tree_test, ReadOnlyFilesInNestedTreeAreDeleted) {
    fs::create_directories(at("t/a/b"));
    write_file_bytes(at("t/ro.dll"), "1");
    write_file_bytes(at("t/a/b/ro2.dll"), "2");
    chmod(at("t/ro.dll").c_str(), 0444);
    chmod(at("t/a/b/ro2.dll").c_str(), 0444);
    EXPECT_EQ(delete_folder_tree(w("t"), true), 1);
    EXPECT_FALSE(fs::exists(at("t")));
    EXPECT_TRUE(log_empty());
}

TEST_F(delete_tree_test, RecurseClearLeavesSubfolderAndLogsFinalRemoval) {
    fs::create_directories(at("t/sub"));
    write_file_bytes(at("t/f.txt"), "1");
    write_file_bytes(at("t/sub/kept.txt"), "2");
    EXPECT_EQ(delete_folder_tree(w("t"), false), 1);
    EXPECT_FALSE(fs::exists(at("t/f.txt")));
    EXPECT_TRUE(fs::exists(at("t/sub/kept.txt")));
    EXPECT_TRUE(logged(u"delete fail: " + w("t/") + u"\n")) << narrow(log_text());
}

TEST_F(file_ops_test, DeleteFileForcedTable) {
    fs::create_directories(at("dir"));
    write_file_bytes(at("ro"), "x");
    chmod(at("ro").c_str(), 0444);
    write_file_bytes(at("rw"), "x");
    struct row {
        std::string path;
        int expected;
    } rows[] = {{"", 0}, {"missing", 0}, {"dir", 0}, {"ro", 1}, {"rw", 1}};
    for (const auto& r : rows) {
        const std::u16string p = r.path.empty() ? u"" : w(r.path);
        EXPECT_EQ(delete_file_forced(p) != 0, r.expected != 0) << r.path;
    }
    EXPECT_TRUE(fs::is_directory(at("dir")));
    EXPECT_FALSE(fs::exists(at("ro")));
}

TEST_F(file_ops_test, ExistenceTestsTellFilesFromFolders) {
    fs::create_directories(at("dir"));
    write_file_bytes(at("file"), "x");
    EXPECT_TRUE(folder_exists(w("dir")));
    EXPECT_FALSE(folder_exists(w("file")));
    EXPECT_FALSE(file_exists(w("dir")));
    EXPECT_TRUE(file_exists(w("file")));
    EXPECT_TRUE(path_exists(w("dir")));
    EXPECT_TRUE(path_exists(w("file")));
    EXPECT_FALSE(path_exists(w("none")));
    EXPECT_FALSE(file_exists(u""));
}

TEST_F(file_ops_test, MoveFailsWhenTargetExistsAndKeepsBoth) {
    write_file_bytes(at("a"), "new");
    write_file_bytes(at("b"), "old");
    EXPECT_FALSE(os::move_file_no_replace(w("a"), w("b")));
    EXPECT_EQ(read_file_bytes(at("b")), "old");
    EXPECT_EQ(read_file_bytes(at("a")), "new");
    EXPECT_TRUE(os::move_file_no_replace(w("a"), w("c")));
    EXPECT_EQ(read_file_bytes(at("c")), "new");
    EXPECT_FALSE(fs::exists(at("a")));
}

TEST_F(file_ops_test, MoveIntoMissingFolderFails) {
    write_file_bytes(at("a"), "x");
    EXPECT_FALSE(os::move_file_no_replace(w("a"), w("nofolder/a")));
    EXPECT_TRUE(fs::exists(at("a")));
}

TEST_F(file_ops_test, CopyReplacesTargetAndKeepsSource) {
    write_file_bytes(at("a"), "fresh");
    write_file_bytes(at("b"), "stale and longer");
    EXPECT_TRUE(os::copy_file_replace(w("a"), w("b")));
    EXPECT_EQ(read_file_bytes(at("b")), "fresh");
    EXPECT_EQ(read_file_bytes(at("a")), "fresh");
    EXPECT_FALSE(os::copy_file_replace(w("missing"), w("b")));
}

TEST_F(file_ops_test, DeleteFileRefusesFolders) {
    fs::create_directories(at("dir"));
    write_file_bytes(at("f"), "x");
    EXPECT_FALSE(delete_file(w("dir")));
    EXPECT_FALSE(delete_file(w("missing")));
    EXPECT_TRUE(delete_file(w("f")));
    EXPECT_FALSE(fs::exists(at("f")));
}
