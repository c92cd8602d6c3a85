// The system code page on POSIX: the locale's LC_CTYPE character set, reached through iconv.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "text/text.h"

namespace {

struct code_page_state {
    std::mutex lock;
    std::string pinned;  // set by set_system_code_page; empty = the locale's
    std::string charset;  // resolved name
    bool utf8 = true;
    bool resolved = false;
    iconv_t to_wide = reinterpret_cast<iconv_t>(-1);
    iconv_t to_narrow = reinterpret_cast<iconv_t>(-1);
};

code_page_state& state() {
    static code_page_state s;
    return s;
}

bool names_utf8(std::string name) {
    for (auto& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return name == "UTF-8" || name == "UTF8" || name.empty() || name == "ANSI_X3.4-1968" ||
           name == "ASCII" || name == "US-ASCII";
}

std::string locale_charset() {
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return "UTF-8";
    std::string name = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    return name;
}

void close_converters(code_page_state& s) {
    if (s.to_wide != reinterpret_cast<iconv_t>(-1)) iconv_close(s.to_wide);
    if (s.to_narrow != reinterpret_cast<iconv_t>(-1)) iconv_close(s.to_narrow);
    s.to_wide = s.to_narrow = reinterpret_cast<iconv_t>(-1);
}

// Resolves the character set once; a name iconv does not know falls back to UTF-8.
void resolve(code_page_state& s) {
    if (s.resolved) return;
    s.resolved = true;
    s.charset = s.pinned.empty() ? locale_charset() : s.pinned;
    s.utf8 = names_utf8(s.charset);
    if (s.utf8) return;
    s.to_wide = iconv_open("UTF-16LE", s.charset.c_str());
    s.to_narrow = iconv_open(s.charset.c_str(), "UTF-16LE");
    if (s.to_wide == reinterpret_cast<iconv_t>(-1) || s.to_narrow == reinterpret_cast<iconv_t>(-1)) {
        close_converters(s);
        s.utf8 = true;
    }
}

}  // namespace

void set_system_code_page(const std::string& charset) {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    close_converters(s);
    s.pinned = charset;
    s.resolved = false;
}

std::string system_code_page() {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    resolve(s);
    return s.utf8 ? std::string("UTF-8") : s.charset;
}

bool system_code_page_is_utf8() {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    resolve(s);
    return s.utf8;
}

std::u16string to_wide_acp(std::string_view bytes) {
    const size_t zero = bytes.find('\0');
    if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    resolve(s);
    if (s.utf8) return from_utf8(bytes);

    std::u16string out;
    iconv(s.to_wide, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    size_t in_left = bytes.size();
    char buffer[1024];
    while (in_left > 0) {
        char* o = buffer;
        size_t o_left = sizeof buffer;
        const size_t r = iconv(s.to_wide, &in, &in_left, &o, &o_left);
        for (char* p = buffer; p + 1 < o; p += 2)
            out.push_back(static_cast<char16_t>(static_cast<uint8_t>(p[0]) |
                                                (static_cast<uint8_t>(p[1]) << 8)));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // A byte the code page does not define, or a truncated sequence at the end.
            out.push_back(0xFFFD);
            ++in;
            --in_left;
            iconv(s.to_wide, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::string to_narrow_acp(std::u16string_view text) {
    const size_t zero = text.find(u'\0');
    if (zero != std::u16string_view::npos) text = text.substr(0, zero);
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    resolve(s);
    if (s.utf8) return to_utf8(text);

    std::string out;
    iconv(s.to_narrow, nullptr, nullptr, nullptr, nullptr);
    // One character at a time, so that a character the code page lacks becomes "?"
    // without disturbing its neighbours. A surrogate pair travels as one character.
    for (size_t i = 0; i < text.size();) {
        size_t units = 1;
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            units = 2;
        char in_bytes[4];
        for (size_t k = 0; k < units; ++k) {
            in_bytes[2 * k] = static_cast<char>(text[i + k] & 0xFF);
            in_bytes[2 * k + 1] = static_cast<char>(text[i + k] >> 8);
        }
        char* in = in_bytes;
        size_t in_left = units * 2;
        char buffer[16];
        char* o = buffer;
        size_t o_left = sizeof buffer;
        const size_t r = iconv(s.to_narrow, &in, &in_left, &o, &o_left);
        if (r == static_cast<size_t>(-1) || in_left != 0) {
            out.push_back('?');
            iconv(s.to_narrow, nullptr, nullptr, nullptr, nullptr);
        } else {
            // Flush any shift state so each character stands on its own.
            iconv(s.to_narrow, nullptr, nullptr, &o, &o_left);
            out.append(buffer, static_cast<size_t>(o - buffer));
        }
        i += units;
    }
    return out;
}
