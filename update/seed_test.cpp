#include "update/seed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "update/scramble.h"

namespace {

std::vector<uint8_t> hex_bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(Seed, PublishedTestVectors) {
    struct Case {
        std::string key, plain, cipher;
    } cases[] = {
        {"00000000000000000000000000000000", "000102030405060708090A0B0C0D0E0F",
         "5EBAC6E0054E166819AFF1CC6D346CDB"},
        {"000102030405060708090A0B0C0D0E0F", "00000000000000000000000000000000",
         "C11F22F201405050844835 97E4370F43"},
        {"4706480851E61BE85D74BFB3FD956185", "83A2F8A288641FB9A4E9A5CC2F131C7D",
         "EE54D13EBCAE706D226BC3142CD40D4A"},
        {"28DBC3BC49FFD87DCFA509B11D422BE7", "B41E6BE2EBA84A148E2EED84593C5EC7",
         "9B9B7BFCD1813CB95D0B3618F40F5122"},
    };
    for (auto& c : cases) {
        std::erase(c.cipher, ' ');
        const auto key = hex_bytes(c.key);
        auto block = hex_bytes(c.plain);
        seed_cipher cipher(key.data());
        cipher.encrypt_block(block.data());
        EXPECT_EQ(block, hex_bytes(c.cipher)) << c.key;
        cipher.decrypt_block(block.data());
        EXPECT_EQ(block, hex_bytes(c.plain)) << c.key;
    }
}

// The openssl command's own SEED agrees with ours on random keys and blocks.
TEST(Seed, AgreesWithOpensslOnRandomBlocks) {
    const auto dir = std::filesystem::temp_directory_path() / ("quorla-seed-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::mt19937 random(12345);
    for (int round = 0; round < 4; ++round) {
        uint8_t key[16];
        for (auto& b : key) b = uint8_t(random());
        std::vector<uint8_t> data(16 * 8);
        for (auto& b : data) b = uint8_t(random());
        { std::ofstream(dir / "in", std::ios::binary).write(reinterpret_cast<char*>(data.data()), data.size()); }
        char hex[33];
        for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", key[i]);
        const std::string command = "openssl enc -seed-ecb -provider legacy -provider default -nopad -K " +
                                    std::string(hex) + " -in " + (dir / "in").string() + " -out " +
                                    (dir / "out").string() + " 2>/dev/null";
        if (std::system(command.c_str()) != 0) GTEST_SKIP() << "openssl lacks the legacy SEED cipher";
        std::ifstream in(dir / "out", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        const std::string theirs = s.str();
        seed_cipher(key).encrypt_ecb(data.data(), data.size());
        EXPECT_EQ(theirs, std::string(data.begin(), data.end()));
    }
    std::filesystem::remove_all(dir);
}

TEST(Scramble, GeneratorMatchesTheSharedDefinition) {
    scramble_random r(1);
    // state = 1 * 214013 + 2531011 = 2745024 -> 41
    EXPECT_EQ(r.draw(), 41u);
    EXPECT_EQ(r.draw(), 18467u);
    scramble_random m(0);
    EXPECT_EQ(m.mask_byte(), (2531011u >> 16 & 0x7FFF) % 255);
}

TEST(Scramble, Base64SkipsForeignCharactersAndHandlesShortTails) {
    EXPECT_EQ(base64_decode("QUJD"), (std::vector<uint8_t>{'A', 'B', 'C'}));
    EXPECT_EQ(base64_decode("QU\r\nJ D\n"), (std::vector<uint8_t>{'A', 'B', 'C'}));
    EXPECT_EQ(base64_decode("QQ=="), (std::vector<uint8_t>{'A'}));
    EXPECT_EQ(base64_decode("QUI"), (std::vector<uint8_t>{'A', 'B'}));
    EXPECT_EQ(base64_decode("QUJDR"), (std::vector<uint8_t>{'A', 'B', 'C'}));
    EXPECT_TRUE(base64_decode("").empty());
    const uint8_t raw[] = {0, 255, 1, 2, 3};
    EXPECT_EQ(base64_decode(base64_encode(raw, 5)), std::vector<uint8_t>(raw, raw + 5));
}

TEST(Scramble, KeyFileParsesLikeTheBuiltinKey) {
    const char* source = std::getenv("QUORLA_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream in(std::string(source) + "/res/update-key.txt");
    std::stringstream s;
    s << in.rdbuf();
    update_key parsed;
    ASSERT_TRUE(parse_update_key_file(s.str(), parsed));
    EXPECT_EQ(parsed.seed, builtin_update_key().seed);
    EXPECT_EQ(parsed.table, builtin_update_key().table);
    update_key bad;
    EXPECT_FALSE(parse_update_key_file("data_key_seed = 1\n00 11\n", bad));
    EXPECT_FALSE(parse_update_key_file("other = 1\n", bad));
}

}  // namespace
