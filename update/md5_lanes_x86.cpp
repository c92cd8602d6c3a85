// Vector cores for x86: one file per 32-bit lane, the widest the processor runs picked at run
// time, so one build serves every x86 machine. Each core is compiled for its own instruction
// set through a target attribute; nothing here runs unless the processor reports it.
#include <immintrin.h>

#include <cstring>

#include "update/md5_lanes.h"
#include "update/md5_steps.h"

namespace {

// ---- SSE2, 4 lanes (every x86-64 has it) -----------------------------------------------------

#define SSE_ROTL(x, s) _mm_or_si128(_mm_slli_epi32(x, s), _mm_srli_epi32(x, 32 - (s)))
#define SSE_F(b, c, d) _mm_xor_si128(d, _mm_and_si128(b, _mm_xor_si128(c, d)))
#define SSE_G(b, c, d) _mm_or_si128(_mm_and_si128(d, b), _mm_andnot_si128(d, c))
#define SSE_H(b, c, d) _mm_xor_si128(b, _mm_xor_si128(c, d))
#define SSE_I(b, c, d) _mm_xor_si128(c, _mm_or_si128(b, _mm_xor_si128(d, ones)))
#define SSE_STEP(f, a, b, c, d, k, t, s)                                            \
    a = _mm_add_epi32(a, _mm_add_epi32(m[k], _mm_set1_epi32(static_cast<int>(t)))); \
    a = _mm_add_epi32(a, f(b, c, d));                                               \
    a = _mm_add_epi32(SSE_ROTL(a, s), b)

uint32_t load_le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);  // x86 is little-endian, as MD5 reads its words
    return v;
}

__attribute__((target("sse2"))) void run_sse2(uint32_t* state, const uint8_t* base,
                                              const uint32_t* offset, size_t blocks) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 8));
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 12));
    const __m128i ones = _mm_set1_epi32(-1);
    const uint8_t* p[4] = {base + offset[0], base + offset[1], base + offset[2], base + offset[3]};
    for (; blocks > 0; --blocks) {
        __m128i m[16];
        for (int k = 0; k < 16; ++k)
            m[k] = _mm_set_epi32(static_cast<int>(load_le32(p[3] + 4 * k)),
                                 static_cast<int>(load_le32(p[2] + 4 * k)),
                                 static_cast<int>(load_le32(p[1] + 4 * k)),
                                 static_cast<int>(load_le32(p[0] + 4 * k)));
        for (auto& q : p) q += 64;
        const __m128i aa = a, bb = b, cc = c, dd = d;
        MD5_64_STEPS(SSE_STEP, SSE_F, SSE_G, SSE_H, SSE_I);
        a = _mm_add_epi32(a, aa);
        b = _mm_add_epi32(b, bb);
        c = _mm_add_epi32(c, cc);
        d = _mm_add_epi32(d, dd);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), b);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 8), c);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 12), d);
}

// ---- AVX2, 8 lanes: the same steps on 256-bit registers, words fetched by gathers ------------

#define AVX2_ROTL(x, s) _mm256_or_si256(_mm256_slli_epi32(x, s), _mm256_srli_epi32(x, 32 - (s)))
#define AVX2_F(b, c, d) _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)))
#define AVX2_G(b, c, d) _mm256_or_si256(_mm256_and_si256(d, b), _mm256_andnot_si256(d, c))
#define AVX2_H(b, c, d) _mm256_xor_si256(b, _mm256_xor_si256(c, d))
#define AVX2_I(b, c, d) _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, ones)))
#define AVX2_STEP(f, a, b, c, d, k, t, s)                                                    \
    a = _mm256_add_epi32(a, _mm256_add_epi32(m[k], _mm256_set1_epi32(static_cast<int>(t)))); \
    a = _mm256_add_epi32(a, f(b, c, d));                                                     \
    a = _mm256_add_epi32(AVX2_ROTL(a, s), b)

__attribute__((target("avx2"))) void run_avx2(uint32_t* state, const uint8_t* base,
                                              const uint32_t* offset, size_t blocks) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 8));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 16));
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 24));
    __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offset));
    const __m256i ones = _mm256_set1_epi32(-1), next = _mm256_set1_epi32(64);
    const int* words = reinterpret_cast<const int*>(base);
    for (; blocks > 0; --blocks) {
        __m256i m[16];
        for (int k = 0; k < 16; ++k) m[k] = _mm256_i32gather_epi32(words + k, at, 1);
        at = _mm256_add_epi32(at, next);
        const __m256i aa = a, bb = b, cc = c, dd = d;
        MD5_64_STEPS(AVX2_STEP, AVX2_F, AVX2_G, AVX2_H, AVX2_I);
        a = _mm256_add_epi32(a, aa);
        b = _mm256_add_epi32(b, bb);
        c = _mm256_add_epi32(c, cc);
        d = _mm256_add_epi32(d, dd);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 8), b);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 16), c);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 24), d);
}

