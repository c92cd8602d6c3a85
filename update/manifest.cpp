#include "update/manifest.h"

#include "log/log_writer.h"
#include "startup/startup_file.h"
#include "text/confine.h"
#include "text/text.h"
#include "update/scramble.h"
#include "update/sha256.h"
#include "update/signature.h"
#include "xml/xml.h"

namespace {
constexpr std::u16string_view kClosingTag = u"</update>";
}  // namespace

bool manifest_path_is_safe(std::u16string_view path) { return path_stays_inside(path); }

bool unscramble_update_data(std::u16string& text) {
    std::string plain;
    if (!unscramble_bytes(to_narrow_acp(text), builtin_update_key(), plain)) return false;
    text = from_utf8(plain);
    return true;
}

bool update_file_xml::load(const char* bytes, int32_t length) {
    std::u16string text;
    if (!decode_xml_text(bytes, length, text)) return false;
    return load_text(std::move(text));
}

bool update_file_xml::load_text(std::u16string text) {
    auto& log = LogWriter::Instance();
    log.Write(u">>");
    log.Write(u">%s", text);

    xml::document outer;
    if (!outer.parse(text)) return false;
    const xml::element* wrapper = outer.find_first(u"update");
    if (wrapper == nullptr || text.find(kClosingTag) == std::u16string::npos) return false;

    std::u16string inner = wrapper->attribute(u"data");
    // A launcher built with manifest keys takes only what its shop signed, with either key
    // (the current one and the next, while they are rotated).
    verified_key.clear();
    const std::vector<manifest_public_key> keys = builtin_manifest_public_keys();
    if (!keys.empty()) {
        const std::string data = to_utf8(inner),
                          signature = to_utf8(wrapper->attribute(u"signature"));
        signature_check check = signature_check::missing;
        for (const manifest_public_key& key : keys) {
            check = check_manifest_signature(data, signature, key);
            if (check == signature_check::verified) {
                verified_key = from_utf8(base64_encode(key.data(), key.size()));
                break;
            }
        }
        if (check == signature_check::missing) {
            log.Write(u"*오류 : activeupdate.xml에 서명이 없습니다. (signature missing)");
            return false;
        }
        if (check == signature_check::does_not_verify) {
            log.Write(u"*오류 : activeupdate.xml의 서명이 올바르지 않습니다. (signature does not verify)");
            return false;
        }
    }
    // A list scrambled with another key comes out as noise that no step below accepts; the
    // shop's usual mistake is packing with a quorla-pack of another build, so say so.
    // (A manifest without data is simply not one.)
    const bool has_data = !inner.empty();
    const auto not_unscrambled = [&log, has_data] {
        if (has_data)
            log.Write(u"*오류 : activeupdate.xml의 데이터를 풀지 못했습니다. quorla-pack과 런처의 업데이트 키가 다를 수 있습니다."
                      u" (data could not be unscrambled: the update key of quorla-pack and of the launcher may differ)");
        return false;
    };
    if (!unscramble_update_data(inner)) return not_unscrambled();
    // The inner document takes the same road as a downloaded one, through the system code
    // page, where that page holds its text. Where it does not (a Korean file name on a
    // Western system, a Japanese one on a Korean system), that road would turn names into
    // "?" that are never found: the text is taken as it was unscrambled.
    const std::string bytes = to_narrow_acp(inner);
    if (to_wide_acp(bytes) == inner) {
        if (!decode_xml_text(bytes.data(), static_cast<int32_t>(bytes.size()), text))
            return not_unscrambled();
    } else {
        text = std::move(inner);
    }

    xml::document document;
    if (!document.parse(text)) return not_unscrambled();
    const xml::element* update = document.find_first(u"update");
    if (update == nullptr || text.find(kClosingTag) == std::u16string::npos) return not_unscrambled();
    return parse(*update);
}

bool update_file_xml::parse(const xml::element& update) {
    clear();
    bool safe = true;
    uint64_t number = 0;
    // Anything but decimal digits reads as no serial.
    if (parse_decimal(update.attribute(u"serial"), number)) serial = number;
    // A signed list binds its files by SHA-256 too: MD5 collisions can be made at will.
    const bool keyed = !builtin_manifest_public_keys().empty();
    for (const xml::element* group : update.children()) {
        if (!group->is_element() || !equals_nocase(group->name(), u"files")) continue;
        const std::u16string archive = group->attribute(u"name");
        for (const xml::element* file : group->children()) {
            if (!file->is_element() || !equals_nocase(file->name(), u"file")) continue;
            const std::u16string path = file->text();
            if (equals_nocase(file->attribute(u"id"), u"module")) module = path;
            // No listed path may lead out of the install or download folder. The archive name
            // is checked where an archive is to be fetched: one that no stale file needs
            // does not make the whole manifest invalid.
            if (!manifest_path_is_safe(path)) {
                LogWriter::Instance().Write(
                    u"*오류 : 업데이트 목록의 경로가 올바르지 않습니다. (path:%s, archive:%s)",
                    path, archive);
                safe = false;
            }
            const std::u16string sha256 = file->attribute(u"sha256");
            if ((keyed || !sha256.empty()) && !is_sha256_hex(sha256)) {
                LogWriter::Instance().Write(sha256.empty()
                                                ? u"*오류 : 업데이트 목록에 SHA-256이 없는 파일이 "
                                                  u"있습니다. (path:%s, archive:%s)"
                                                : u"*오류 : 업데이트 목록의 SHA-256이 올바르지 "
                                                  u"않습니다. (path:%s, archive:%s)",
                                            path, archive);
                safe = false;
            }
            files.push_back(
                {path, archive, file->attribute(u"hash"), file->attribute(u"version"), sha256});
        }
    }
    return safe && !module.empty() && !files.empty();
}

void update_file_xml::clear() {
    module.clear();
    files.clear();
    serial.reset();
}
