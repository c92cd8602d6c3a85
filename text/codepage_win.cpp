// The system code page on Windows: CP_ACP through MultiByteToWideChar/WideCharToMultiByte.
// Tests may pin another code page by name ("WINDOWS-1252", "CP949", "UTF-8"), as on POSIX.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <mutex>

#include "text/text.h"

namespace {

struct code_page_state {
    std::mutex lock;
    UINT pinned = 0;  // 0 = the system's (CP_ACP)
};

code_page_state& state() {
    static code_page_state s;
    return s;
}

// "UTF-8", "WINDOWS-1252", "CP949", "1252" -> code page number; 0 when unknown or not installed.
UINT code_page_named(std::string name) {
    for (auto& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (name == "UTF-8" || name == "UTF8") return CP_UTF8;
    for (const char* prefix : {"WINDOWS-", "CP", "IBM"}) {
        const std::string p(prefix);
        if (name.compare(0, p.size(), p) == 0) {
            name.erase(0, p.size());
            break;
        }
    }
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos ||
        name.size() > 5)
        return 0;
    const UINT number = static_cast<UINT>(std::strtoul(name.c_str(), nullptr, 10));
    return IsValidCodePage(number) ? number : 0;
}

UINT current_code_page() {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.pinned != 0 ? s.pinned : GetACP();
}

// Bytes of one character starting at `p` in a double-byte code page (1 or 2).
size_t character_length(UINT cp, const char* p, size_t left) {
    return left >= 2 && IsDBCSLeadByteEx(cp, static_cast<BYTE>(*p)) ? 2 : 1;
}

}  // namespace

void set_system_code_page(const std::string& charset) {
    auto& s = state();
    const UINT number = charset.empty() ? 0 : code_page_named(charset);
    std::lock_guard<std::mutex> guard(s.lock);
    // A name Windows does not know falls back to UTF-8, as on POSIX.
    s.pinned = charset.empty() ? 0 : (number != 0 ? number : CP_UTF8);
}

std::string system_code_page() {
    const UINT cp = current_code_page();
    return cp == CP_UTF8 ? std::string("UTF-8") : "CP" + std::to_string(cp);
}

bool system_code_page_is_utf8() {
    return current_code_page() == CP_UTF8;
}

std::u16string to_wide_acp(std::string_view bytes) {
    const size_t zero = bytes.find('\0');
    if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
    const UINT cp = current_code_page();
    if (cp == CP_UTF8) return from_utf8(bytes);
    if (bytes.empty()) return {};

    std::u16string out(bytes.size(), u'\0');
    const int n =
        MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                            reinterpret_cast<wchar_t*>(out.data()), static_cast<int>(out.size()));
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        return out;
    }
    // A byte the code page does not define: one character at a time, so that only that byte
    // becomes U+FFFD (without the flag, Windows substitutes a code-page-specific character).
    out.clear();
    for (size_t i = 0; i < bytes.size();) {
        const size_t len = character_length(cp, bytes.data() + i, bytes.size() - i);
        wchar_t unit[2];
        const int m = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data() + i,
                                          static_cast<int>(len), unit, 2);
        if (m > 0) {
            out.append(reinterpret_cast<const char16_t*>(unit), static_cast<size_t>(m));
            i += len;
        } else {
            out.push_back(0xFFFD);
            ++i;
        }
    }
    return out;
}

std::string to_narrow_acp(std::u16string_view text) {
    const size_t zero = text.find(u'\0');
    if (zero != std::u16string_view::npos) text = text.substr(0, zero);
    const UINT cp = current_code_page();
    if (cp == CP_UTF8) return to_utf8(text);
    if (text.empty()) return {};

    // No best-fit mapping: it would turn characters the code page lacks into look-alikes (a
    // full-width backslash into a path separator); they become "?" instead, as on POSIX.
    const auto convert = [cp](const char16_t* p, size_t units, std::string& into) {
        BOOL used_default = FALSE;
        const size_t at = into.size();
        into.resize(at + units * 4);
        const int n = WideCharToMultiByte(
            cp, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(p), static_cast<int>(units),
            into.data() + at, static_cast<int>(units * 4), nullptr, &used_default);
        into.resize(at + (n > 0 ? static_cast<size_t>(n) : 0));
        return n > 0 && !used_default;
    };
    std::string out;
    if (convert(text.data(), text.size(), out)) return out;

    // Some character was not representable: one character at a time, so that each becomes a
    // single "?" (a surrogate pair included) without disturbing its neighbours.
    out.clear();
    for (size_t i = 0; i < text.size();) {
        size_t units = 1;
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            units = 2;
        const size_t at = out.size();
        if (!convert(text.data() + i, units, out)) {
            out.resize(at);
            out.push_back('?');
        }
        i += units;
    }
    return out;
}
