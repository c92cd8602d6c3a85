// SEED against the RFC 4269 vectors and against openssl's legacy SEED cipher.
#include "update/seed.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sandbox.h"

namespace {

struct seed_vector {
    const char* name;
    uint8_t key[16];
    uint8_t plain[16];
    uint8_t cipher[16];
};

// RFC 4269, appendix B.
const seed_vector kVectors[] = {
    {"zero key",
     {0},
     {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
      0x0F},
     {0x5E, 0xBA, 0xC6, 0xE0, 0x05, 0x4E, 0x16, 0x68, 0x19, 0xAF, 0xF1, 0xCC, 0x6D, 0x34, 0x6C,
      0xDB}},
    {"zero plain text",
     {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
      0x0F},
     {0},
     {0xC1, 0x1F, 0x22, 0xF2, 0x01, 0x40, 0x50, 0x50, 0x84, 0x48, 0x35, 0x97, 0xE4, 0x37, 0x0F,
      0x43}},
    {"third vector",
     {0x47, 0x06, 0x48, 0x08, 0x51, 0xE6, 0x1B, 0xE8, 0x5D, 0x74, 0xBF, 0xB3, 0xFD, 0x95, 0x61,
      0x85},
     {0x83, 0xA2, 0xF8, 0xA2, 0x88, 0x64, 0x1F, 0xB9, 0xA4, 0xE9, 0xA5, 0xCC, 0x2F, 0x13, 0x1C,
      0x7D},
     {0xEE, 0x54, 0xD1, 0x3E, 0xBC, 0xAE, 0x70, 0x6D, 0x22, 0x6B, 0xC3, 0x14, 0x2C, 0xD4, 0x0D,
      0x4A}},
    {"fourth vector",
     {0x28, 0xDB, 0xC3, 0xBC, 0x49, 0xFF, 0xD8, 0x7D, 0xCF, 0xA5, 0x09, 0xB1, 0x1D, 0x42, 0x2B,
      0xE7},
     {0xB4, 0x1E, 0x6B, 0xE2, 0xEB, 0xA8, 0x4A, 0x14, 0x8E, 0x2E, 0xED, 0x84, 0x59, 0x3C, 0x5E,
      0xC7},
     {0x9B, 0x9B, 0x7B, 0xFC, 0xD1, 0x81, 0x3C, 0xB9, 0x5D, 0x0B, 0x36, 0x18, 0xF4, 0x0F, 0x51,
      0x22}},
};

std::vector<uint8_t> bytes(const uint8_t* p, size_t n) {
    return std::vector<uint8_t>(p, p + n);
}

std::string hex(const uint8_t* p, size_t n) {
    std::string s;
    char buf[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        s += buf;
    }
    return s;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs openssl's SEED-ECB over a file; empty when the command fails.
std::string openssl_seed(const std::string& key_hex, const std::string& in, bool decrypt,
                         std::string* error) {
    const std::string file = test_support::build_machine_path(in);
    const std::string cmd = std::string("openssl enc ") + (decrypt ? "-d " : "") +
                            "-seed-ecb -provider legacy -provider default -nopad -K " + key_hex +
                            " -in " + file + " -out " + file + ".out 2>" + file + ".err";
    const int rc = test_support::run_build_machine_command(cmd);
    if (rc != 0) {
        *error = read_all(in + ".err");
        return {};
    }
    return read_all(in + ".out");
}

}  // namespace

TEST(seed_cipher_test, EncryptionMatchesTheRfcVectors) {
    for (const auto& v : kVectors) {
        SCOPED_TRACE(v.name);
        uint8_t block[16];
        std::copy(v.plain, v.plain + 16, block);
        seed_cipher(v.key).encrypt_block(block);
        EXPECT_EQ(bytes(block, 16), bytes(v.cipher, 16));
    }
}

TEST(seed_cipher_test, DecryptionMatchesTheRfcVectors) {
    for (const auto& v : kVectors) {
        SCOPED_TRACE(v.name);
        uint8_t block[16];
        std::copy(v.cipher, v.cipher + 16, block);
        seed_cipher(v.key).decrypt_block(block);
        EXPECT_EQ(bytes(block, 16), bytes(v.plain, 16));
    }
}

TEST(seed_cipher_test, EcbTreatsEachBlockAloneAndLeavesATailUntouched) {
    const auto& v = kVectors[2];
    std::vector<uint8_t> data;
    for (int i = 0; i < 3; ++i) data.insert(data.end(), v.plain, v.plain + 16);
    data.push_back(0xAB);  // not a whole block: left as it is
    seed_cipher cipher(v.key);
    cipher.encrypt_ecb(data.data(), data.size());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bytes(data.data() + 16 * i, 16), bytes(v.cipher, 16)) << i;
    EXPECT_EQ(data.back(), 0xAB);
    cipher.decrypt_ecb(data.data(), data.size());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(bytes(data.data() + 16 * i, 16), bytes(v.plain, 16)) << i;
}

TEST(seed_cipher_test, AgreesWithOpensslOnRandomKeysAndBlocks) {
    const std::string dir = test_support::make_temporary_folder("quorla-seed").string();
    std::mt19937 random(4269);
    bool skipped = false;
    std::string why;
    for (int round = 0; round < 8 && !skipped; ++round) {
        uint8_t key[16];
        for (auto& b : key) b = uint8_t(random());
        std::vector<uint8_t> plain(16 * (1 + round));
        for (auto& b : plain) b = uint8_t(random());
        const std::string in = dir + "/plain" + std::to_string(round);
        std::ofstream(in, std::ios::binary)
            .write(reinterpret_cast<const char*>(plain.data()), std::streamsize(plain.size()));
        const std::string theirs = openssl_seed(hex(key, 16), in, false, &why);
        if (theirs.empty()) {
            skipped = true;
            break;
        }
        std::vector<uint8_t> ours = plain;
        seed_cipher cipher(key);
        cipher.encrypt_ecb(ours.data(), ours.size());
        ASSERT_EQ(std::string(ours.begin(), ours.end()), theirs) << "round " << round;

        // And openssl's decryption of our cipher text gives the plain text back, as does ours.
        const std::string back_in = in + ".ours";
        std::ofstream(back_in, std::ios::binary)
            .write(reinterpret_cast<const char*>(ours.data()), std::streamsize(ours.size()));
        EXPECT_EQ(openssl_seed(hex(key, 16), back_in, true, &why),
                  std::string(plain.begin(), plain.end()));
        cipher.decrypt_ecb(ours.data(), ours.size());
        EXPECT_EQ(ours, plain);
    }
    std::filesystem::remove_all(dir);
    if (skipped) GTEST_SKIP() << "openssl has no legacy SEED cipher here: " << why;
}
