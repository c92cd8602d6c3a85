#include "update/md5.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text/platform.h"
#include "update/files.h"

namespace {

uint32_t rotl(uint32_t x, int c) {
    return (x << c) | (x >> (32 - c));
}

// Little-endian word i of a block, whatever the host's byte order and alignment.
uint32_t word(const uint8_t* p, int i) {
    p += i * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The four rounds written out step by step: the digest is checked for every installed file
// on every start, so the core must keep up with the disk. F and G are rewritten in forms with
// fewer dependent operations (RFC 1321 section 4 permits any equivalent).
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    a += (x) + (t) + f(b, c, d);         \
    a = rotl(a, s) + b
#define MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define MD5_G(b, c, d) ((~(d) & (c)) + ((d) & (b)))
#define MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

}  // namespace

md5::md5() : state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void md5::block(const uint8_t* p) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = word(p, i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    MD5_STEP(MD5_F, a, b, c, d, m[0], 0xd76aa478, 7);
    MD5_STEP(MD5_F, d, a, b, c, m[1], 0xe8c7b756, 12);
    MD5_STEP(MD5_F, c, d, a, b, m[2], 0x242070db, 17);
    MD5_STEP(MD5_F, b, c, d, a, m[3], 0xc1bdceee, 22);
    MD5_STEP(MD5_F, a, b, c, d, m[4], 0xf57c0faf, 7);
    MD5_STEP(MD5_F, d, a, b, c, m[5], 0x4787c62a, 12);
    MD5_STEP(MD5_F, c, d, a, b, m[6], 0xa8304613, 17);
    MD5_STEP(MD5_F, b, c, d, a, m[7], 0xfd469501, 22);
    MD5_STEP(MD5_F, a, b, c, d, m[8], 0x698098d8, 7);
    MD5_STEP(MD5_F, d, a, b, c, m[9], 0x8b44f7af, 12);
    MD5_STEP(MD5_F, c, d, a, b, m[10], 0xffff5bb1, 17);
    MD5_STEP(MD5_F, b, c, d, a, m[11], 0x895cd7be, 22);
    MD5_STEP(MD5_F, a, b, c, d, m[12], 0x6b901122, 7);
    MD5_STEP(MD5_F, d, a, b, c, m[13], 0xfd987193, 12);
    MD5_STEP(MD5_F, c, d, a, b, m[14], 0xa679438e, 17);
    MD5_STEP(MD5_F, b, c, d, a, m[15], 0x49b40821, 22);

    MD5_STEP(MD5_G, a, b, c, d, m[1], 0xf61e2562, 5);
    MD5_STEP(MD5_G, d, a, b, c, m[6], 0xc040b340, 9);
    MD5_STEP(MD5_G, c, d, a, b, m[11], 0x265e5a51, 14);
    MD5_STEP(MD5_G, b, c, d, a, m[0], 0xe9b6c7aa, 20);
    MD5_STEP(MD5_G, a, b, c, d, m[5], 0xd62f105d, 5);
    MD5_STEP(MD5_G, d, a, b, c, m[10], 0x02441453, 9);
    MD5_STEP(MD5_G, c, d, a, b, m[15], 0xd8a1e681, 14);
    MD5_STEP(MD5_G, b, c, d, a, m[4], 0xe7d3fbc8, 20);
    MD5_STEP(MD5_G, a, b, c, d, m[9], 0x21e1cde6, 5);
    MD5_STEP(MD5_G, d, a, b, c, m[14], 0xc33707d6, 9);
    MD5_STEP(MD5_G, c, d, a, b, m[3], 0xf4d50d87, 14);
    MD5_STEP(MD5_G, b, c, d, a, m[8], 0x455a14ed, 20);
    MD5_STEP(MD5_G, a, b, c, d, m[13], 0xa9e3e905, 5);
    MD5_STEP(MD5_G, d, a, b, c, m[2], 0xfcefa3f8, 9);
    MD5_STEP(MD5_G, c, d, a, b, m[7], 0x676f02d9, 14);
    MD5_STEP(MD5_G, b, c, d, a, m[12], 0x8d2a4c8a, 20);

    MD5_STEP(MD5_H, a, b, c, d, m[5], 0xfffa3942, 4);
    MD5_STEP(MD5_H, d, a, b, c, m[8], 0x8771f681, 11);
    MD5_STEP(MD5_H, c, d, a, b, m[11], 0x6d9d6122, 16);
    MD5_STEP(MD5_H, b, c, d, a, m[14], 0xfde5380c, 23);
    MD5_STEP(MD5_H, a, b, c, d, m[1], 0xa4beea44, 4);
    MD5_STEP(MD5_H, d, a, b, c, m[4], 0x4bdecfa9, 11);
    MD5_STEP(MD5_H, c, d, a, b, m[7], 0xf6bb4b60, 16);
    MD5_STEP(MD5_H, b, c, d, a, m[10], 0xbebfbc70, 23);
    MD5_STEP(MD5_H, a, b, c, d, m[13], 0x289b7ec6, 4);
    MD5_STEP(MD5_H, d, a, b, c, m[0], 0xeaa127fa, 11);
    MD5_STEP(MD5_H, c, d, a, b, m[3], 0xd4ef3085, 16);
    MD5_STEP(MD5_H, b, c, d, a, m[6], 0x04881d05, 23);
    MD5_STEP(MD5_H, a, b, c, d, m[9], 0xd9d4d039, 4);
    MD5_STEP(MD5_H, d, a, b, c, m[12], 0xe6db99e5, 11);
    MD5_STEP(MD5_H, c, d, a, b, m[15], 0x1fa27cf8, 16);
    MD5_STEP(MD5_H, b, c, d, a, m[2], 0xc4ac5665, 23);

    MD5_STEP(MD5_I, a, b, c, d, m[0], 0xf4292244, 6);
    MD5_STEP(MD5_I, d, a, b, c, m[7], 0x432aff97, 10);
    MD5_STEP(MD5_I, c, d, a, b, m[14], 0xab9423a7, 15);
    MD5_STEP(MD5_I, b, c, d, a, m[5], 0xfc93a039, 21);
    MD5_STEP(MD5_I, a, b, c, d, m[12], 0x655b59c3, 6);
    MD5_STEP(MD5_I, d, a, b, c, m[3], 0x8f0ccc92, 10);
    MD5_STEP(MD5_I, c, d, a, b, m[10], 0xffeff47d, 15);
    MD5_STEP(MD5_I, b, c, d, a, m[1], 0x85845dd1, 21);
    MD5_STEP(MD5_I, a, b, c, d, m[8], 0x6fa87e4f, 6);
    MD5_STEP(MD5_I, d, a, b, c, m[15], 0xfe2ce6e0, 10);
    MD5_STEP(MD5_I, c, d, a, b, m[6], 0xa3014314, 15);
    MD5_STEP(MD5_I, b, c, d, a, m[13], 0x4e0811a1, 21);
    MD5_STEP(MD5_I, a, b, c, d, m[4], 0xf7537e82, 6);
    MD5_STEP(MD5_I, d, a, b, c, m[11], 0xbd3af235, 10);
    MD5_STEP(MD5_I, c, d, a, b, m[2], 0x2ad7d2bb, 15);
    MD5_STEP(MD5_I, b, c, d, a, m[9], 0xeb86d391, 21);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void md5::update(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    length += size;
    if (used > 0) {
        const size_t take = std::min(size, sizeof buffer - used);
        std::memcpy(buffer + used, p, take);
        used += take;
        p += take;
        size -= take;
        if (used < sizeof buffer) return;
        block(buffer);
        used = 0;
    }
    while (size >= 64) {
        block(p);
        p += 64;
        size -= 64;
    }
    if (size > 0) {
        std::memcpy(buffer, p, size);
        used = size;
    }
}

std::array<uint8_t, 16> md5::finish() {
    const uint64_t bits = length * 8;
    static const uint8_t pad[64] = {0x80};
    const size_t pad_len = used < 56 ? 56 - used : 120 - used;
    update(pad, pad_len);
    uint8_t len_bytes[8];
    for (int i = 0; i < 8; ++i) len_bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    update(len_bytes, 8);
    std::array<uint8_t, 16> out{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[i * 4 + j] = static_cast<uint8_t>(state[i] >> (8 * j));
    return out;
}

std::u16string md5::hex(const std::array<uint8_t, 16>& digest) {
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string s;
    for (uint8_t b : digest) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

std::u16string file_md5_hex(const std::u16string& path) {
    // Opening a folder succeeds on some systems; it is no readable file.
    if (folder_exists(path)) return u"-1";
    std::FILE* f = std::fopen(native_path(path).c_str(), "rb");
    if (!f) return u"-1";
    // The pieces stay 1024 bytes; a larger stdio buffer behind them saves the system call
    // per 4 KiB that the default buffer costs, a fifth of the time on a large cached file.
    std::setvbuf(f, nullptr, _IOFBF, 64 * 1024);
    md5 digest;
    unsigned char piece[1024];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) digest.update(piece, n);
    // A read error would otherwise yield the digest of a partial file.
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return u"-1";
    return md5::hex(digest.finish());
}
