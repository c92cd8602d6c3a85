#include "startup/startup_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "inet/session.h"
#include "log/log_writer.h"
#include "text/confine.h"
#include "text/format.h"
#include "os/platform.h"
#include "text/text.h"
#include "xml/xml.h"

namespace {

// Text converted from bytes ends at its first zero character.
std::u16string cut_at_zero(std::u16string text) {
    const size_t zero = text.find(u'\0');
    if (zero != std::u16string::npos) text.resize(zero);
    return text;
}

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the bytes carry an XML declaration ("<?xml" in any case, up to "?>") naming
// utf-8. The scan stops at the first zero byte.
bool declaration_names_utf8(const char* bytes, size_t length) {
    const void* zero = std::memchr(bytes, 0, length);
    const size_t limit = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : length;
    static const char open[] = "<?xml";
    size_t start = limit;
    for (size_t i = 0; i + 5 <= limit; ++i) {
        size_t k = 0;
        while (k < 5 && lower_ascii(bytes[i + k]) == open[k]) ++k;
        if (k == 5) {
            start = i;
            break;
        }
    }
    if (start == limit) return false;
    size_t end = limit;
    for (size_t i = start + 5; i + 2 <= limit; ++i) {
        if (bytes[i] == '?' && bytes[i + 1] == '>') {
            end = i;
            break;
        }
    }
    if (end == limit) return false;
    std::string declaration(bytes + start, end - start);
    for (char& c : declaration) c = lower_ascii(c);
    return declaration.find("utf-8") != std::string::npos;
}

// At least one step that names a folder. "", ".", "/" or "./." would make the data folder
// itself the install folder, where a manifest reaches every other program's files.
bool has_folder_step(std::u16string_view path) {
    size_t begin = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == u'/' || path[i] == u'\\') {
            const std::u16string_view step = path.substr(begin, i - begin);
            if (step.find_first_not_of(u". ") != std::u16string_view::npos) return true;
            begin = i + 1;
        }
    }
    return false;
}

// The install folder: separators made native, doubled ones collapsed in one pass, rooted,
// placed under the data folder and ended with a separator.
std::u16string make_install_path(std::u16string_view text, const std::u16string& base) {
    const char16_t sep = os::path_separator();
    std::u16string unified(text);
    for (char16_t& c : unified)
        if (c == u'/' || c == u'\\') c = sep;
    std::u16string path;
    path.reserve(unified.size() + 1);
    for (size_t i = 0; i < unified.size(); ++i) {
        path.push_back(unified[i]);
        if (unified[i] == sep && i + 1 < unified.size() && unified[i + 1] == sep) ++i;
    }
    if (!path.empty() && path.front() != sep) path.insert(path.begin(), sep);
    path = base + path;
    if (!path.empty() && path.back() != sep) path.push_back(sep);
    return path;
}

// Decimal as strtol reads it, clamped to the 32-bit range.
int32_t parse_count(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > limit) value = limit;
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                                              : value);
}

// Longest value an element of the document may carry. Addresses and named values are far
// shorter; a server that sends more wants memory (an address is copied several times over).
constexpr size_t kMaxValueChars = 65536;

// Length of the element's text (as text() gives it) or of its longest attribute value,
// without copying either.
size_t longest_value(const xml::element& e) {
    size_t longest = 0;
    for (const xml::element* child : e.children()) {
        if (!child->is_text()) continue;
        longest = xml::trim_xml_space(child->value()).size();
        break;
    }
    for (const char16_t* name : {u"id", u"type", u"ssl"})
        longest = std::max(longest, e.attribute(name).size());
    return longest;
}

bool is_install_page(std::u16string_view text) {
    return (text.size() > 8 && starts_with_nocase(text, u"http://")) || starts_with_nocase(text, u"https://");
}

}  // namespace

bool decode_xml_text(const char* bytes, int32_t length, std::u16string& out) {
    if (bytes == nullptr || length <= 0) return false;
    const auto* u = reinterpret_cast<const unsigned char*>(bytes);
    const size_t size = static_cast<size_t>(length);
    std::u16string text;
    if (size > 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) {
        text = from_utf8(std::string_view(bytes + 3, size - 3));
    } else if (size > 2 && u[0] == 0xFF && u[1] == 0xFE) {
        const size_t units = (size - 2) / 2;
        text.resize(units);
        for (size_t i = 0; i < units; ++i)
            text[i] = static_cast<char16_t>(u[2 + 2 * i] | (u[3 + 2 * i] << 8));
    } else if (declaration_names_utf8(bytes, size)) {
        text = from_utf8(std::string_view(bytes, size));
    } else {
        text = to_wide_acp(std::string_view(bytes, size));
    }
    text = cut_at_zero(std::move(text));
    if (text.empty()) return false;
    out = std::move(text);
    return true;
}

bool update_addresses(const std::u16string& text, const std::u16string& ssl, bool verifying,
                      std::u16string& update_url, std::u16string& update_file_url) {
    const size_t scheme_end = text.find(u"://");
    if (scheme_end == std::u16string::npos) return false;
    const std::u16string rest = text.substr(scheme_end + 3);
    // Where certificates are checked, an address the shop wrote as https is never fetched
    // over plain http: the manifest and the module it names would travel unprotected.
    const bool keep_https = verifying && starts_with_nocase(text, u"https://");
    const bool https_manifest = keep_https || ssl == u"lv1" || ssl == u"lv2";
    const bool https_files = keep_https || ssl == u"lv2";
    update_url = (https_manifest ? u"https://" : u"http://") + rest;
    update_file_url = (https_files ? u"https://" : u"http://") + rest;
    return true;
}

