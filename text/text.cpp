#include "text/text.h"

#include <cstdint>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Length of the valid UTF-8 sequence starting at s[i] (strict: no overlongs, no surrogates,
// nothing above U+10FFFF), or 0 when the bytes there do not form one.
size_t utf8_sequence(std::string_view s, size_t i, uint32_t& cp) {
    const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t c = b(i);
    const size_t left = s.size() - i;
    auto cont = [&](size_t k, uint8_t lo, uint8_t hi) {
        return k < s.size() && b(k) >= lo && b(k) <= hi;
    };
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF && cont(i + 1, 0x80, 0xBF)) {
        cp = ((c & 0x1Fu) << 6) | (b(i + 1) & 0x3Fu);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF && left >= 3) {
        uint8_t lo = 0x80, hi = 0xBF;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
        if (cont(i + 1, lo, hi) && cont(i + 2, 0x80, 0xBF)) {
            cp = ((c & 0x0Fu) << 12) | ((b(i + 1) & 0x3Fu) << 6) | (b(i + 2) & 0x3Fu);
            return 3;
        }
    }
    if (c >= 0xF0 && c <= 0xF4 && left >= 4) {
        uint8_t lo = 0x80, hi = 0xBF;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
        if (cont(i + 1, lo, hi) && cont(i + 2, 0x80, 0xBF) && cont(i + 3, 0x80, 0xBF)) {
            cp = ((c & 0x07u) << 18) | ((b(i + 1) & 0x3Fu) << 12) | ((b(i + 2) & 0x3Fu) << 6) |
                 (b(i + 3) & 0x3Fu);
            return 4;
        }
    }
    return 0;
}

}  // namespace

std::string to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == 0) break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((c - 0xD800u) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            append_utf8(out, kReplacement);
        } else {
            append_utf8(out, c);
        }
    }
    return out;
}

std::u16string from_utf8(std::string_view bytes) {
    // No byte yields more than one unit (four bytes make a pair), so the text is written in
    // place, with plain ASCII runs copied straight through: documents of megabytes pass here.
    std::u16string out(bytes.size(), u'\0');
    char16_t* o = out.data();
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        while (i < size && b[i] < 0x80 && b[i] != 0) *o++ = b[i++];
        if (i == size || b[i] == 0) break;
        uint32_t cp = 0;
        const size_t n = utf8_sequence(bytes, i, cp);
        if (n == 0) {
            *o++ = kReplacement;
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *o++ = static_cast<char16_t>(cp);
        }
        i += n;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

char16_t to_lower_ascii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + 32 : c; }

std::u16string to_lower_ascii(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) c = to_lower_ascii(c);
    return out;
}

bool equals_nocase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (to_lower_ascii(a[i]) != to_lower_ascii(b[i])) return false;
    return true;
}

bool starts_with_nocase(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && equals_nocase(s.substr(0, prefix.size()), prefix);
}

bool ends_with_nocase(std::u16string_view s, std::u16string_view suffix) {
    return s.size() >= suffix.size() && equals_nocase(s.substr(s.size() - suffix.size()), suffix);
}

std::u16string ascii_to_wide(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::u16string replace_all(std::u16string s, std::u16string_view from, std::u16string_view to) {
    if (from.empty()) return s;
    std::u16string out;
    size_t pos = 0;
    for (;;) {
        const size_t hit = s.find(from, pos);
        if (hit == std::u16string::npos) break;
        out.append(s, pos, hit - pos);
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s, pos, std::u16string::npos);
    return out;
}

bool parse_decimal(std::u16string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<uint64_t>(c - u'0');
    }
    return true;
}
