#pragma once
// SEED, the 128-bit block cipher of RFC 4269, used to unscramble the update manifest.
#include <array>
#include <cstddef>
#include <cstdint>

class seed_cipher {
  public:
    explicit seed_cipher(const uint8_t key[16]);
    void encrypt_block(uint8_t block[16]) const;
    void decrypt_block(uint8_t block[16]) const;
    // ECB over whole blocks, in place; `size` must be a multiple of 16.
    void encrypt_ecb(uint8_t* data, size_t size) const;
    void decrypt_ecb(uint8_t* data, size_t size) const;

  private:
    std::array<uint32_t, 32> round_keys_{};
};