bool startup_file_xml::load(const char* bytes, int32_t length) {
    refusal.clear();
    std::u16string text;
    if (!decode_xml_text(bytes, length, text)) {
        refusal = format16(u"*오류 : startup.xml이 비어 있습니다. (bytes:%d)",
                           std::max<int32_t>(length, 0));
        return false;
    }

    auto& log = LogWriter::Instance();
    log.Write(u">>");
    log.Write(u">%s", text);

    // Ill-formed input is not refused by the reader; the two checks below decide.
    if (text.find(u"</startup>") == std::u16string::npos) {
        refusal = u"*오류 : startup.xml에 </startup>이 없습니다.";
        return false;
    }
    xml::document document;
    document.parse(text);
    // The tree holds what the fields need; the whole text need not stay beside it.
    std::u16string().swap(text);
    const xml::element* startup = document.find_first(u"startup");
    if (startup == nullptr) {
        refusal = u"*오류 : startup.xml에 startup 요소가 없습니다.";
        return false;
    }
    // A document that failed (or was refused) part way must not leave the fields it had
    // already set: the job sequence would go on with half of it.
    if (parse(*startup)) return true;
    clear();
    return false;
}

void startup_file_xml::clear() {
    module.clear();
    install_path.clear();
    update_url.clear();
    update_file_url.clear();
    todo.clear();
    editor_id.clear();
    config_url.clear();
    storage_url.clear();
    rsid.clear();
    lsid.clear();
    return_url.clear();
    return2_url.clear();
    setkey_url.clear();
    cookie.clear();
    user_id.clear();
    agent.clear();
    agent_type.clear();
    app_title.clear();
    app_icon.clear();
    count = 0;
    internal_calls.clear();
}

bool startup_file_xml::parse(const xml::element& startup) {
    clear();
    auto& log = LogWriter::Instance();

    // Elements that set one field with their text, unchanged.
    const std::pair<std::u16string_view, std::u16string*> plain[] = {
        {u"todo", &todo},         {u"editor_id", &editor_id},   {u"config_url", &config_url},
        {u"storage_url", &storage_url}, {u"rsid", &rsid},       {u"lsid", &lsid},
        {u"return_url", &return_url},   {u"return2_url", &return2_url}, {u"setkey_url", &setkey_url},
        {u"cookie", &cookie},     {u"user_id", &user_id},       {u"app_title", &app_title},
        {u"title", &app_title},   {u"app_icon", &app_icon},
    };

    for (const xml::element* child : startup.children()) {
        if (!child->is_element()) continue;
        const std::u16string& name = child->name();
        if (const size_t length = longest_value(*child); length > kMaxValueChars) {
            log.Write(u"*오류 : startup.xml의 값이 너무 깁니다. (element:%s, length:%u, limit:%u)", name,
                      static_cast<uint64_t>(length), static_cast<uint64_t>(kMaxValueChars));
            return false;
        }

        bool done = false;
        for (const auto& [key, field] : plain) {
            if (equals_nocase(name, key)) {
                *field = child->text();
                done = true;
                break;
            }
        }
        if (done) continue;

        if (equals_nocase(name, u"module")) {
            std::u16string text = child->text();
            // The module is loaded from the install folder; nothing may lead it elsewhere.
            if (!path_stays_inside(text)) {
                log.Write(u"*오류 : startup.xml의 module 경로가 올바르지 않습니다. (module:%s)", text);
                return false;
            }
            module = std::move(text);
        } else if (equals_nocase(name, u"install_path")) {
            const std::u16string text = child->text();
            // Rooted on purpose: it is placed under the data folder.
            if (!path_stays_inside(std::u16string_view(text).substr(std::min(text.find_first_not_of(u"/\\"), text.size()))) ||
                !has_folder_step(text)) {
                log.Write(u"*오류 : startup.xml의 install_path 경로가 올바르지 않습니다. (install_path:%s)", text);
                return false;
            }
            const std::u16string base = LocalLowFolder();
            // Without a data folder the modules would land under the file-system root.
            if (base.empty()) {
                log.Write(u"*오류 : 설치 폴더의 기준 폴더를 찾을 수 없습니다. (install_path:%s)", text);
                return false;
            }
            install_path = make_install_path(text, base);
        } else if (equals_nocase(name, u"update_url")) {
            std::u16string text = child->text();
            const std::u16string ssl = to_lower_ascii(child->attribute(u"ssl"));
            if (!text.empty() && text.back() != u'/') text.push_back(u'/');
            if (!update_addresses(text, ssl, inet::verifies_certificates(), update_url,
                                  update_file_url)) {
                refusal = format16(
                    u"*오류 : startup.xml의 update_url에 ://이 없습니다. (update_url:%s)", text);
                return false;
            }
        } else if (equals_nocase(name, u"install_page")) {
            std::u16string text = child->text();
            if (is_install_page(text)) internal_calls.emplace_back(u"install_page", std::move(text));
        } else if (equals_nocase(name, u"internal_call")) {
            internal_calls.emplace_back(child->attribute(u"id"), child->text());
        } else if (equals_nocase(name, u"agent")) {
            agent_type = child->attribute(u"type");
            agent = child->text();
            internal_calls.emplace_back(u"agent", agent);
            internal_calls.emplace_back(u"agent_type", agent_type);
        } else if (equals_nocase(name, u"count")) {
            count = parse_count(child->text());
        }
    }
    return true;
}
