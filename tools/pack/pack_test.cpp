// quorla-pack end to end: the folder it packs loads back through the launcher's manifest
// loader into the same entries, digests and module name, and its archives hold the files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "log/log_writer.h"
#include "tests/support/archives.h"
#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "os/posix_path.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/manifest.h"
#include "update/md5.h"
#include "update/scramble.h"

namespace fs = std::filesystem;

namespace {

class pack_test : public ::testing::Test {
  protected:
    void SetUp() override {
        root = test_support::make_temporary_folder("quorla-pack").string();
        test_support::set_environment("XDG_DATA_HOME", root);
        LogWriter::Instance().SetPath(os::from_native_path(root + "/test.log"));
        src = root + "/src";
        out = root + "/out";
        fs::create_directories(src);
        const char* bin = std::getenv("QUORLA_BINARY_DIR");
        ASSERT_NE(bin, nullptr) << "run through ctest";
        tool = std::string(bin) + "/bin/quorla-pack";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void put(const std::string& relative, const std::string& bytes) {
        fs::create_directories(fs::path(src + "/" + relative).parent_path());
        ASSERT_TRUE(write_file_bytes(src + "/" + relative, bytes));
    }
    // Runs the tool; its exit code, with standard output and error in `said`.
    int pack(const std::string& args) {
        const std::string cmd = tool + " " + args + " >" + root + "/said 2>&1";
        const int status = std::system(cmd.c_str());
        said = read_file_bytes(root + "/said");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool load(update_file_xml& m) {
        const std::string doc = read_file_bytes(out + "/activeupdate.xml");
        return m.load(doc.data(), int32_t(doc.size()));
    }

    std::string root, src, out, tool, said;
};

}  // namespace

TEST_F(pack_test, PackedFolderLoadsBackWithSameEntriesDigestsAndModule) {
    put("editor.so", "main library");
    put("helper.so", "helper");
    put("strings.dat", "resources");
    put("picture.png", std::string(5000, 'p'));
    ASSERT_EQ(pack("--module editor.so --archive data.cab='*.dat' --archive data.cab='*.png' " +
                   src + " " + out),
              0)
        << said;

    update_file_xml m;
    ASSERT_TRUE(load(m));
    EXPECT_EQ(m.module, u"editor.so");
    std::map<std::u16string, std::u16string> archive_of;
    for (const auto& e : m.files) {
        archive_of[e.path] = e.archive;
        EXPECT_EQ(e.hash, file_md5_hex(os::from_native_path(src) + u"/" + e.path)) << to_utf8(e.path);
        EXPECT_TRUE(e.version.empty());
    }
    const std::map<std::u16string, std::u16string> expected = {{u"editor.so", u"module.zip"},
                                                               {u"helper.so", u"module.zip"},
                                                               {u"strings.dat", u"data.cab"},
                                                               {u"picture.png", u"data.cab"}};
    EXPECT_EQ(archive_of, expected);

    // The archives unpack, with the launcher's own extraction, into the very files listed.
    const std::string dl = root + "/download/";
    fs::create_directories(dl);
    EXPECT_EQ(extract_zip(os::from_native_path(out + "/module.zip"), os::from_native_path(dl), u"", u""),
              1);
    EXPECT_EQ(extract_cab(os::from_native_path(out + "/data.cab"), os::from_native_path(dl), u"", u""), 1);
    for (const auto& e : m.files)
        EXPECT_EQ(read_file_bytes(dl + to_utf8(e.path)),
                  read_file_bytes(src + "/" + to_utf8(e.path)))
            << to_utf8(e.path);
}

TEST_F(pack_test, EveryRunScramblesWithFreshHeaderWords) {
    put("editor.so", "main library");
    ASSERT_EQ(pack("--module editor.so " + src + " " + out), 0) << said;
    const std::string first = read_file_bytes(out + "/activeupdate.xml");
    ASSERT_EQ(pack("--module editor.so " + src + " " + out), 0) << said;
    EXPECT_NE(read_file_bytes(out + "/activeupdate.xml"), first);
    update_file_xml m;
    EXPECT_TRUE(load(m));
}

TEST_F(pack_test, ByVersionListsTheFileVersionAndFallsBackToTheHash) {
    const char* source_dir = std::getenv("QUORLA_SOURCE_DIR");
    ASSERT_NE(source_dir, nullptr);
    fs::copy_file(std::string(source_dir) + "/update/testdata/version-1.2.3.4-x64.dll",
                  src + "/editor.dll");
    put("plain.so", "no version here");
    ASSERT_EQ(pack("--module editor.dll --by-version '*' --by-version '*.exe' --archive 'docs.cab=*.pdf' " +
                   src + " " + out),
              0)
        << said;
    EXPECT_NE(said.find("plain.so has no file version"), std::string::npos) << said;
    // Patterns that pick nothing are said, and write nothing.
    EXPECT_NE(said.find("--archive docs.cab=*.pdf matches no file"), std::string::npos) << said;
    EXPECT_NE(said.find("--by-version *.exe matches no file"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out + "/docs.cab"));
    update_file_xml m;
    ASSERT_TRUE(load(m));
    ASSERT_EQ(m.files.size(), 2u);
    for (const auto& e : m.files) {
        if (e.path == u"editor.dll") {
            EXPECT_EQ(e.version, u"1.2.3.4");
            EXPECT_TRUE(e.hash.empty());
        } else {
            EXPECT_EQ(e.hash, file_md5_hex(os::from_native_path(src + "/plain.so")));
        }
    }
}

TEST_F(pack_test, ForeignKeyFileMakesAManifestTheLauncherRefuses) {
    put("editor.so", "main library");
    std::string key = "data_key_seed = 0x01020304\n";
    for (int i = 0; i < 128; ++i) key += "5A ";
    ASSERT_TRUE(write_file_bytes(root + "/other-key.txt", key));
    ASSERT_EQ(pack("--key-file " + root + "/other-key.txt --module editor.so " + src + " " + out),
              0)
        << said;
    update_file_xml m;
    EXPECT_FALSE(load(m));
}

TEST_F(pack_test, GeneratedUpdateKeyIsFreshReadableAndNeverOverwritten) {
    put("editor.so", "main library");
    const std::string first = root + "/key-1.txt", second = root + "/key-2.txt";
    ASSERT_EQ(pack("--gen-update-key " + first), 0) << said;
    EXPECT_NE(said.find("-DQUORLA_UPDATE_KEY_FILE=" + first), std::string::npos) << said;
    ASSERT_EQ(pack("--gen-update-key=" + second), 0) << said;
    update_key one, two;
    ASSERT_TRUE(parse_update_key_file(read_file_bytes(first), one));
    ASSERT_TRUE(parse_update_key_file(read_file_bytes(second), two));
    EXPECT_NE(one.table, two.table);
    EXPECT_NE(one.table, builtin_update_key().table);

    const std::string kept = read_file_bytes(first);
    EXPECT_NE(pack("--gen-update-key " + first), 0);
    EXPECT_NE(said.find("must not exist"), std::string::npos) << said;
    EXPECT_EQ(read_file_bytes(first), kept);

    // What it packs unscrambles with that key only.
    ASSERT_EQ(pack("--key-file=" + first + " --module=editor.so " + src + " " + out), 0) << said;
    update_file_xml m;
    EXPECT_FALSE(load(m));
    const std::string doc = read_file_bytes(out + "/activeupdate.xml");
    const size_t start = doc.find("data=\"") + 6;
    std::string plain;
    ASSERT_TRUE(unscramble_bytes(doc.substr(start, doc.find('"', start) - start), one, plain));
    EXPECT_NE(plain.find(">editor.so</file>"), std::string::npos) << plain;
}

TEST_F(pack_test, SubfoldersAreRefusedUnlessAllowed) {
    put("editor.so", "main library");
    put("plugins/extra.so", "extra");
    EXPECT_NE(pack("--module editor.so " + src + " " + out), 0);
    EXPECT_NE(said.find("plugins/extra.so"), std::string::npos) << said;
    EXPECT_NE(said.find("creates no folders"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out + "/activeupdate.xml"));

    ASSERT_EQ(pack("--allow-subfolders --module editor.so " + src + " " + out), 0) << said;
    update_file_xml m;
    ASSERT_TRUE(load(m));
    EXPECT_EQ(m.files.size(), 2u);
}

TEST_F(pack_test, BadInvocationsFailWithAClearMessage) {
    put("editor.so", "main library");
    // Folders of a module with one name Windows refuses each.
    const char* refused[] = {"CON", "AUX.dll", "com1", "lpt9.txt", "trailing.", "a:b.dll"};
    for (const char* name : refused) {
        fs::create_directories(root + "/win/" + name);  // the folder is named after the file
        ASSERT_TRUE(write_file_bytes(root + "/win/" + name + "/editor.so", "main library"));
        ASSERT_TRUE(write_file_bytes(root + "/win/" + name + "/" + name, "data"));
    }
    const auto windows_row = [&](const char* name) {
        return "--module editor.so " + root + "/win/'" + name + "' " + out;
    };
    struct row {
        const char* name;
        std::string args;
        const char* message;
    } rows[] = {
        {"missing source folder", "--module editor.so " + root + "/nowhere " + out,
         "source folder not found"},
        {"unknown module file", "--module missing.so " + src + " " + out, "module file not found"},
        {"no module option", src + " " + out, "--module REL_PATH is required"},
        {"archive without glob", "--module editor.so --archive data.zip " + src + " " + out,
         "NAME=GLOB"},
        {"archive name with a folder",
         "--module editor.so --archive ../x.zip='*' " + src + " " + out, "plain file name"},
        {"unknown option", "--modul editor.so " + src + " " + out, "unknown option"},
        {"one folder only", "--module editor.so " + src, "expected SOURCE_DIR and OUT_DIR"},
        {"option value left empty", "--module= " + src + " " + out, "--module needs a value"},
        {"value given to a flag", "--allow-subfolders=yes --module editor.so " + src + " " + out,
         "--allow-subfolders takes no value"},
        {"unreadable key file",
         "--key-file " + root + "/none --module editor.so " + src + " " + out,
         "cannot read key file"},
        {"device name", windows_row("CON"), "Windows refuses the name CON: a device name"},
        {"device name with an extension", windows_row("AUX.dll"),
         "Windows refuses the name AUX.dll"},
        {"serial port, small letters", windows_row("com1"), "Windows refuses the name com1"},
        {"printer port", windows_row("lpt9.txt"), "Windows refuses the name lpt9.txt"},
        {"trailing dot", windows_row("trailing."), "ends with a dot or a space"},
        {"colon", windows_row("a:b.dll"), "a character Windows does not allow"},
        {"archive named after a device",
         "--module editor.so --archive nul.zip='*' " + src + " " + out,
         "Windows refuses the name nul.zip"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_NE(pack(r.args), 0);
        EXPECT_NE(said.find(r.message), std::string::npos) << said;
    }
    EXPECT_EQ(pack("--help"), 0);
    EXPECT_NE(said.find("Usage: quorla-pack"), std::string::npos);
}

TEST_F(pack_test, NamesWithAmpersandsAndADotModulePathRoundTrip) {
    put("editor.so", "main library");
    put("a&b.dat", "ampersand");
    ASSERT_EQ(pack("--module=./editor.so --archive='x&y.zip=*.dat' " + src + " " + out), 0) << said;
    EXPECT_TRUE(fs::exists(out + "/x&y.zip"));
    update_file_xml m;
    ASSERT_TRUE(load(m));
    EXPECT_EQ(m.module, u"editor.so");
    ASSERT_EQ(m.files.size(), 2u);
    EXPECT_EQ(m.files[0].path, u"a&b.dat");
    EXPECT_EQ(m.files[0].archive, u"x&y.zip");
}
