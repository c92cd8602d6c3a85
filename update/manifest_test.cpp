#include "update/manifest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "log/log_writer.h"
#include "text/platform.h"
#include "text/text.h"
#include "update/scramble.h"

namespace fs = std::filesystem;

namespace {

std::string scrambled(const std::string& inner, uint32_t h0 = 0x12345678, uint32_t h1 = 0x9ABCDEF0) {
    return scramble_update_data(inner, h0, h1, builtin_update_key());
}

std::string outer(const std::string& data) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update data=\"" + data + "\"></update>";
}

std::string raw_data(size_t decoded_length) {
    std::vector<uint8_t> bytes(decoded_length, 0x41);
    return base64_encode(bytes.data(), bytes.size());
}

bool load(const std::string& document, update_file_xml& manifest) {
    return manifest.load(document.data(), static_cast<int32_t>(document.size()));
}

const std::string kInner =
    "<update><files name=\"module.zip\">"
    "<file id=\"module\" hash=\"0123456789ABCDEF0123456789abcdef\">editor.so</file>"
    "<file version=\"1.2.3.4\">helper.dll</file>"
    "<file>plain.txt</file>"
    "</files><files name=\"extra.cab\"><file hash=\"00\">data.bin</file></files></update>";

struct Manifest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quorla-manifest-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        set_system_code_page("UTF-8");
        LogWriter::Destroy();
        LogWriter::Instance().SetPath(from_native_path((dir / "test.log").string()));
    }
    void TearDown() override {
        LogWriter::Destroy();
        set_system_code_page("");
        fs::remove_all(dir);
    }
};

TEST_F(Manifest, LoadsEntriesInDocumentOrder) {
    update_file_xml manifest;
    ASSERT_TRUE(load(outer(scrambled(kInner)), manifest));
    EXPECT_EQ(manifest.module, u"editor.so");
    ASSERT_EQ(manifest.files.size(), 4u);
    EXPECT_EQ(manifest.files[0].archive, u"module.zip");
    EXPECT_EQ(manifest.files[0].hash, u"0123456789ABCDEF0123456789abcdef");
    EXPECT_EQ(manifest.files[1].version, u"1.2.3.4");
    EXPECT_EQ(manifest.files[2].path, u"plain.txt");
    EXPECT_TRUE(manifest.files[2].hash.empty());
    EXPECT_TRUE(manifest.files[2].version.empty());
    EXPECT_EQ(manifest.files[3].archive, u"extra.cab");
}

TEST_F(Manifest, DecodedLengthRule) {
    struct Case {
        size_t length;
        bool unscrambles;
    } cases[] = {{0, false}, {7, false}, {8, true}, {9, false}, {8 + 15, false}, {8 + 16, true}, {8 + 17, false}};
    for (const auto& c : cases) {
        std::u16string text = ascii_to_wide(raw_data(c.length));
        const std::u16string before = text;
        EXPECT_EQ(unscramble_update_data(text), c.unscrambles) << c.length;
        if (!c.unscrambles) EXPECT_EQ(text, before) << "text changed on failure";
    }
    std::u16string empty_payload = ascii_to_wide(raw_data(8));
    ASSERT_TRUE(unscramble_update_data(empty_payload));
    EXPECT_EQ(empty_payload, u"");
    update_file_xml manifest;
    EXPECT_FALSE(load(outer(raw_data(8)), manifest)) << "an empty inner text cannot decode";
    EXPECT_FALSE(load("<update></update>", manifest)) << "absent data";
}

TEST_F(Manifest, LineBreaksAndPaddingDecodeTheSame) {
    std::string data = scrambled(kInner);
    std::string broken;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '=') continue;
        broken += data[i];
        if (i % 60 == 59) broken += "\r\n  ";
    }
    update_file_xml a, b;
    ASSERT_TRUE(load(outer(data), a));
    ASSERT_TRUE(load(outer("\n   " + broken + "\n"), b));
    EXPECT_EQ(a.files.size(), b.files.size());
    EXPECT_EQ(a.module, b.module);
}

