#include "update/signature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/test_log.h"
#include "update/manifest.h"
#include "update/scramble.h"

namespace fs = std::filesystem;

namespace {

const char kInner[] =
    "<update><files name=\"a.zip\"><file id=\"module\" hash=\"00\" "
    "sha256=\"0000000000000000000000000000000000000000000000000000000000000000\">m.so</file></"
    "files></update>";
const char kInnerWithoutSha256[] =
    "<update><files name=\"a.zip\"><file id=\"module\" hash=\"00\">m.so</file></files></update>";

struct Signature : ::testing::Test {
    test_support::log_capture log;
    std::string key_file, other_key_file;
    manifest_public_key key{}, other_key{};
    std::string data, data_without_sha256;

    void SetUp() override {
        key_file = (log.folder() / "shop.pem").string();
        other_key_file = (log.folder() / "other.pem").string();
        std::string error;
        key = *parse_manifest_public_key(generate_manifest_key(key_file, error));
        other_key = *parse_manifest_public_key(generate_manifest_key(other_key_file, error));
        data = scramble_update_data(kInner, 7, 9, builtin_update_key());
        data_without_sha256 = scramble_update_data(kInnerWithoutSha256, 7, 9, builtin_update_key());
    }
    void TearDown() override { set_manifest_public_key_for_tests(std::nullopt); }

    std::string sign(const std::string& value, const std::string& file) {
        std::string error;
        std::string s = sign_manifest_data(value, file, error);
        EXPECT_FALSE(s.empty()) << error;
        return s;
    }
    bool load(const std::string& value, const std::string& signature) {
        std::string document = "<update data=\"" + value + "\"";
        if (!signature.empty()) document += " signature=\"" + signature + "\"";
        document += "></update>";
        update_file_xml manifest;
        return manifest.load(document.data(), static_cast<int32_t>(document.size()));
    }
};

TEST_F(Signature, RequiredSignatureTable) {
    std::string tampered = data;
    tampered[10] = tampered[10] == 'A' ? 'B' : 'A';
    const std::string third_key_file = (log.folder() / "third.pem").string();
    std::string error;
    ASSERT_FALSE(generate_manifest_key(third_key_file, error).empty()) << error;
    const std::vector<manifest_public_key> rotating = {key, other_key};
    struct Case {
        const char* name;
        std::string value, signature;
        bool accepted;
        std::u16string line;
        std::vector<manifest_public_key> keys;
    } cases[] = {
        {"signed", data, sign(data, key_file), true, u"", {}},
        {"unsigned",
         data,
         "",
         false,
         u"*오류 : activeupdate.xml에 서명이 없습니다. (signature missing)",
         {}},
        {"tampered data",
         tampered,
         sign(data, key_file),
         false,
         u"*오류 : activeupdate.xml의 서명이 올바르지 않습니다. (signature does not verify)",
         {}},
        {"another key",
         data,
         sign(data, other_key_file),
         false,
         u"*오류 : activeupdate.xml의 서명이 올바르지 않습니다. (signature does not verify)",
         {}},
        {"garbage",
         data,
         "not a signature at all",
         false,
         u"*오류 : activeupdate.xml의 서명이 올바르지 않습니다. (signature does not verify)",
         {}},
        {"signed, a file without SHA-256",
         data_without_sha256,
         sign(data_without_sha256, key_file),
         false,
         u"*오류 : 업데이트 목록에 SHA-256이 없는 파일이 있습니다. (path:m.so, archive:a.zip)",
         {}},
        {"rotation: the current key", data, sign(data, key_file), true, u"", rotating},
        {"rotation: the next key", data, sign(data, other_key_file), true, u"", rotating},
        {"rotation: neither key", data, sign(data, third_key_file), false,
         u"*오류 : activeupdate.xml의 서명이 올바르지 않습니다. (signature does not verify)",
         rotating},
    };
    for (auto& c : cases) {
        if (c.keys.empty()) c.keys = {key};
        set_manifest_public_keys_for_tests(c.keys);
        EXPECT_EQ(load(c.value, c.signature), c.accepted) << c.name;
        if (!c.line.empty()) {
            EXPECT_TRUE(log.has_line(c.line)) << c.name << "\n" << log.lines_utf8();
        }
    }
}

TEST_F(Signature, SignatureCoversTheTrimmedValueAsServed) {
    set_manifest_public_key_for_tests(key);
    EXPECT_TRUE(load("\n  " + data + "  \n", sign(data, key_file)));
}

TEST_F(Signature, LauncherWithoutKeyAcceptsSignedAndUnsignedAlike) {
    set_manifest_public_key_for_tests(std::nullopt);
    EXPECT_TRUE(load(data, sign(data, key_file)));
    EXPECT_TRUE(load(data, ""));
    EXPECT_TRUE(load(data, "garbage"));
}

// The shop tool is a Linux program: the Windows build has none to run.
#ifdef QUORLA_TEST_PACK_TOOL
TEST_F(Signature, PackedAndSignedByTheShopTool) {
    const std::string pack = QUORLA_TEST_PACK_TOOL;
    const fs::path source = log.folder() / "src";
    fs::create_directories(source);
    std::FILE* f = std::fopen((source / "m.so").c_str(), "w");
    std::fputs("module", f);
    std::fclose(f);
    const std::string tool_key = (log.folder() / "tool.pem").string();
    const std::string generated = (log.folder() / "generated.txt").string();
    ASSERT_EQ(std::system((pack + " --gen-key " + tool_key + " > " + generated).c_str()), 0);
    // The public key is the last line printed.
    std::FILE* out = std::fopen(generated.c_str(), "r");
    char line[256] = {}, last[256] = {};
    while (std::fgets(line, sizeof line, out)) std::snprintf(last, sizeof last, "%s", line);
    std::fclose(out);
    std::string public_key = last;
    while (!public_key.empty() && (public_key.back() == '\n')) public_key.pop_back();
    ASSERT_TRUE(parse_manifest_public_key(public_key).has_value()) << public_key;
    EXPECT_NE(std::system((pack + " --gen-key " + tool_key + " > /dev/null 2>&1").c_str()), 0)
        << "an existing key is never overwritten";

    const fs::path outdir = log.folder() / "out";
    ASSERT_EQ(std::system((pack + " --module m.so --sign-key " + tool_key + " " + source.string() + " " +
                           outdir.string() + " > /dev/null")
                              .c_str()),
              0);
    std::FILE* m = std::fopen((outdir / "activeupdate.xml").c_str(), "rb");
    std::string document;
    for (int c; (c = std::fgetc(m)) != EOF;) document.push_back(static_cast<char>(c));
    std::fclose(m);
    set_manifest_public_key_for_tests(parse_manifest_public_key(public_key));
    update_file_xml manifest;
    EXPECT_TRUE(manifest.load(document.data(), static_cast<int32_t>(document.size()))) << log.lines_utf8();
    set_manifest_public_key_for_tests(other_key);
    EXPECT_FALSE(manifest.load(document.data(), static_cast<int32_t>(document.size())));
}

#endif

}  // namespace
