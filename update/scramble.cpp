#include "update/scramble.h"

#include <algorithm>
#include <cctype>

#include "update/seed.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

uint32_t mask_seed(uint32_t header0, uint32_t header1) {
    return (header1 & 0xFFFF0000u) | (header0 & 0x0000FFFFu);
}

void apply_mask(uint8_t* payload, size_t size, uint32_t header0, uint32_t header1) {
    scramble_random mask(mask_seed(header0, header1));
    for (size_t i = 0; i < size; ++i) payload[i] ^= mask.mask_byte();
}

uint32_t load_le(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void store_le(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

std::array<uint8_t, 16> derive_seed_key(const update_key& key) {
    scramble_random mask(key.seed);
    std::array<uint8_t, 128> material{};
    for (size_t i = 0; i < material.size(); ++i) material[i] = key.table[i] ^ mask.mask_byte();
    std::array<uint8_t, 16> seed_key{};
    for (size_t i = 0; i < seed_key.size(); ++i) seed_key[i] = material[i];
    return seed_key;
}

bool parse_update_key_file(std::string_view text, update_key& key) {
    bool have_seed = false;
    size_t count = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(pos, end - pos));
        pos = end + 1;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            std::string name = line.substr(0, eq);
            std::erase_if(name, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
            if (name != "data_key_seed") return false;
            std::string value = line.substr(eq + 1);
            std::erase_if(value,
                          [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
            int base = 10;
            if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
                value.erase(0, 2);
                base = 16;
            }
            const bool digits = !value.empty() && value.size() <= 10 &&
                                std::all_of(value.begin(), value.end(), [base](char c) {
                                    return base == 16
                                               ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                                               : std::isdigit(static_cast<unsigned char>(c)) != 0;
                                });
            if (have_seed || !digits) return false;
            const unsigned long long parsed = std::stoull(value, nullptr, base);
            if (parsed > 0xFFFFFFFFull) return false;
            key.seed = static_cast<uint32_t>(parsed);
            have_seed = true;
            continue;
        }
        for (size_t i = 0; i < line.size();) {
            if (std::isspace(static_cast<unsigned char>(line[i]))) {
                ++i;
                continue;
            }
            if (i + 1 >= line.size() || !std::isxdigit(static_cast<unsigned char>(line[i])) ||
                !std::isxdigit(static_cast<unsigned char>(line[i + 1])) || count >= 128)
                return false;
            key.table[count++] = static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16));
            i += 2;
        }
    }
    return have_seed && count == 128;
}

std::vector<uint8_t> base64_decode(std::string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 3 / 4);
    uint32_t group = 0;
    int have = 0;
    for (unsigned char c : text) {
        const int v = base64_value(c);
        if (v < 0) continue;
        group = (group << 6) | static_cast<uint32_t>(v);
        if (++have == 4) {
            out.push_back(uint8_t(group >> 16));
            out.push_back(uint8_t(group >> 8));
            out.push_back(uint8_t(group));
            group = 0;
            have = 0;
        }
    }
    if (have == 2) {
        out.push_back(uint8_t(group >> 4));
    } else if (have == 3) {
        out.push_back(uint8_t(group >> 10));
        out.push_back(uint8_t(group >> 2));
    }
    return out;
}

std::string base64_encode(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t group = (uint32_t(data[i]) << 16) |
                               (i + 1 < size ? uint32_t(data[i + 1]) << 8 : 0) |
                               (i + 2 < size ? uint32_t(data[i + 2]) : 0);
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(i + 1 < size ? kAlphabet[(group >> 6) & 63] : '=');
        out.push_back(i + 2 < size ? kAlphabet[group & 63] : '=');
    }
    return out;
}

std::string scramble_update_data(std::string_view plain_utf8, uint32_t header0, uint32_t header1,
                                 const update_key& key) {
    // Zero padding up to whole blocks; the reader stops at the first zero byte. A text that is
    // a whole number of blocks gets one more block, so a terminator always follows it.
    const size_t payload_size = (plain_utf8.size() / 16 + 1) * 16;
    std::vector<uint8_t> bytes(8 + payload_size, 0);
    store_le(bytes.data(), header0);
    store_le(bytes.data() + 4, header1);
    for (size_t i = 0; i < plain_utf8.size(); ++i) bytes[8 + i] = uint8_t(plain_utf8[i]);
    seed_cipher(derive_seed_key(key).data()).encrypt_ecb(bytes.data() + 8, payload_size);
    apply_mask(bytes.data() + 8, payload_size, header0, header1);
    return base64_encode(bytes.data(), bytes.size());
}

bool unscramble_bytes(std::string_view data, const update_key& key, std::string& plain) {
    std::vector<uint8_t> bytes = base64_decode(data);
    if (bytes.size() < 8 || (bytes.size() - 8) % 16 != 0) return false;
    const uint32_t header0 = load_le(bytes.data()), header1 = load_le(bytes.data() + 4);
    uint8_t* payload = bytes.data() + 8;
    const size_t size = bytes.size() - 8;
    apply_mask(payload, size, header0, header1);
    seed_cipher(derive_seed_key(key).data()).decrypt_ecb(payload, size);
    size_t end = 0;
    while (end < size && payload[end] != 0) ++end;
    plain.assign(reinterpret_cast<const char*>(payload), end);
    return true;
}
