#include <vector>

#include "text/confine.h"
#include "os/platform.h"
#include "text/text.h"
#include "update/archive.h"

bool is_valid_utf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= s.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        // Overlong forms, surrogates and values above U+10FFFF are not UTF-8.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::u16string decode_entry_name(std::string_view stored, bool marked_utf8) {
    const size_t zero = stored.find('\0');
    if (zero != std::string_view::npos) stored = stored.substr(0, zero);
    std::u16string name =
        marked_utf8 || is_valid_utf8(stored) ? from_utf8(stored) : to_wide_acp(stored);
    if (name.size() > kEntryNameLimit) {
        name.resize(kEntryNameLimit);
        // Never keep half of a surrogate pair.
        if (name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
    }
    return name;
}

std::u16string apply_zip_name_rules(std::u16string name) {
    static const std::u16string_view steps[] = {u"\\..\\", u"\\../", u"/../", u"/..\\"};
    for (;;) {
        if (name.size() >= 2 && name[1] == u':') {
            name.erase(0, 2);
            continue;
        }
        if (!name.empty() && (name[0] == u'\\' || name[0] == u'/')) {
            name.erase(0, 1);
            continue;
        }
        bool changed = false;
        for (const auto step : steps) {
            const size_t at = name.find(step);
            if (at != std::u16string::npos) {
                name.erase(0, at + step.size());
                changed = true;
                break;
            }
        }
        if (!changed) return name;
    }
}

bool confine_entry_name(std::u16string_view name, std::u16string& relative) {
    relative.clear();
    if (name.empty()) return true;
    if (path_is_absolute(name)) return false;
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != u'/' && name[i] != u'\\') continue;
        const std::u16string_view part = name.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (parts.empty()) return false;
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) relative.push_back(os::path_separator());
        relative.append(parts[i]);
    }
    // What is left must not hold a step that Windows folds or reads as a device.
    if (path_stays_inside(relative)) return true;
    relative.clear();
    return false;
}
