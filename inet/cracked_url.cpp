#include "inet/cracked_url.h"

#include "text/text.h"

namespace inet {
namespace {

bool must_encode(char16_t c) {
    return c <= 0x20 || c >= 0x7F || c == u'"' || c == u'<' || c == u'>';
}

std::u16string encode_target(std::u16string_view object) {
    static const char16_t hex[] = u"0123456789ABCDEF";
    std::u16string out;
    out.reserve(object.size());
    size_t i = 0;
    while (i < object.size()) {
        size_t j = i;
        while (j < object.size() && must_encode(object[j])) ++j;
        if (j == i) {
            out += object[i++];
            continue;
        }
        // A run of characters that must be escaped: as UTF-8 bytes, pairs kept together.
        std::string bytes = to_utf8(object.substr(i, j - i));
        for (unsigned char b : bytes) {
            out += u'%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
        i = j;
    }
    return out;
}

}  // namespace

cracked_url crack_url(std::u16string_view url) {
    cracked_url r;
    r.url = std::u16string(url);
    // Surrounding white space is not part of an address.
    size_t b = 0, e = url.size();
    while (b < e && (url[b] == u' ' || url[b] == u'\t' || url[b] == u'\r' || url[b] == u'\n')) ++b;
    while (e > b && (url[e - 1] == u' ' || url[e - 1] == u'\t' || url[e - 1] == u'\r' ||
                     url[e - 1] == u'\n'))
        --e;
    std::u16string_view s = url.substr(b, e - b);

    size_t colon = s.find(u"://");
    if (colon == std::u16string_view::npos) return r;
    std::u16string_view scheme = s.substr(0, colon);
    uint16_t default_port;
    if (equals_nocase(scheme, u"http")) {
        r.service = service_type::http;
        default_port = 80;
    } else if (equals_nocase(scheme, u"https")) {
        r.service = service_type::https;
        default_port = 443;
    } else {
        return r;
    }
    std::u16string_view rest = s.substr(colon + 3);
    size_t auth_end = rest.find_first_of(u"/?#");
    std::u16string_view authority = rest.substr(0, auth_end);
    std::u16string_view object =
        auth_end == std::u16string_view::npos ? std::u16string_view() : rest.substr(auth_end);

    size_t at = authority.rfind(u'@');
    if (at != std::u16string_view::npos) authority = authority.substr(at + 1);

    std::u16string_view host, port_text;
    bool has_port = false;
    if (!authority.empty() && authority[0] == u'[') {
        size_t close = authority.find(u']');
        if (close == std::u16string_view::npos) return r;
        host = authority.substr(1, close - 1);
        std::u16string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != u':') return r;
            port_text = after.substr(1);
            has_port = true;
        }
    } else {
        size_t pc = authority.rfind(u':');
        if (pc != std::u16string_view::npos) {
            host = authority.substr(0, pc);
            port_text = authority.substr(pc + 1);
            has_port = true;
        } else {
            host = authority;
        }
    }
    if (host.empty()) return r;
    for (char16_t c : host)
        if (c <= 0x20 || c == 0x7F || c == u'/' || c == u'\\' || c == u'@' || c == u'[' ||
            c == u']' || (c == u':' && authority[0] != u'['))
            return r;

    uint32_t port = default_port;
    if (has_port && !port_text.empty()) {
        if (port_text.size() > 5) return r;
        port = 0;
        for (char16_t c : port_text) {
            if (c < u'0' || c > u'9') return r;
            port = port * 10 + (c - u'0');
        }
        if (port == 0 || port > 65535) return r;
    }

    size_t hash = object.find(u'#');
    if (hash != std::u16string_view::npos) object = object.substr(0, hash);
    r.object = encode_target(object);
    if (r.object.empty() || r.object[0] == u'?') r.object.insert(r.object.begin(), u'/');
    r.host = std::u16string(host);
    r.port = static_cast<uint16_t>(port);
    r.ok = true;
    return r;
}

}  // namespace inet
