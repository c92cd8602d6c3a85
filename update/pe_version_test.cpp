#include "update/pe_version.h"

#include <cstdlib>
#include <cstring>

#include "tests/support/archives.h"
#include "update/update_test_util.h"

namespace {
std::string testdata(const std::string& name) {
    const char* src = std::getenv("QUORLA_SOURCE_DIR");
    return std::string(src ? src : ".") + "/update/testdata/" + name;
}
std::u16string version_of_bytes(const std::string& b) {
    return pe_version_text_from_memory(reinterpret_cast<const uint8_t*>(b.data()), b.size());
}
uint32_t get32(const std::string& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
void put32(std::string& b, size_t at, uint32_t v) {
    std::memcpy(&b[at], &v, 4);
}
}  // namespace

TEST(pe_version, KnownVersionsOfPe32AndPe32PlusImages) {
    const struct {
        const char* file;
        const char16_t* version;
    } rows[] = {
        {"version-1.2.3.4-x64.dll", u"1.2.3.4"},
        {"version-1.2.3.4-x86.dll", u"1.2.3.4"},
        {"version-65535.0.40000.7-x64.dll", u"65535.0.40000.7"},
        {"no-version-x64.dll", u""},
    };
    for (const auto& r : rows)
        EXPECT_EQ(file_version_text(from_utf8(testdata(r.file))), r.version) << r.file;
}

using pe_version_file_test = update_files_test;

TEST_F(pe_version_file_test, NonImagesAndMissingFilesHaveNoVersion) {
    write_file_bytes(at("text.dll"), "hello, not an image");
    write_file_bytes(at("empty.dll"), "");
    write_file_bytes(at("mz.dll"), "MZ");
    EXPECT_EQ(file_version_text(w("text.dll")), u"");
    EXPECT_EQ(file_version_text(w("empty.dll")), u"");
    EXPECT_EQ(file_version_text(w("mz.dll")), u"");
    EXPECT_EQ(file_version_text(w("missing.dll")), u"");
    EXPECT_EQ(file_version_text(w("")), u"");  // a folder
}

TEST(pe_version, EveryTruncationOfAnImageIsRefusedSafely) {
    const std::string full = read_file_bytes(testdata("version-1.2.3.4-x64.dll"));
    ASSERT_GT(full.size(), 1000u);
    size_t first_good = full.size();
    for (size_t n = 0; n <= full.size(); ++n) {
        const std::u16string v = version_of_bytes(full.substr(0, n));
        if (!v.empty()) {
            EXPECT_EQ(v, u"1.2.3.4") << n;
            first_good = std::min(first_good, n);
        }
    }
    EXPECT_EQ(version_of_bytes(full), u"1.2.3.4");
    // The version lies in the resource section, well past the headers.
    EXPECT_GT(first_good, 1024u);
    EXPECT_LT(first_good, full.size());
}

TEST(pe_version, CorruptHeaderFieldsGiveNoVersion) {
    const std::string full = read_file_bytes(testdata("version-1.2.3.4-x64.dll"));
    const uint32_t pe = get32(full, 0x3C);
    const size_t optional = pe + 24;
    const size_t sections = optional + (uint8_t(full[pe + 20]) | uint8_t(full[pe + 21]) << 8);
    const struct {
        const char* what;
        size_t at;
        uint32_t value;
    } rows[] = {
        {"pe offset beyond the file", 0x3C, 0xFFFFFFF0u},
        {"pe offset wraps", 0x3C, 0xFFFFFFFFu},
        {"signature", pe, 0x00004550u ^ 1},
        {"optional magic", optional, 0x1234},
        {"data directory count", optional + 108, 2},
        {"resource rva", optional + 112 + 16, 0xFFFFFF00u},
    };
    for (const auto& r : rows) {
        std::string b = full;
        put32(b, r.at, r.value);
        EXPECT_EQ(version_of_bytes(b), u"") << r.what;
    }
    // Every section's raw pointer and size pushed out of range.
    const uint16_t count = uint8_t(full[pe + 6]) | uint8_t(full[pe + 7]) << 8;
    for (uint16_t i = 0; i < count; ++i) {
        for (size_t field : {16u, 20u}) {
            std::string b = full;
            put32(b, sections + i * 40 + field, 0xFFFFFFF0u);
            const std::u16string v = version_of_bytes(b);
            EXPECT_TRUE(v.empty() || v == u"1.2.3.4") << i << " " << field;
        }
    }
}

TEST(pe_version, ResourceSizeIsCappedAtFourKilobytes) {
    std::string b = read_file_bytes(testdata("version-1.2.3.4-x64.dll"));
    // Claim a huge version resource: the reader must not ask for more than 4096 bytes.
    const std::u16string key = u"VS_VERSION_INFO";
    size_t info = b.find(std::string(reinterpret_cast<const char*>(key.data()), key.size() * 2));
    ASSERT_NE(info, std::string::npos);
    info -= 6;
    size_t data_entry = std::string::npos;
    for (size_t at = 0; at + 16 <= b.size(); at += 4) {
        const uint32_t size = get32(b, at + 4);
        if (size > 92 && size < 2048 && get32(b, at + 8) == 0 && get32(b, at + 12) == 0 &&
            (get32(b, at) & 0x1FF) == (info & 0x1FF)) {
            data_entry = at;
            break;
        }
    }
    ASSERT_NE(data_entry, std::string::npos);
    put32(b, data_entry + 4, 0x7FFFFFFF);
    size_t largest = 0;
    uint32_t ms = 0, ls = 0;
    const bool found = pe_fixed_file_version(
        [&](uint64_t offset, void* out, size_t n) {
            largest = std::max(largest, n);
            if (offset > b.size() || n > b.size() - offset) return false;
            std::memcpy(out, b.data() + offset, n);
            return true;
        },
        ms, ls);
    EXPECT_TRUE(found);
    EXPECT_LE(largest, 4096u);
    EXPECT_EQ(ms, 0x00010002u);
    EXPECT_EQ(ls, 0x00030004u);
}

TEST(pe_version, DamagedFixedInfoSignatureGivesNoVersion) {
    std::string b = read_file_bytes(testdata("version-1.2.3.4-x64.dll"));
    const std::string sig = "\xBD\x04\xEF\xFE";
    const size_t at = b.find(sig);
    ASSERT_NE(at, std::string::npos);
    b[at] = 0;
    EXPECT_EQ(version_of_bytes(b), u"");
}
