#include "text/format.h"

#include <algorithm>
#include <vector>

namespace {

const char16_t kMarker[] = u"<?>";

std::u16string digits(uint64_t v, unsigned base, bool upper) {
    const char16_t* table = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), table[v % base]);
        v /= base;
    } while (v != 0);
    return out;
}

void pad(std::u16string& out, std::u16string body, size_t width, bool left, bool zero) {
    if (body.size() >= width) {
        out += body;
        return;
    }
    const size_t fill = width - body.size();
    if (left) {
        out += body;
        out.append(fill, u' ');
    } else if (zero) {
        // Zero padding goes after the sign.
        size_t sign = (!body.empty() && body[0] == u'-') ? 1 : 0;
        out.append(body, 0, sign);
        out.append(fill, u'0');
        out.append(body, sign, std::u16string::npos);
    } else {
        out.append(fill, u' ');
        out += body;
    }
}

}  // namespace

std::u16string format_list(std::u16string_view fmt, std::initializer_list<format_arg> list) {
    const std::vector<format_arg> args(list);
    std::u16string out;
    out.reserve(fmt.size() + 32);
    size_t next = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        const char16_t c = fmt[i];
        if (c != u'%') {
            out.push_back(c);
            continue;
        }
        const size_t start = i;
        if (++i >= fmt.size()) {
            out.push_back(u'%');
            break;
        }
        bool left = false, zero = false;
        for (; i < fmt.size() && (fmt[i] == u'-' || fmt[i] == u'0'); ++i)
            (fmt[i] == u'-' ? left : zero) = true;
        size_t width = 0;
        for (; i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9'; ++i)
            width = std::min<size_t>(width * 10 + (fmt[i] - u'0'), 4096);
        // Length modifiers carry no meaning here: arguments know their own size.
        while (i < fmt.size() && (fmt[i] == u'l' || fmt[i] == u'h' || fmt[i] == u'w'))
            ++i;
        if (i >= fmt.size()) {
            out.append(fmt.substr(start));
            break;
        }
        const char16_t conv = fmt[i];
        if (conv == u'%') {
            out.push_back(u'%');
            continue;
        }
        if (conv != u's' && conv != u'S' && conv != u'd' && conv != u'i' && conv != u'u' &&
            conv != u'x' && conv != u'X') {
            // Unknown conversion: keep it as written.
            out.append(fmt.substr(start, i - start + 1));
            continue;
        }
        if (next >= args.size()) {
            out += kMarker;
            continue;
        }
        const format_arg& a = args[next++];
        std::u16string body;
        if (conv == u's' || conv == u'S') {
            if (a.k != format_arg::kind::text) {
                out += kMarker;
                continue;
            }
            pad(out, std::u16string(a.s), width, left, false);
            continue;
        }
        if (a.k == format_arg::kind::text) {
            out += kMarker;
            continue;
        }
        if (conv == u'd' || conv == u'i') {
            // As printf with an int: the value is taken as a 32-bit signed number.
            const int64_t v = a.k == format_arg::kind::signed_int
                                  ? static_cast<int32_t>(a.i)
                                  : static_cast<int32_t>(static_cast<uint32_t>(a.u));
            body = v < 0 ? u"-" + digits(static_cast<uint64_t>(-v), 10, false)
                         : digits(static_cast<uint64_t>(v), 10, false);
        } else {
            const uint32_t v = a.k == format_arg::kind::signed_int
                                   ? static_cast<uint32_t>(a.i)
                                   : static_cast<uint32_t>(a.u);
            body = digits(v, conv == u'u' ? 10 : 16, conv == u'X');
        }
        pad(out, body, width, left, zero && !left);
    }
    return out;
}
