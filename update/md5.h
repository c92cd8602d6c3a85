#pragma once
// MD5 (RFC 1321), used to check installed and downloaded module files against the manifest.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class md5 {
  public:
    md5();
    void update(const void* data, size_t size);
    // The digest of everything fed so far; the object is spent afterwards.
    std::array<uint8_t, 16> finish();
    // 32 lower-case hexadecimal digits of a digest.
    static std::u16string hex(const std::array<uint8_t, 16>& digest);

  private:
    void block(const uint8_t* p);
    uint32_t state[4];
    uint64_t length = 0;  // bytes fed
    uint8_t buffer[64] = {};
    size_t used = 0;
};

// The file's digest as 32 lower-case hexadecimal digits, read in 1024-byte pieces;
// "-1" when the file cannot be opened or read (a folder counts as unreadable).
std::u16string file_md5_hex(const std::u16string& path);