TEST_F(Manifest, MaskSeedTakesLowHalfFromWordZeroAndHighHalfFromWordOne) {
    // Same low half of word 0 and high half of word 1: same mask, same text.
    std::u16string a = ascii_to_wide(scrambled(kInner, 0xAAAA1234, 0x5678BBBB));
    std::u16string b = ascii_to_wide(scrambled(kInner, 0xCCCC1234, 0x5678DDDD));
    ASSERT_TRUE(unscramble_update_data(a));
    ASSERT_TRUE(unscramble_update_data(b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, from_utf8(kInner));
    // Swapping the header words changes the mask: the text no longer comes out.
    std::vector<uint8_t> bytes = base64_decode(scrambled(kInner, 0x11112222, 0x33334444));
    std::swap_ranges(bytes.begin(), bytes.begin() + 4, bytes.begin() + 4);
    std::u16string swapped = ascii_to_wide(base64_encode(bytes.data(), bytes.size()));
    ASSERT_TRUE(unscramble_update_data(swapped));
    EXPECT_NE(swapped, from_utf8(kInner));
}

TEST_F(Manifest, BlockPaddingEndsAtFirstZero) {
    std::u16string text = ascii_to_wide(scrambled(std::string("<a/>\0\0garbage", 13)));
    ASSERT_TRUE(unscramble_update_data(text));
    EXPECT_EQ(text, u"<a/>");
}

TEST_F(Manifest, DocumentShapeTable) {
    struct Case {
        const char* name;
        std::string outer_document;
        bool valid;
    } cases[] = {
        {"self-closed outer element", "<update data=\"" + scrambled(kInner) + "\"/>", false},
        {"explicit closing tag", "<update data=\"" + scrambled(kInner) + "\"></update>", true},
        {"outer element nested deeper", "<x><update data=\"" + scrambled(kInner) + "\"></update></x>", true},
        {"capitalised outer element", "<Update data=\"" + scrambled(kInner) + "\"></Update>", false},
        {"capitalised inner update", outer(scrambled("<UPDATE><files name=\"a.zip\"><file id=\"module\">m</file></files></UPDATE>")), false},
        {"capitalised files, file and id", outer(scrambled("<update><FILES name=\"a.zip\"><File id=\"MODULE\">m</File></FILES></update>")), true},
        {"only the module entry", outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\">m</file></files></update>")), true},
        {"no module entry", outer(scrambled("<update><files name=\"a.zip\"><file>m</file></files></update>")), false},
        {"empty module text", outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\"></file><file>x</file></files></update>")), false},
        {"file directly under update", outer(scrambled("<update><file id=\"module\">m</file></update>")), false},
        {"file nested in file", outer(scrambled("<update><files name=\"a.zip\"><file>x<file id=\"module\">m</file></file></files></update>")), false},
        {"inner self-closed", outer(scrambled("<update/>")), false},
        {"html error page", "<html><body>404</body></html>", false},
        {"absolute path", outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\">/etc/x</file></files></update>")), false},
        {"parent step", outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\">a/../../x</file></files></update>")), false},
        {"parent step, backslash", outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\">a\\..\\..\\x</file></files></update>")), false},
        {"drive prefix", outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\">C:x.dll</file></files></update>")), false},
        {"archive leading elsewhere", outer(scrambled("<update><files name=\"../a.zip\"><file id=\"module\">m</file></files></update>")), false},
        {"subfolder path", outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\">bin/m.so</file></files></update>")), true},
    };
    for (const auto& c : cases) {
        update_file_xml manifest;
        EXPECT_EQ(load(c.outer_document, manifest), c.valid) << c.name;
    }
}

TEST_F(Manifest, LastModuleEntryWins) {
    update_file_xml manifest;
    ASSERT_TRUE(load(outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\">one</file>"
                                     "<file id=\"Module\">two</file></files></update>")),
                     manifest));
    EXPECT_EQ(manifest.module, u"two");
    EXPECT_EQ(manifest.files.size(), 2u);
}

TEST_F(Manifest, NullOrEmptyInputFails) {
    update_file_xml manifest;
    EXPECT_FALSE(manifest.load(nullptr, 0));
    EXPECT_FALSE(manifest.load("x", 0));
    EXPECT_FALSE(manifest.load("x", -1));
}

TEST_F(Manifest, NonAsciiPathsSurviveTheRound) {
    update_file_xml manifest;
    ASSERT_TRUE(load(outer(scrambled("<update><files name=\"a.zip\"><file id=\"module\">\xED\x95\x9C.so</file></files></update>")),
                     manifest));
    EXPECT_EQ(manifest.module, u"\ud55c.so");
}

}  // namespace
