#include "inet/allowed_servers.h"

#include "inet/cracked_url.h"
#include "inet/trust_settings.h"
#include "log/log_writer.h"

namespace inet {

namespace {

char16_t lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

std::u16string normalised(std::u16string_view host) {
    std::u16string out;
    for (char16_t c : host) out += lower(c);
    if (!out.empty() && out.back() == u'.') out.pop_back();
    return out;
}

bool& https_only_policy() {
    static bool only = builtin_trust_settings().https_only;
    return only;
}

std::vector<std::u16string>& in_force() {
    static std::vector<std::u16string> list = built_in_allowed_servers();
    return list;
}

}  // namespace

std::vector<std::u16string> built_in_allowed_servers() {
    const std::string& text = builtin_trust_settings().allowed_servers;
    return parse_server_list(std::u16string(text.begin(), text.end()));  // host names are ASCII
}

const std::vector<std::u16string>& allowed_servers() {
    return in_force();
}

void set_allowed_servers(std::vector<std::u16string> hosts) {
    in_force() = std::move(hosts);
}

std::vector<std::u16string> parse_server_list(std::u16string_view text) {
    std::vector<std::u16string> names;
    std::u16string name;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char16_t c = i < text.size() ? text[i] : u';';
        if (c == u';' || c == u',' || c == u' ' || c == u'\t') {
            if (!name.empty()) names.push_back(normalised(name));
            name.clear();
        } else {
            name += c;
        }
    }
    return names;
}

bool host_matches(std::u16string_view host, const std::vector<std::u16string>& list) {
    const std::u16string h = normalised(host);
    if (h.empty()) return false;
    for (const std::u16string& entry : list) {
        const std::u16string e = normalised(entry);
        if (e.size() > 2 && e.compare(0, 2, u"*.") == 0) {
            const std::u16string_view suffix = std::u16string_view(e).substr(1);  // ".example.com"
            if (h.size() > suffix.size() &&
                h.compare(h.size() - suffix.size(), suffix.size(), suffix) == 0)
                return true;
        } else if (h == e) {
            return true;
        }
    }
    return false;
}

bool https_only() {
    return https_only_policy();
}
void set_https_only(bool only) {
    https_only_policy() = only;
}

bool scheme_allowed(std::u16string_view url) {
    if (!https_only()) return true;
    constexpr std::u16string_view https = u"https://";
    if (url.size() < https.size()) return false;
    for (size_t i = 0; i < https.size(); ++i)
        if (lower(url[i]) != https[i]) return false;
    return true;
}

bool server_allowed(std::u16string_view url) {
    if (!scheme_allowed(url)) {
        LogWriter::Instance().Write(u"* 오류: https가 아닌 주소는 허용되지 않습니다. (url:%s)",
                                    std::u16string(url));
        return false;
    }
    const auto& list = allowed_servers();
    if (list.empty()) return true;
    const cracked_url cracked = crack_url(url);
    return cracked.ok && host_matches(cracked.host, list);
}

}  // namespace inet
