#include "text/url.h"

#include <cwctype>

#include "text/text.h"

namespace {

const char16_t kHex[] = u"0123456789ABCDEF";

bool is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool is_digit(char16_t c) { return std::iswdigit(static_cast<wint_t>(c)) != 0; }

bool is_address_punctuation(char16_t c) {
    return std::u16string_view(u";/?:@=&-_.+!*(),#~").find(c) != std::u16string_view::npos;
}
bool is_component_punctuation(char16_t c) {
    return std::u16string_view(u"~-_.*()").find(c) != std::u16string_view::npos;
}

void append_escaped(std::u16string& out, const std::string& bytes) {
    for (char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        if (b == 0) break;
        out.push_back(u'%');
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
    }
}

int hex_value(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

char16_t unit(char c) { return static_cast<char16_t>(static_cast<uint8_t>(c)); }
char16_t unit(char16_t c) { return c; }

// Escape decoding shared by the byte and the code-unit forms: "%" and two hexadecimal
// digits become that value; any other "%" stays as it is. "+" is not a space.
template <class S>
S decode_escapes(const S& in) {
    S out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '%' && i + 2 < in.size()) {
            const int hi = hex_value(unit(in[i + 1]));
            const int lo = hex_value(unit(in[i + 2]));
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<typename S::value_type>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(in[i]);
    }
    return out;
}

}  // namespace

std::u16string url_encode(std::u16string_view text, int mode) {
    if (mode != 1 && mode != 2) return std::u16string(text);
    std::u16string out;
    out.reserve(text.size() * 3 / 2);
    for (char16_t c : text) {
        if (c == u' ') {
            out += u"%20";
        } else if (is_letter(c) || is_digit(c) || is_address_punctuation(c)) {
            out.push_back(c);
        } else {
            const std::u16string one(1, c);
            append_escaped(out, mode == 1 ? to_narrow_acp(one) : to_utf8(one));
        }
    }
    return out;
}

bool url_encode_component(std::u16string& out, std::u16string_view in) {
    for (char16_t c : in) {
        if (is_letter(c) || is_digit(c) || is_component_punctuation(c)) {
            out.push_back(c);
        } else {
            append_escaped(out, to_utf8(std::u16string(1, c)));
        }
    }
    return true;
}

std::u16string url_decode(std::u16string_view text) {
    if (text.find(u'%') == std::u16string_view::npos) return std::u16string(text);
    const std::string bytes = to_narrow_acp(text);
    if (looks_like_utf8(bytes)) return from_utf8(decode_escapes(bytes));
    return decode_escapes(std::u16string(text));
}

bool looks_like_utf8(std::string_view bytes) {
    const auto b = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const size_t n = bytes.size();
    if (n >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) return true;
    if (n >= 2048) {
        for (size_t i = 0; i < n; ++i)
            if (b(i) >= 0x80) return false;
        return true;
    }
    size_t i = 0;
    while (i < n && b(i) != 0) {
        const uint8_t c = b(i);
        size_t more = 0;
        uint8_t lo = 0x80, hi = 0xBF;
        if (c <= 0x7F) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c == 0xE0) {
            more = 2, lo = 0xA0;
        } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) {
            more = 2;
        } else if (c == 0xED) {
            more = 2, hi = 0x9F;
        } else if (c == 0xF0) {
            more = 3, lo = 0x90;
        } else if (c >= 0xF1 && c <= 0xF3) {
            more = 3;
        } else if (c == 0xF4) {
            more = 3, hi = 0x8F;
        } else {
            return false;
        }
        ++i;
        for (size_t k = 0; k < more; ++k, ++i) {
            // Ending inside a sequence (end of text or a zero byte) is not UTF-8.
            if (i >= n || b(i) == 0) return false;
            const uint8_t first_lo = k == 0 ? lo : 0x80, first_hi = k == 0 ? hi : 0xBF;
            if (b(i) < first_lo || b(i) > first_hi) return false;
        }
    }
    return true;
}
