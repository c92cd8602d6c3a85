#pragma once
// MD5 (RFC 1321), used to check installed and downloaded module files against the manifest.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class md5 {
  public:
    md5();
    void update(const void* data, size_t size);
    // The digest of everything fed so far; the object is spent afterwards.
    std::array<uint8_t, 16> finish();
    // 32 lower-case hexadecimal digits of a digest.
    static std::u16string hex(const std::array<uint8_t, 16>& digest);

  private:
    uint32_t state[4];
    uint64_t length = 0;  // bytes fed
    uint8_t buffer[64] = {};
    size_t used = 0;
};

// The file's digest as 32 lower-case hexadecimal digits, read in large pieces straight into
// the buffer the digest runs over; "-1" when the file cannot be opened or read (a folder
// counts as unreadable).
std::u16string file_md5_hex(const std::u16string& path);

// How several files are digested at once: one file after another (scalar), or one file per
// vector lane: 4 with SSE2, 8 with AVX2, 16 with AVX-512. `automatic` takes the widest this
// processor runs; the others exist so that tests can run every path the machine has.
enum class md5_lanes { automatic, scalar, sse2, avx2, avx512 };
bool md5_lanes_available(md5_lanes lanes);

// file_md5_hex of each path, in the order given, computed together: on every start the
// installed files are checked, and digesting several at once in vector lanes is several times
// faster than one after another. A core the processor cannot run is taken as `automatic`.
std::vector<std::u16string> files_md5_hex(const std::vector<std::u16string>& paths,
                                          md5_lanes lanes = md5_lanes::automatic);
