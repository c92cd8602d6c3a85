#include "update/pe_version.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "os/file_io.h"
#include "text/format.h"
#include "os/platform.h"
#include "update/files.h"

namespace {

// The version information is read into a buffer of this size, as the platform reader does.
constexpr size_t kVersionBufferSize = 4096;
constexpr uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr uint32_t kVersionInfoId = 1;         // VS_VERSION_INFO
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;

uint16_t u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct section {
    uint32_t va, virtual_size, raw_size, raw_pointer;
};

class image {
  public:
    explicit image(const pe_read& r) : read(r) {}

    bool load_headers(uint32_t& resource_rva) {
        uint8_t dos[64];
        if (!read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
        const uint64_t pe = u32(dos + 0x3C);
        uint8_t coff[24];
        if (!read(pe, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return false;
        const uint16_t section_count = u16(coff + 6);
        const uint16_t optional_size = u16(coff + 20);
        const uint64_t optional = pe + 24;
        uint8_t magic[2];
        if (!read(optional, magic, 2)) return false;
        uint32_t count_at, dirs_at;
        if (u16(magic) == 0x10b) {  // PE32
            count_at = 92;
            dirs_at = 96;
        } else if (u16(magic) == 0x20b) {  // PE32+
            count_at = 108;
            dirs_at = 112;
        } else {
            return false;
        }
        // The resource table is data directory 2; it must lie inside the optional header.
        if (optional_size < dirs_at + 3 * 8) return false;
        uint8_t count[4], dir[8];
        if (!read(optional + count_at, count, 4) || u32(count) < 3) return false;
        if (!read(optional + dirs_at + 2 * 8, dir, 8)) return false;
        resource_rva = u32(dir);
        if (resource_rva == 0 || u32(dir + 4) == 0) return false;
        const uint64_t table = optional + optional_size;
        for (uint32_t i = 0; i < section_count; ++i) {
            uint8_t s[40];
            if (!read(table + uint64_t(i) * 40, s, sizeof s)) return false;
            sections.push_back({u32(s + 12), u32(s + 8), u32(s + 16), u32(s + 20)});
        }
        return true;
    }

    // File offset of an address and how many bytes of file data follow it in its section.
    bool map(uint32_t rva, uint64_t& offset, uint64_t& available) const {
        for (const auto& s : sections) {
            const uint64_t span = std::max(s.virtual_size, s.raw_size);
            if (rva < s.va || uint64_t(rva) >= uint64_t(s.va) + span) continue;
            const uint64_t delta = rva - s.va;
            if (delta >= s.raw_size) return false;  // uninitialised data, not in the file
            offset = uint64_t(s.raw_pointer) + delta;
            available = s.raw_size - delta;
            return true;
        }
        return false;
    }

    const pe_read& read;
    std::vector<section> sections;
};

// One level of the resource tree: the entry with `id`, or the first entry when id < 0.
// Offsets are relative to the resource root and must stay inside the resource section.
bool find_entry(const pe_read& read, uint64_t root, uint64_t limit, uint64_t dir, int64_t id,
                uint32_t& value) {
    if (dir + 16 > limit) return false;
    uint8_t head[16];
    if (!read(root + dir, head, sizeof head)) return false;
    const uint32_t named = u16(head + 12), ids = u16(head + 14);
    const uint32_t first = id < 0 ? 0 : named;  // numbered entries follow the named ones
    for (uint32_t i = first; i < named + ids; ++i) {
        const uint64_t at = dir + 16 + uint64_t(i) * 8;
        if (at + 8 > limit) return false;
        uint8_t e[8];
        if (!read(root + at, e, sizeof e)) return false;
        if (id < 0 || (!(u32(e) & 0x80000000u) && u32(e) == uint32_t(id))) {
            value = u32(e + 4);
            return true;
        }
    }
    return false;
}

}  // namespace

bool pe_fixed_file_version(const pe_read& read, uint32_t& version_ms, uint32_t& version_ls) {
    image pe(read);
    uint32_t resource_rva = 0;
    if (!pe.load_headers(resource_rva)) return false;
    uint64_t root = 0, limit = 0;
    if (!pe.map(resource_rva, root, limit)) return false;

    // type -> name -> language: RT_VERSION, VS_VERSION_INFO, then the first language.
    uint32_t v = 0;
    if (!find_entry(read, root, limit, 0, kResourceTypeVersion, v) || !(v & 0x80000000u))
        return false;
    if (!find_entry(read, root, limit, v & 0x7FFFFFFFu, kVersionInfoId, v) || !(v & 0x80000000u))
        return false;
    if (!find_entry(read, root, limit, v & 0x7FFFFFFFu, -1, v) || (v & 0x80000000u)) return false;
    if (uint64_t(v) + 16 > limit) return false;
    uint8_t data_entry[16];
    if (!read(root + v, data_entry, sizeof data_entry)) return false;

    uint64_t data = 0, available = 0;
    if (!pe.map(u32(data_entry), data, available)) return false;
    const uint64_t size =
        std::min<uint64_t>({u32(data_entry + 4), available, uint64_t(kVersionBufferSize)});
    std::vector<uint8_t> info(static_cast<size_t>(size));
    if (info.empty() || !read(data, info.data(), info.size())) return false;

    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding to 4 bytes,
    // then VS_FIXEDFILEINFO (52 bytes) as its value.
    static const char16_t key[] = u"VS_VERSION_INFO";
    constexpr size_t key_at = 6, value_at = 40, fixed_size = 52;
    if (info.size() < value_at + fixed_size) return false;
    if (u16(info.data()) < value_at + fixed_size || u16(info.data() + 2) < fixed_size) return false;
    for (size_t i = 0; i < 16; ++i)
        if (u16(info.data() + key_at + 2 * i) != key[i]) return false;
    const uint8_t* fixed = info.data() + value_at;
    if (u32(fixed) != kFixedInfoSignature) return false;
    version_ms = u32(fixed + 8);
    version_ls = u32(fixed + 12);
    return true;
}

namespace {
std::u16string version_text(const pe_read& read) {
    uint32_t ms = 0, ls = 0;
    if (!pe_fixed_file_version(read, ms, ls)) return {};
    return format16(u"%d.%d.%d.%d", int(ms >> 16), int(ms & 0xFFFF), int(ls >> 16),
                    int(ls & 0xFFFF));
}
}  // namespace

std::u16string pe_version_text_from_memory(const uint8_t* data, size_t size) {
    return version_text([&](uint64_t offset, void* out, size_t n) {
        if (offset > size || n > size - offset) return false;
        std::memcpy(out, data + offset, n);
        return true;
    });
}

std::u16string file_version_text(const std::u16string& path) {
    if (!file_exists(path)) return {};
    std::FILE* f = os::open_file(path, "rb");
    if (!f) return {};
    std::u16string text = version_text([&](uint64_t offset, void* out, size_t n) {
        if (offset > uint64_t(LONG_MAX)) return false;
        if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return false;
        return std::fread(out, 1, n, f) == n;
    });
    std::fclose(f);
    return text;
}
