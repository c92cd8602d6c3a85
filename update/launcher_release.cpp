#include "update/launcher_release.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

#include "os/file_io.h"
#include "text/text.h"
#include "update/scramble.h"
#include "xml/xml.h"

namespace {

bool all_of(std::string_view s, bool (*ok)(char)) {
    for (char c : s)
        if (!ok(c)) return false;
    return true;
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_hex_lower(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f');
}
bool is_name_char(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
           c == '_' || c == '+' || c == '-';
}

std::optional<uint64_t> parse_decimal(std::string_view s, uint64_t max) {
    if (s.empty() || s.size() > 19 || !all_of(s, is_digit)) return std::nullopt;
    uint64_t value = 0;
    for (char c : s) value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > max) return std::nullopt;
    return value;
}

struct pkey_free {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};

}  // namespace

std::optional<launcher_version_number> parse_launcher_version(std::string_view text) {
    launcher_version_number number{};
    for (size_t i = 0; i < 3; ++i) {
        const size_t dot = i < 2 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) return std::nullopt;
        const auto field = parse_decimal(text.substr(0, dot), UINT32_MAX);
        if (!field) return std::nullopt;
        number[i] = static_cast<uint32_t>(*field);
        text.remove_prefix(i < 2 ? dot + 1 : dot);
    }
    return number;
}

bool release_package_name_ok(std::string_view name) {
    return !name.empty() && name.size() <= 200 && name.front() != '.' && all_of(name, is_name_char);
}

bool launcher_release_ok(const launcher_release& r) {
    return (r.platform == "windows-x64" || r.platform == "linux-amd64") &&
           parse_launcher_version(r.version) && release_package_name_ok(r.package) && r.size > 0 &&
           r.sha256.size() == 64 && all_of(r.sha256, is_hex_lower);
}

release_document_check read_release_document(std::string_view document,
                                             const manifest_public_key& key,
                                             std::vector<launcher_release>& releases,
                                             std::vector<std::string>& skipped) {
    releases.clear();
    skipped.clear();
    xml::document outer;
    const xml::element* top =
        outer.parse(from_utf8(document)) ? outer.find_first(u"launcher") : nullptr;
    if (top == nullptr) return release_document_check::unreadable;
    const std::string data = to_utf8(top->attribute(u"data"));
    switch (check_manifest_signature(data, to_utf8(top->attribute(u"signature")), key)) {
        case signature_check::verified:
            break;
        case signature_check::missing:
            return release_document_check::not_signed;
        case signature_check::does_not_verify:
            return release_document_check::does_not_verify;
    }
    const std::vector<uint8_t> inner_bytes = base64_decode(data);
    xml::document inner;
    if (!inner.parse(from_utf8(std::string_view(reinterpret_cast<const char*>(inner_bytes.data()),
                                                inner_bytes.size()))))
        return release_document_check::unreadable;
    const xml::element* list = inner.find_first(u"releases");
    if (list == nullptr) return release_document_check::unreadable;
    for (const xml::element* e : list->children()) {
        if (!e->is_element() || e->name() != u"release") continue;
        launcher_release r;
        r.platform = to_utf8(e->attribute(u"platform"));
        r.version = to_utf8(e->attribute(u"version"));
        r.package = to_utf8(e->attribute(u"package"));
        const auto size = parse_decimal(to_utf8(e->attribute(u"size")), UINT64_MAX / 10);
        r.size = size.value_or(0);
        r.sha256 = to_utf8(e->attribute(u"sha256"));
        if (launcher_release_ok(r))
            releases.push_back(r);
        else
            skipped.push_back(r.platform + " " + r.version + " " + r.package);
    }
    return release_document_check::verified;
}

std::string release_document_data(const std::vector<launcher_release>& releases) {
    std::string inner = "<releases>\n";
    for (const launcher_release& r : releases)
        inner += "  <release platform=\"" + r.platform + "\" version=\"" + r.version +
                 "\" package=\"" + r.package + "\" size=\"" + std::to_string(r.size) +
                 "\" sha256=\"" + r.sha256 + "\"/>\n";
    inner += "</releases>\n";
    return base64_encode(reinterpret_cast<const uint8_t*>(inner.data()), inner.size());
}

std::string release_document_text(const std::string& data, const std::string& signature) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<launcher data=\"" + data +
           "\"\n          signature=\"" + signature + "\"></launcher>\n";
}

std::optional<manifest_public_key> public_key_of_private_key_file(
    const std::string& private_key_pem_file, std::string& error) {
    FILE* file = os::open_file(from_utf8(private_key_pem_file), "r");
    if (file == nullptr) {
        error = "cannot read " + private_key_pem_file;
        return std::nullopt;
    }
    std::unique_ptr<EVP_PKEY, pkey_free> pkey(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    manifest_public_key key{};
    size_t size = key.size();
    if (!pkey || EVP_PKEY_id(pkey.get()) != EVP_PKEY_ED25519 ||
        EVP_PKEY_get_raw_public_key(pkey.get(), key.data(), &size) != 1 || size != key.size()) {
        error = private_key_pem_file + " is not a PEM Ed25519 private key";
        return std::nullopt;
    }
    return key;
}
