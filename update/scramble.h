#pragma once
// The scrambling layer of the update manifest: a small seeded generator, base64, the key
// material shared with the shop's packing tool, and the two directions of the scramble.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The generator both sides use: state = state * 214013 + 2531011, draws (state >> 16) & 0x7FFF.
class scramble_random {
  public:
    explicit scramble_random(uint32_t seed) : state_(seed) {}
    uint32_t draw() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFF;
    }
    // A mask byte: the low 8 bits of (draw modulo 255).
    uint8_t mask_byte() { return static_cast<uint8_t>(draw() % 255); }

  private:
    uint32_t state_;
};

struct update_key {
    uint32_t seed = 0;
    std::array<uint8_t, 128> table{};
};

// The key material compiled into this build.
const update_key& builtin_update_key();
// Reads a key file ("data_key_seed = 0x..." and 128 hexadecimal bytes); false when malformed.
bool parse_update_key_file(std::string_view text, update_key& key);
// The 16-byte SEED key: table[i] XOR the generator's mask bytes seeded with the key's seed.
std::array<uint8_t, 16> derive_seed_key(const update_key& key);

// Base64 decoding that skips every character outside the standard alphabet ("=" included);
// a final run of 2 or 3 characters gives 1 or 2 bytes, a single one gives none.
std::vector<uint8_t> base64_decode(std::string_view text);
std::string base64_encode(const uint8_t* data, size_t size);

// Inner document bytes (UTF-8) to the text of the data attribute, with the given header words.
std::string scramble_update_data(std::string_view plain_utf8, uint32_t header0, uint32_t header1,
                                 const update_key& key);
// The launcher's direction, on bytes: false when the decoded length is below 8 or not 8 plus
// a multiple of 16. On success `plain` holds the payload up to its first zero byte.
bool unscramble_bytes(std::string_view data, const update_key& key, std::string& plain);
