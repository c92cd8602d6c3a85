#include "update/md5.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "os/file_io.h"
#include "os/platform.h"
#include "update/files.h"
#include "update/md5_lanes.h"
#include "update/md5_steps.h"

namespace {

constexpr uint32_t kInitial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// One read per refill: large enough that system calls cost little, small enough to stay in
// the processor's caches until the digest has run over it. A multiple of the block size.
constexpr size_t kReadSize = 64 * 1024;

uint32_t rotl(uint32_t x, int c) {
    return (x << c) | (x >> (32 - c));
}

// Little-endian word i of a block, whatever the host's byte order and alignment.
uint32_t word(const uint8_t* p, int i) {
    p += i * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// MD5 is one long chain of dependent operations; each step adds the message word and the
// constant first, off that chain, and the round functions are in forms with few operations
// on it (G as two separate additions). RFC 1321 section 4 permits any equivalent.
#define MD5_STEP(f, a, b, c, d, k, t, s) \
    a += word(p, k) + (t);               \
    f(a, b, c, d);                       \
    a = rotl(a, s) + b
#define MD5_F(a, b, c, d) a += (d) ^ ((b) & ((c) ^ (d)))
#define MD5_G(a, b, c, d) \
    a += ~(d) & (c);      \
    a += (d) & (b)
#define MD5_H(a, b, c, d) a += (b) ^ ((c) ^ (d))
#define MD5_I(a, b, c, d) a += (c) ^ ((b) | ~(d))

void md5_blocks(uint32_t* state, const uint8_t* p, size_t blocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, p += 64) {
        const uint32_t aa = a, bb = b, cc = c, dd = d;
        MD5_64_STEPS(MD5_STEP, MD5_F, MD5_G, MD5_H, MD5_I);
        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

// Writes the padding and the bit length after `size` bytes at p (RFC 1321 steps 1 and 2);
// returns the length of the padded tail, 64 or 128 bytes. p needs room for size + 72 bytes.
size_t pad_tail(uint8_t* p, size_t size, uint64_t total) {
    const size_t padded = size < 56 ? 64 : 128;
    p[size] = 0x80;
    std::memset(p + size + 1, 0, padded - 8 - size - 1);
    for (int i = 0; i < 8; ++i) p[padded - 8 + i] = static_cast<uint8_t>((total * 8) >> (8 * i));
    return padded;
}

std::u16string hex_of_state(const uint32_t* word0, size_t stride) {
    std::array<uint8_t, 16> out{};
    for (size_t i = 0; i < 4; ++i)
        for (size_t j = 0; j < 4; ++j)
            out[i * 4 + j] = static_cast<uint8_t>(word0[i * stride] >> (8 * j));
    return md5::hex(out);
}

// The one place a file is opened for its digest. Unbuffered: the large reads below then go
// straight from the system into the buffer the digest runs over, without a copy in between.
std::FILE* open_for_digest(const std::u16string& path) {
    // Opening a folder succeeds on some systems; it is no readable file.
    if (folder_exists(path)) return nullptr;
    std::FILE* f = os::open_file(path, "rb");
    if (f != nullptr) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

}  // namespace

md5::md5() : state{kInitial[0], kInitial[1], kInitial[2], kInitial[3]} {}

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
        md5_blocks(state, buffer, 1);
        used = 0;
    }
    md5_blocks(state, p, size / 64);
    p += size / 64 * 64;
    size %= 64;
    if (size > 0) {
        std::memcpy(buffer, p, size);
        used = size;
    }
}

std::array<uint8_t, 16> md5::finish() {
    uint8_t tail[128];
    std::memcpy(tail, buffer, used);
    md5_blocks(state, tail, pad_tail(tail, used, length) / 64);
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
    std::FILE* f = open_for_digest(path);
    if (!f) return u"-1";
    md5 digest;
    std::vector<uint8_t> piece(kReadSize);
    size_t n;
    while ((n = std::fread(piece.data(), 1, piece.size(), f)) > 0) digest.update(piece.data(), n);
    // A read error would otherwise yield the digest of a partial file.
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return u"-1";
    return md5::hex(digest.finish());
}

bool md5_lanes_available(md5_lanes lanes) {
    return lanes == md5_lanes::automatic || lanes == md5_lanes::scalar ||
           md5_lane_core_for(lanes).lanes > 0;
}

namespace {

md5_lane_core pick_core(md5_lanes lanes) {
    if (lanes == md5_lanes::scalar) return {};
    if (lanes != md5_lanes::automatic) {
        const md5_lane_core core = md5_lane_core_for(lanes);
        if (core.lanes > 0) return core;
    }
    for (md5_lanes widest : {md5_lanes::avx512, md5_lanes::avx2, md5_lanes::sse2}) {
        const md5_lane_core core = md5_lane_core_for(widest);
        if (core.lanes > 0) return core;
    }
    return {};
}

// One file per lane. Each lane owns a slot of the shared buffer: the lane's unread tail of
// fewer than 64 bytes, then one read, then room for the padding. Every lane advances by the
// same number of blocks per core run; a lane that runs dry is refilled, and a lane whose file
// is done takes the next file.
class lane_batch {
  public:
    lane_batch(const std::vector<std::u16string>& paths, md5_lane_core core)
        : paths_(paths),
          core_(core),
          lanes_(core.lanes),
          digests_(paths.size()),
          buffer_(lanes_ * kSlot),
          state_(4 * lanes_),
          offset_(lanes_),
          lane_(lanes_) {}

