#include "update/md5.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "tests/support/archives.h"
#include "tests/support/sandbox.h"
#include "update/update_test_util.h"

namespace {
std::u16string digest_of(const std::string& s) {
    md5 m;
    m.update(s.data(), s.size());
    return md5::hex(m.finish());
}

std::string md5sum_of(const std::string& path) {
    std::string out;
    test_support::run_build_machine_command("md5sum '" + test_support::build_machine_path(path) + "'", &out);
    return out.substr(0, std::min<size_t>(out.size(), 32));
}
}  // namespace

TEST(md5, Rfc1321TestSuite) {
    const struct {
        const char* input;
        const char16_t* digest;
    } rows[] = {
        {"", u"d41d8cd98f00b204e9800998ecf8427e"},
        {"a", u"0cc175b9c0f1b6a831c399e269772661"},
        {"abc", u"900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", u"f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", u"c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         u"d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         u"57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& r : rows) EXPECT_EQ(digest_of(r.input), r.digest) << r.input;
}

TEST(md5, PiecewiseFeedingAcrossBlockBoundariesMatchesOneShot) {
    std::string data(1000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 + 3);
    for (size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 999u}) {
        md5 m;
        for (size_t at = 0; at < data.size(); at += piece)
            m.update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(md5::hex(m.finish()), digest_of(data)) << piece;
    }
}

using md5_file_test = update_files_test;

TEST_F(md5_file_test, MissingFileGivesMinusOne) {
    EXPECT_EQ(file_md5_hex(w("missing")), u"-1");
}

TEST_F(md5_file_test, FolderGivesMinusOneNotTheEmptyDigest) {
    EXPECT_EQ(file_md5_hex(w("")), u"-1");
}

TEST_F(md5_file_test, EmptyFileGivesDigestOfZeroBytes) {
    write_file_bytes(at("empty"), "");
    EXPECT_EQ(file_md5_hex(w("empty")), u"d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(md5_file_test, RandomFilesMatchMd5sumInLowerCase) {
    std::mt19937 rng(1321);
    for (size_t size : {1u, 55u, 56u, 64u, 1023u, 1024u, 1025u, 4096u, 100000u, 1048577u}) {
        std::string data(size, '\0');
        for (auto& c : data) c = char(rng());
        const std::string path = at("r" + std::to_string(size));
        write_file_bytes(path, data);
        const std::u16string ours = file_md5_hex(from_utf8(path));
        EXPECT_EQ(narrow(ours), md5sum_of(path)) << size;
        EXPECT_EQ(ours, to_lower_ascii(ours));
    }
}

TEST_F(md5_file_test, NonAsciiFileNameIsFound) {
    write_file_bytes(at("모듈.dll"), "abc");
    EXPECT_EQ(file_md5_hex(w("모듈.dll")), u"900150983cd24fb0d6963f7d28e17f72");
}

// Every core the machine runs, forced in turn, against the one-file digest and md5sum: every
// length from 0 to a few blocks past 16 lanes of one block (the padding and lane boundaries),
// mixed with files several reads long, unreadable paths among them, in one batch.
TEST_F(md5_file_test, EveryLaneCoreMatchesOneFileDigestAndMd5sum) {
    std::mt19937 rng(1992);
    std::vector<std::u16string> paths;
    std::string names;
    auto add = [&](const std::string& name, size_t size) {
        std::string data(size, '\0');
        for (auto& c : data) c = char(rng());
        write_file_bytes(at(name), data);
        paths.push_back(w(name));
        names += " '" + name + "'";  // relative: Windows command lines are short
    };
    const size_t read = 64 * 1024;
    for (size_t size : {3 * read + 65, read - 1, read, read + 1})
        add("big" + std::to_string(size), size);
    for (size_t size = 0; size <= 16 * 64 + 4 * 64; ++size) {
        add("s" + std::to_string(size), size);
        if (size == 100) add("m1", 1048576 + 7);
        if (size == 700) add("m2", 2 * read + 63);
    }
    paths.insert(paths.begin() + 5, w("missing"));
    paths.insert(paths.begin() + 50, w(""));
    paths.insert(paths.begin() + 51, u"/proc/self/mem");  // opens, but reading fails

    std::vector<std::u16string> expected;
    std::string listing;
    ASSERT_EQ(test_support::run_build_machine_command(
                  "cd '" + test_support::build_machine_path(at("")) + "' && md5sum" + names, &listing),
              0);
    for (size_t at = 0; at + 32 <= listing.size(); at = listing.find('\n', at) + 1) {
        expected.push_back(from_utf8(listing.substr(at, 32)));
        if (listing.find('\n', at) == std::string::npos) break;
    }
    for (size_t i : {5u, 50u, 51u}) expected.insert(expected.begin() + long(i), u"-1");
    ASSERT_EQ(expected.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        ASSERT_EQ(file_md5_hex(paths[i]), expected[i]) << to_utf8(paths[i]);

    const struct {
        md5_lanes lanes;
        const char* name;
    } cores[] = {{md5_lanes::scalar, "scalar"},
                 {md5_lanes::sse2, "sse2"},
                 {md5_lanes::avx2, "avx2"},
                 {md5_lanes::avx512, "avx512"},
                 {md5_lanes::automatic, "automatic"}};
    for (const auto& core : cores) {
        if (!md5_lanes_available(core.lanes)) {
            std::printf("md5 core %s: not available on this processor\n", core.name);
            continue;
        }
        const std::vector<std::u16string> got = files_md5_hex(paths, core.lanes);
        ASSERT_EQ(got.size(), paths.size()) << core.name;
        for (size_t i = 0; i < paths.size(); ++i)
            ASSERT_EQ(got[i], expected[i]) << core.name << " " << to_utf8(paths[i]);
        // Fewer files than lanes, and none at all.
        EXPECT_EQ(files_md5_hex({paths[0], paths[7]}, core.lanes),
                  (std::vector<std::u16string>{expected[0], expected[7]}))
            << core.name;
        EXPECT_TRUE(files_md5_hex({}, core.lanes).empty()) << core.name;
    }
}
