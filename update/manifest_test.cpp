// The update manifest: unscrambling, the outer and inner checks, and the entry rules.
#include "update/manifest.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/log_writer.h"
#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "text/text.h"
#include "update/scramble.h"

namespace {

class manifest_test : public ::testing::Test {
  protected:
    void SetUp() override {
        root = test_support::make_temporary_folder("quorla-manifest").string();
        test_support::set_environment("XDG_DATA_HOME", root);
        set_system_code_page("UTF-8");
        LogWriter::Instance().SetPath((std::filesystem::path(root) / "test.log").u16string());
    }
    void TearDown() override {
        set_system_code_page("");
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string root;
};

std::string scrambled(const std::string& inner, uint32_t h0 = 0x12345678,
                      uint32_t h1 = 0x9ABCDEF0) {
    return scramble_update_data(inner, h0, h1, builtin_update_key());
}

std::u16string outer(const std::string& data) {
    return u"<?xml version=\"1.0\"?>\n<update data=\"" + ascii_to_wide(data) + u"\"></update>";
}

bool load_inner(update_file_xml& m, const std::string& inner) {
    return m.load_text(outer(scrambled(inner)));
}

std::u16string unscramble(const std::string& data, bool* ok) {
    std::u16string text = ascii_to_wide(data);
    *ok = unscramble_update_data(text);
    return text;
}

std::string base64_of(const std::vector<uint8_t>& bytes) {
    return base64_encode(bytes.data(), bytes.size());
}

}  // namespace

TEST(scramble_random_test, DrawsFollowTheSharedGenerator) {
    // The generator the server uses: seed 1 gives 41, 18467, 6334, 26500, 19169.
    scramble_random r(1);
    const uint32_t expected[] = {41, 18467, 6334, 26500, 19169};
    for (uint32_t e : expected) EXPECT_EQ(r.draw(), e);
    scramble_random m(1);
    EXPECT_EQ(m.mask_byte(), 41);
    EXPECT_EQ(m.mask_byte(), uint8_t(18467 % 255));
}

TEST(base64_test, DecodingSkipsEverythingOutsideTheAlphabet) {
    struct row {
        const char* text;
        std::string bytes;
    } rows[] = {
        {"", ""},
        {"TQ==", "M"},
        {"TQ", "M"},
        {"T", ""},  // a final single character gives nothing
        {"TWE=", "Ma"},
        {"TWE", "Ma"},
        {"TWFu", "Man"},
        {"TW\r\nFu", "Man"},
        {" T W F u = = ", "Man"},
        {"TWFu\nTWFu", "ManMan"},
        {"!!TWFu??", "Man"},
    };
    for (const auto& r : rows) {
        const auto out = base64_decode(r.text);
        EXPECT_EQ(std::string(out.begin(), out.end()), r.bytes) << r.text;
    }
}

TEST(unscramble_test, DecodedLengthsOutsideEightPlusBlocksFail) {
    struct row {
        size_t length;
        bool accepted;
    } rows[] = {{0, false},      {7, false},     {8, true},       {9, false},
                {8 + 15, false}, {8 + 16, true}, {8 + 17, false}, {8 + 32, true}};
    for (const auto& r : rows) {
        const std::string data = base64_of(std::vector<uint8_t>(r.length, 0x41));
        bool ok = false;
        const std::u16string text = unscramble(data, &ok);
        EXPECT_EQ(ok, r.accepted) << r.length;
        if (!ok) {
            EXPECT_EQ(text, ascii_to_wide(data)) << "text changed on failure, length " << r.length;
        }
    }
}

TEST(unscramble_test, RoundTripsTheInnerText) {
    bool ok = false;
    EXPECT_EQ(unscramble(scrambled("<update>x</update>"), &ok), u"<update>x</update>");
    EXPECT_TRUE(ok);
    // A text of exactly one block still ends at its zero padding.
    EXPECT_EQ(unscramble(scrambled("0123456789abcdef"), &ok), u"0123456789abcdef");
    EXPECT_TRUE(ok);
}

TEST(unscramble_test, LineBreaksAndPaddingDecodeLikeThePlainText) {
    const std::string data = scrambled("<update>line breaks</update>");  // 8 + 32 bytes: "=" padded
    ASSERT_NE(data.find('='), std::string::npos);
    std::string broken;
    for (size_t i = 0; i < data.size(); ++i)
        broken += (i % 10 == 9 ? "\r\n" : "") + std::string(1, data[i]);
    std::string bare = data;
    std::erase(bare, '=');
    bool a = false, b = false, c = false;
    const auto plain = unscramble(data, &a);
    EXPECT_EQ(unscramble(broken, &b), plain);
    EXPECT_EQ(unscramble(bare, &c), plain);
    EXPECT_TRUE(a && b && c);
}

TEST(unscramble_test, MaskSeedTakesLowHalfOfWordZeroAndHighHalfOfWordOne) {
    const std::string inner = "<update>mask seed</update>";
    bool ok = false;
    // Only the low half of word 0 and the high half of word 1 matter...
    auto bytes = base64_decode(scrambled(inner, 0x0000AAAA, 0xBBBB0000));
    bytes[2] = 0xFF, bytes[3] = 0xFF, bytes[4] = 0xFF, bytes[5] = 0xFF;
    EXPECT_EQ(unscramble(base64_of(bytes), &ok), ascii_to_wide(inner));
    // ...and swapping the words changes the mask.
    auto swapped = base64_decode(scrambled(inner, 0x0000AAAA, 0xBBBB0000));
    for (int i = 0; i < 4; ++i) std::swap(swapped[i], swapped[4 + i]);
    EXPECT_NE(unscramble(base64_of(swapped), &ok), ascii_to_wide(inner));
}

TEST(unscramble_test, PlainTextEndsAtTheFirstZeroByte) {
    bool ok = false;
    EXPECT_EQ(unscramble(scrambled(std::string("abc\0def", 7)), &ok), u"abc");
    EXPECT_TRUE(ok);
}

TEST_F(manifest_test, EmptyOrMissingDataFails) {
    update_file_xml m;
    EXPECT_FALSE(m.load_text(u"<update></update>"));
    EXPECT_FALSE(m.load_text(u"<update data=\"\"></update>"));
    // Eight bytes pass the length test but leave an empty text.
    EXPECT_FALSE(m.load_text(outer(base64_of(std::vector<uint8_t>(8, 1)))));
}

TEST_F(manifest_test, LoadFromBytesAndNullInput) {
    const std::string doc =
        to_utf8(outer(scrambled("<update><files name=\"module.zip\"><file id=\"module\" "
                                "hash=\"AB\">editor.so</file></files></update>")));
    update_file_xml m;
    EXPECT_FALSE(m.load(nullptr, 10));
    EXPECT_FALSE(m.load(doc.data(), 0));
    ASSERT_TRUE(m.load(doc.data(), int32_t(doc.size())));
    EXPECT_EQ(m.module, u"editor.so");
    ASSERT_EQ(m.files.size(), 1u);
    EXPECT_EQ(m.files[0].archive, u"module.zip");
    EXPECT_EQ(m.files[0].hash, u"AB");
}

TEST_F(manifest_test, SelfClosedOuterElementIsRejected) {
    const std::string data =
        scrambled("<update><files name=\"a.zip\"><file id=\"module\">m.so</file></files></update>");
    update_file_xml m;
    EXPECT_FALSE(m.load_text(u"<update data=\"" + ascii_to_wide(data) + u"\"/>"));
    EXPECT_TRUE(m.load_text(u"<update data=\"" + ascii_to_wide(data) + u"\"></update>"));
}

TEST_F(manifest_test, InnerDocumentRules) {
    struct row {
        const char* name;
        const char* inner;
        bool valid;
        const char16_t* module;
        size_t entries;
    } rows[] = {
        {"only the module entry",
         "<update><files name=\"a.zip\"><file id=\"module\">m.so</file></files></update>", true,
         u"m.so", 1},
        {"capitalised files and file, MODULE id",
         "<update><FILES name=\"a.zip\"><File ID=\"x\" "
         "id=\"MODULE\">m.so</File><fIlE>b</fIlE></FILES></update>",
         true, u"m.so", 2},
        {"capitalised update",
         "<Update><files name=\"a.zip\"><file id=\"module\">m.so</file></files></Update>", false,
         u"", 0},
        {"no module entry",
         "<update><files name=\"a.zip\"><file>a</file><file>b</file></files></update>", false, u"",
         2},
        {"empty module text",
         "<update><files name=\"a.zip\"><file id=\"module\"></file><file>b</file></files></update>",
         false, u"", 2},
        {"last module wins",
         "<update><files name=\"a.zip\"><file id=\"module\">one</file></files>"
         "<files name=\"b.cab\"><file id=\"module\">two</file></files></update>",
         true, u"two", 2},
        {"misplaced file elements ignored",
         "<update><file id=\"module\">top</file><files name=\"a.zip\"><file id=\"module\">m.so"
         "<file>nested</file></file><x><file>deep</file></x></files><x><files "
         "name=\"c\"><file>f</file></files></x>"
         "</update>",
         true, u"m.so", 1},
        {"update found below the root",
         "<root><update><files name=\"a.zip\"><file "
         "id=\"module\">m.so</file></files></update></root>",
         true, u"m.so", 1},
        {"inner text without closing tag",
         "<update/><files name=\"a.zip\"><file id=\"module\">m.so</file></files>", false, u"", 0},
        {"absolute path",
         "<update><files name=\"a.zip\"><file id=\"module\">/etc/m.so</file></files></update>",
         false, u"/etc/m.so", 1},
        {"parent step",
         "<update><files name=\"a.zip\"><file "
         "id=\"module\">m.so</file><file>a/../../x</file></files></update>",
         false, u"m.so", 2},
        {"backslash parent step",
         "<update><files name=\"a.zip\"><file "
         "id=\"module\">m.so</file><file>..\\x</file></files></update>",
         false, u"m.so", 2},
        {"drive path",
         "<update><files name=\"a.zip\"><file id=\"module\">C:\\m.so</file></files></update>",
         false, u"C:\\m.so", 1},
        {"archive leading out (refused only where it is to be fetched)",
         "<update><files name=\"../a.zip\"><file id=\"module\">m.so</file></files></update>", true,
         u"m.so", 1},
        {"step that Windows folds into a parent step",
         "<update><files name=\"a.zip\"><file id=\"module\">. .\\m.so</file></files></update>",
         false, u". .\\m.so", 1},
        {"device name",
         "<update><files name=\"a.zip\"><file id=\"module\">lib/aux.so</file></files></update>",
         false, u"lib/aux.so", 1},
        {"dots inside names are fine",
         "<update><files name=\"a..zip\"><file "
         "id=\"module\">lib/..m.so</file><file>./x..</file></files></update>",
         true, u"lib/..m.so", 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        update_file_xml m;
        EXPECT_EQ(load_inner(m, r.inner), r.valid);
        EXPECT_EQ(m.module, r.module);
        EXPECT_EQ(m.files.size(), r.entries);
    }
}

// The inner list goes through the system code page only where that page holds its text: a
// Korean, a Japanese and an accented name come out whole on a Western and a Korean system.
TEST_F(manifest_test, NamesOutsideTheCodePageSurvive) {
    const std::u16string names[] = {u"한글모듈.dll", u"日本語.dat", u"modé.dll"};
    std::string inner = "<update><files name=\"a.zip\">";
    for (const auto& name : names)
        inner += "<file" + std::string(name == names[0] ? " id=\"module\"" : "") + ">" +
                 to_utf8(name) + "</file>";
    inner += "</files></update>";
    for (const char* code_page : {"WINDOWS-1252", "CP949", "UTF-8"}) {
        SCOPED_TRACE(code_page);
        set_system_code_page(code_page);
        update_file_xml m;
        ASSERT_TRUE(load_inner(m, inner));
        EXPECT_EQ(m.module, names[0]);
        ASSERT_EQ(m.files.size(), 3u);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(m.files[i].path, names[i]);
    }
}

TEST_F(manifest_test, EntriesCarryArchiveHashVersionAndSha256InOrder) {
    update_file_xml m;
    const std::string sha(64, 'A');
    ASSERT_TRUE(
        load_inner(m,
                   "<update serial=\"20261210\">\n<files name=\"module.zip\">\n<file id=\"module\" "
                   "hash=\"0123\" sha256=\"" +
                       sha +
                       "\">\n  editor.so\n</file>\n"
                       "<file version=\"1.2.3.4\">helper.so</file></files>\n"
                       "<files name=\"data.CAB\"><file>plain.dat</file></files></update>"));
    ASSERT_EQ(m.files.size(), 3u);
    EXPECT_EQ(m.module, u"editor.so");
    EXPECT_EQ(m.serial, 20261210u);
    const update_file_entry expected[] = {
        {u"editor.so", u"module.zip", u"0123", u"", from_utf8(sha)},
        {u"helper.so", u"module.zip", u"", u"1.2.3.4", u""},
        {u"plain.dat", u"data.CAB", u"", u"", u""}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m.files[i].path, expected[i].path) << i;
        EXPECT_EQ(m.files[i].archive, expected[i].archive) << i;
        EXPECT_EQ(m.files[i].hash, expected[i].hash) << i;
        EXPECT_EQ(m.files[i].version, expected[i].version) << i;
        EXPECT_EQ(m.files[i].sha256, expected[i].sha256) << i;
    }
    // A SHA-256 that is not 64 hexadecimal digits makes the list invalid; a serial that is no
    // number reads as none.
    EXPECT_FALSE(
        load_inner(m,
                   "<update><files name=\"a.zip\"><file id=\"module\" sha256=\"12\">m.so</file>"
                   "</files></update>"));
    EXPECT_TRUE(
        load_inner(m,
                   "<update serial=\"x1\"><files name=\"a.zip\"><file id=\"module\">m.so</file>"
                   "</files></update>"));
    EXPECT_FALSE(m.serial.has_value());
}

TEST_F(manifest_test, ParseClearsEarlierContent) {
    update_file_xml m;
    m.module = u"stale";
    m.files.push_back({u"stale", u"", u"", u"", u""});
    ASSERT_TRUE(load_inner(
        m, "<update><files name=\"a.zip\"><file id=\"module\">m.so</file></files></update>"));
    EXPECT_EQ(m.files.size(), 1u);
}

TEST(update_key_test, KeyFileParsing) {
    update_key key;
    std::string table;
    for (int i = 0; i < 128; ++i) table += (i % 16 ? " " : "\n") + std::string("A5");
    EXPECT_TRUE(parse_update_key_file("# c\ndata_key_seed = 0x10\n" + table, key));
    EXPECT_EQ(key.seed, 0x10u);
    EXPECT_EQ(key.table[127], 0xA5);
    EXPECT_TRUE(parse_update_key_file("data_key_seed=42" + table, key));
    EXPECT_EQ(key.seed, 42u);
    EXPECT_FALSE(parse_update_key_file(table, key));                                  // no seed
    EXPECT_FALSE(parse_update_key_file("data_key_seed = 1\n" + table + " 00", key));  // 129 bytes
    EXPECT_FALSE(
        parse_update_key_file("data_key_seed = 1\n" + table.substr(0, table.size() - 3), key));
    EXPECT_FALSE(parse_update_key_file("data_key_seed = 0x1FFFFFFFF\n" + table, key));
    EXPECT_FALSE(parse_update_key_file("data_key_seed = -1\n" + table, key));
    EXPECT_FALSE(parse_update_key_file("other = 1\n" + table, key));
}

TEST(update_key_test, BuiltInKeyMatchesTheProjectKeyFile) {
    const char* src = std::getenv("QUORLA_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    std::ifstream in(std::string(src) + "/res/update-key.txt");
    std::stringstream text;
    text << in.rdbuf();
    update_key key;
    ASSERT_TRUE(parse_update_key_file(text.str(), key));
    EXPECT_EQ(key.seed, builtin_update_key().seed);
    EXPECT_EQ(key.table, builtin_update_key().table);
}

// Every fuzz seed and every input that once broke the manifest fuzz target: loads or fails
// cleanly, and a manifest that loads never leads out of the install folder.
TEST_F(manifest_test, FuzzInputsLoadSafely) {
    const char* src = std::getenv("QUORLA_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    size_t count = 0;
    for (const char* folder :
         {"/update/fuzz_corpus/manifest", "/update/fuzz_regressions/manifest"}) {
        const std::filesystem::path dir = std::string(src) + folder;
        if (!std::filesystem::is_directory(dir)) continue;
        for (const auto& e : std::filesystem::directory_iterator(dir)) {
            std::ifstream in(e.path(), std::ios::binary);
            std::stringstream s;
            s << in.rdbuf();
            const std::string bytes = s.str();
            update_file_xml m;
            if (m.load(bytes.data(), int32_t(bytes.size()))) {
                EXPECT_FALSE(m.module.empty()) << e.path();
                for (const auto& f : m.files)
                    EXPECT_TRUE(manifest_path_is_safe(f.path))
                        << e.path();
            }
            ++count;
        }
    }
    EXPECT_GE(count, 4u);
}

std::u16string log_of(const std::string& root) {
    std::ifstream in(root + "/test.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    std::u16string log;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        log.push_back(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
    return log;
}

TEST_F(manifest_test, LogsTheReceivedTextAndNamesAnUnsafePath) {
    update_file_xml m;
    const std::u16string doc = outer(scrambled(
        "<update><files name=\"a.zip\"><file id=\"module\">../m.so</file></files></update>"));
    EXPECT_FALSE(m.load_text(doc));
    const std::u16string log = log_of(root);
    EXPECT_NE(log.find(u" >>\r\n"), std::u16string::npos);
    EXPECT_NE(log.find(u" >" + doc + u"\r\n"), std::u16string::npos);
    EXPECT_NE(
        log.find(
            u"*오류 : 업데이트 목록의 경로가 올바르지 않습니다. (path:../m.so, archive:a.zip)"),
        std::u16string::npos);
}

// A shop that packs with the quorla-pack of another build learns from the log that the keys
// may differ; a list that unscrambles is never blamed on the key.
TEST_F(manifest_test, DataThatDoesNotUnscrambleNamesTheKey) {
    const std::string inner =
        "<update><files name=\"a.zip\"><file id=\"module\">m.so</file></files></update>";
    update_key other = builtin_update_key();
    other.seed ^= 0x5A5A5A5Au;
    other.table[3] ^= 0xFF;
    const struct {
        const char* name;
        std::string data;
        bool names_key;
    } rows[] = {
        {"another key", scramble_update_data(inner, 0x12345678, 0x9ABCDEF0, other), true},
        {"a truncated list", scrambled(inner).substr(0, 30), true},
        {"the build's key, an unsafe path",
         scrambled("<update><files name=\"a.zip\"><file id=\"module\">../m.so</file></files></update>"),
         false},
        {"the build's key", scrambled(inner), false},
        {"no data at all", "", false},
    };
    const std::u16string line = u"*오류 : activeupdate.xml의 데이터를 풀지 못했습니다. quorla-pack과 런처의 "
                                u"업데이트 키가 다를 수 있습니다. (data could not be unscrambled: the update "
                                u"key of quorla-pack and of the launcher may differ)";
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove(root + "/test.log");
        update_file_xml m;
        EXPECT_EQ(m.load_text(outer(r.data)), std::string(r.name) == "the build's key");
        EXPECT_EQ(log_of(root).find(line) != std::u16string::npos, r.names_key);
    }
}