    std::vector<std::u16string> run() {
        for (size_t l = 0; l < lanes_; ++l) start_next(l);
        for (;;) {
            size_t busy = 0, blocks = SIZE_MAX, some = 0;
            for (size_t l = 0; l < lanes_; ++l) {
                if (!make_ready(l)) continue;
                ++busy;
                some = l;
                blocks = std::min<size_t>(blocks, (lane_[l].end - lane_[l].at) / 64);
            }
            if (busy == 0) break;
            if (busy == 1 && next_ == paths_.size()) {
                // The last file alone: the one-file core is faster than a mostly idle vector.
                finish_alone(some);
                continue;
            }
            for (size_t l = 0; l < lanes_; ++l)
                offset_[l] = lane_[l].f != nullptr ? lane_[l].at : lane_[some].at;
            core_.run(state_.data(), buffer_.data(), offset_.data(), blocks);
            for (size_t l = 0; l < lanes_; ++l)
                if (lane_[l].f != nullptr) lane_[l].at += static_cast<uint32_t>(blocks * 64);
        }
        return std::move(digests_);
    }

  private:
    static constexpr size_t kSlot = kReadSize + 128;  // tail + read + padding, in whole blocks

    struct lane {
        std::FILE* f = nullptr;  // set while the lane holds a file
        bool read_all = false, failed = false;
        size_t index = 0;
        uint32_t at = 0, end = 0;  // bytes not yet digested: [at, end) of the buffer
        uint64_t length = 0;
    };

    void start_next(size_t l) {
        lane& ln = lane_[l];
        ln = {};
        while (next_ < paths_.size()) {
            const size_t i = next_++;
            std::FILE* f = open_for_digest(paths_[i]);
            if (f == nullptr) {
                digests_[i] = u"-1";
                continue;
            }
            ln.f = f;
            ln.index = i;
            ln.at = ln.end = static_cast<uint32_t>(l * kSlot);
            for (size_t w = 0; w < 4; ++w) state_[w * lanes_ + l] = kInitial[w];
            return;
        }
    }

    // Brings the lane to at least one whole block to digest, finishing files on the way.
    // False when the lane is idle for good.
    bool make_ready(size_t l) {
        lane& ln = lane_[l];
        while (ln.f != nullptr) {
            if (!ln.failed && ln.end - ln.at >= 64) return true;
            if (ln.failed || ln.read_all) {  // with read_all, the padding is digested too
                digests_[ln.index] = ln.failed ? u"-1" : hex_of_state(&state_[l], lanes_);
                std::fclose(ln.f);
                start_next(l);
            } else {
                refill(l);
            }
        }
        return false;
    }

    // Moves the undigested tail to the front of the slot and reads behind it; at the end of
    // the file appends the padding. False on a read error, which fails the file: a digest of
    // part of it must never come out.
    bool refill(size_t l) {
        lane& ln = lane_[l];
        uint8_t* slot = buffer_.data() + l * kSlot;
        const size_t left = ln.end - ln.at;
        std::memmove(slot, buffer_.data() + ln.at, left);
        const size_t n = std::fread(slot + left, 1, kReadSize, ln.f);
        ln.length += n;
        size_t size = left + n;
        if (n < kReadSize) {
            if (std::ferror(ln.f) != 0) {
                ln.failed = true;
                return false;
            }
            ln.read_all = true;
            size = size / 64 * 64 + pad_tail(slot + size / 64 * 64, size % 64, ln.length);
        }
        ln.at = static_cast<uint32_t>(l * kSlot);
        ln.end = static_cast<uint32_t>(l * kSlot + size);
        return true;
    }

    void finish_alone(size_t l) {
        lane& ln = lane_[l];
        uint32_t own[4];
        for (size_t w = 0; w < 4; ++w) own[w] = state_[w * lanes_ + l];
        while (ln.end - ln.at >= 64) {
            const size_t blocks = (ln.end - ln.at) / 64;
            md5_blocks(own, buffer_.data() + ln.at, blocks);
            ln.at += static_cast<uint32_t>(blocks * 64);
            if (!ln.read_all && !refill(l)) break;
        }
        for (size_t w = 0; w < 4; ++w) state_[w * lanes_ + l] = own[w];
    }

    const std::vector<std::u16string>& paths_;
    const md5_lane_core core_;
    const size_t lanes_;
    std::vector<std::u16string> digests_;
    std::vector<uint8_t> buffer_;
    std::vector<uint32_t> state_, offset_;
    std::vector<lane> lane_;
    size_t next_ = 0;
};

}  // namespace

std::vector<std::u16string> files_md5_hex(const std::vector<std::u16string>& paths,
                                          md5_lanes lanes) {
    const md5_lane_core core = pick_core(lanes);
    if (core.lanes == 0) {
        std::vector<std::u16string> digests;
        digests.reserve(paths.size());
        for (const auto& path : paths) digests.push_back(file_md5_hex(path));
        return digests;
    }
    return lane_batch(paths, core).run();
}