// ---- AVX-512, 16 lanes: each round function is one three-input logic instruction (its truth
// table as the immediate) and the rotation is one instruction -----------------------------------

#define AVX512_STEP(f, a, b, c, d, k, t, s)                                                  \
    a = _mm512_add_epi32(a, _mm512_add_epi32(m[k], _mm512_set1_epi32(static_cast<int>(t)))); \
    a = _mm512_add_epi32(a, _mm512_ternarylogic_epi32(b, c, d, f));                          \
    a = _mm512_add_epi32(_mm512_rol_epi32(a, s), b)
// Truth tables over (b, c, d): (b & c) | (~b & d), (b & d) | (c & ~d), b ^ c ^ d, c ^ (b | ~d).
#define AVX512_F 0xca
#define AVX512_G 0xe4
#define AVX512_H 0x96
#define AVX512_I 0x39

// The 16 message words of one block of each lane: loads one 64-byte block per lane and
// transposes the 16 x 16 words, so that m[w] holds word w of every lane. Four shuffle stages
// cost less than a gather per word.
__attribute__((target("avx512f"))) inline void load_transposed(const uint8_t* const* p,
                                                               __m512i* m) {
    __m512i t[16], u[16];
    for (int i = 0; i < 16; i += 2) {
        const __m512i r0 = _mm512_loadu_si512(p[i]), r1 = _mm512_loadu_si512(p[i + 1]);
        // Per 128 bits: words 0, 0, 1, 1 and words 2, 2, 3, 3 of rows i and i + 1.
        t[i] = _mm512_unpacklo_epi32(r0, r1);
        t[i + 1] = _mm512_unpackhi_epi32(r0, r1);
    }
    for (int g = 0; g < 16; g += 4) {  // per 128 bits j: word 4j+q of rows g..g+3 in u[g+q]
        u[g] = _mm512_unpacklo_epi64(t[g], t[g + 2]);
        u[g + 1] = _mm512_unpackhi_epi64(t[g], t[g + 2]);
        u[g + 2] = _mm512_unpacklo_epi64(t[g + 1], t[g + 3]);
        u[g + 3] = _mm512_unpackhi_epi64(t[g + 1], t[g + 3]);
    }
    for (int q = 0; q < 4; ++q) {  // then the 4 x 4 transpose of the 128-bit parts
        const __m512i v0 = _mm512_shuffle_i32x4(u[q], u[4 + q], 0x44);
        const __m512i v1 = _mm512_shuffle_i32x4(u[q], u[4 + q], 0xee);
        const __m512i v2 = _mm512_shuffle_i32x4(u[8 + q], u[12 + q], 0x44);
        const __m512i v3 = _mm512_shuffle_i32x4(u[8 + q], u[12 + q], 0xee);
        m[q] = _mm512_shuffle_i32x4(v0, v2, 0x88);
        m[4 + q] = _mm512_shuffle_i32x4(v0, v2, 0xdd);
        m[8 + q] = _mm512_shuffle_i32x4(v1, v3, 0x88);
        m[12 + q] = _mm512_shuffle_i32x4(v1, v3, 0xdd);
    }
}

__attribute__((target("avx512f"))) void run_avx512(uint32_t* state, const uint8_t* base,
                                                   const uint32_t* offset, size_t blocks) {
    __m512i a = _mm512_loadu_si512(state);
    __m512i b = _mm512_loadu_si512(state + 16);
    __m512i c = _mm512_loadu_si512(state + 32);
    __m512i d = _mm512_loadu_si512(state + 48);
    const uint8_t* p[16];
    for (int i = 0; i < 16; ++i) p[i] = base + offset[i];
    for (; blocks > 0; --blocks) {
        __m512i m[16];
        load_transposed(p, m);
        for (auto& q : p) q += 64;
        const __m512i aa = a, bb = b, cc = c, dd = d;
        MD5_64_STEPS(AVX512_STEP, AVX512_F, AVX512_G, AVX512_H, AVX512_I);
        a = _mm512_add_epi32(a, aa);
        b = _mm512_add_epi32(b, bb);
        c = _mm512_add_epi32(c, cc);
        d = _mm512_add_epi32(d, dd);
    }
    _mm512_storeu_si512(state, a);
    _mm512_storeu_si512(state + 16, b);
    _mm512_storeu_si512(state + 32, c);
    _mm512_storeu_si512(state + 48, d);
}

}  // namespace

md5_lane_core md5_lane_core_for(md5_lanes lanes) {
    // The checks also ask the system whether it saves the wider registers.
    __builtin_cpu_init();
    switch (lanes) {
        case md5_lanes::sse2:
            if (__builtin_cpu_supports("sse2")) return {4, run_sse2};
            break;
        case md5_lanes::avx2:
            if (__builtin_cpu_supports("avx2")) return {8, run_avx2};
            break;
        case md5_lanes::avx512:
            if (__builtin_cpu_supports("avx512f")) return {16, run_avx512};
            break;
        default:
            break;
    }
    return {};
}
