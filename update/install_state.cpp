#include "update/install_state.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "inet/cracked_url.h"
#include "log/log_writer.h"
#include "os/file_io.h"
#include "os/platform.h"
#include "os/replace_file.h"
#include "text/text.h"
#include "update/files.h"
#include "update/scramble.h"
#include "update/signature.h"

namespace {

constexpr std::u16string_view kStateFile = u"update.state";
// Larger is no state of ours; reading stops there.
constexpr size_t kMaxStateBytes = 4096;

struct file_close {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::u16string key_owner(const manifest_public_key& key) {
    return u"key:" + from_utf8(base64_encode(key.data(), key.size()));
}

std::u16string host_owner(const std::u16string& update_url) {
    const inet::cracked_url cracked = inet::crack_url(update_url);
    std::u16string host = cracked.ok ? cracked.host : std::u16string();
    for (char16_t& c : host)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return u"host:" + host;
}

std::u16string number_text(uint64_t value) {
    return from_utf8(std::to_string(value));
}

// Manifest paths may be written with either separator; on disk they use the native one.
std::u16string native_relative(std::u16string path) {
    std::replace(path.begin(), path.end(), u'\\', os::path_separator());
    std::replace(path.begin(), path.end(), u'/', os::path_separator());
    return path;
}

// ELF ("\x7f" "ELF") and PE/DOS ("MZ") images: what a dynamic loader would take.
bool is_executable_image(const std::u16string& path) {
    std::unique_ptr<std::FILE, file_close> file(os::open_file(path, "rb"));
    if (!file) return false;
    unsigned char head[4] = {};
    const size_t n = std::fread(head, 1, sizeof head, file.get());
    if (n >= 2 && head[0] == 'M' && head[1] == 'Z') return true;
    return n == 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}

bool same_path(const std::u16string& a, const std::u16string& b) {
    // Windows file names ignore letter case.
    return os::path_separator() == u'\\' ? equals_nocase(a, b) : a == b;
}

void remove_unlisted_in(const std::u16string& install, const std::u16string& relative,
                        const std::vector<std::u16string>& listed, int depth) {
    std::vector<os::folder_entry> entries;
    if (depth > 32 || !os::list_folder(install + relative, entries)) return;
    for (const auto& entry : entries) {
        if (entry.name == u"." || entry.name == u"..") continue;
        const std::u16string path = relative + entry.name;
        // The update's own bookkeeping and working folder.
        if (relative.empty() &&
            (entry.name == u"download" || entry.name == u"update.lock" || entry.name == kStateFile))
            continue;
        if (entry.kind == os::node::folder) {
            remove_unlisted_in(install, path + os::path_separator(), listed, depth + 1);
            continue;
        }
        if (std::any_of(listed.begin(), listed.end(),
                        [&](const std::u16string& l) { return same_path(l, path); }))
            continue;
        if (!is_executable_image(install + path)) continue;
        const bool removed = remove_any(install + path);
        LogWriter::Instance().Write(
            removed ? u"*알림 : 업데이트 목록에 없는 실행 파일을 삭제했습니다. (path:%s)"
                    : u"*오류 : 업데이트 목록에 없는 실행 파일을 삭제하지 못했습니다. (path:%s)",
            install + path);
    }
}

}  // namespace

std::u16string install_state_path(const std::u16string& install_folder) {
    return with_trailing_separator(install_folder) + std::u16string(kStateFile);
}

install_state read_install_state(const std::u16string& install_folder) {
    install_state state;
    std::unique_ptr<std::FILE, file_close> file(
        os::open_file(install_state_path(install_folder), "rb"));
    if (!file) return state;
    std::string bytes(kMaxStateBytes, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    const std::u16string text = from_utf8(bytes);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(u'\n', at);
        if (end == std::u16string::npos) end = text.size();
        const std::u16string line = text.substr(at, end - at);
        at = end + 1;
        uint64_t value = 0;
        if (line.starts_with(u"owner="))
            state.owner = line.substr(6);
        else if (line.starts_with(u"serial=") &&
                 parse_decimal(std::u16string_view(line).substr(7), value))
            state.serial = value;
    }
    return state;
}

bool write_install_state(const std::u16string& install_folder, const install_state& state) {
    const std::u16string path = install_state_path(install_folder);
    const std::u16string temporary = path + u".tmp~";
    std::string text = "owner=" + to_utf8(state.owner) + "\n";
    if (state.serial) text += "serial=" + std::to_string(*state.serial) + "\n";
    remove_any(temporary);
    std::FILE* file = os::open_file(temporary, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written || !os::replace_file(temporary, path)) {
        remove_any(temporary);
        return false;
    }
    return true;
}

bool install_folder_is_ours(const std::u16string& install_folder,
                            const std::u16string& update_url) {
    const install_state state = read_install_state(install_folder);
    if (state.owner.empty()) return true;  // not filled yet: the first shop's manifest takes it
    const std::vector<manifest_public_key> keys = builtin_manifest_public_keys();
    bool ours = false;
    std::u16string mine;
    if (keys.empty()) {
        mine = host_owner(update_url);
        ours = state.owner == mine;
    } else {
        for (const auto& key : keys) {
            mine += (mine.empty() ? u"" : u";") + key_owner(key);
            ours = ours || state.owner == key_owner(key);
        }
    }
    if (!ours)
        LogWriter::Instance().Write(
            u"* 오류: 다른 쇼핑몰의 설치 폴더입니다. (path:%s, owner:%s, this launcher:%s)",
            install_folder, state.owner, mine);
    return ours;
}

bool accept_manifest_for_folder(const std::u16string& install_folder,
                                const std::u16string& update_url, const update_file_xml& manifest) {
    install_state state = read_install_state(install_folder);
    const bool keyed = !builtin_manifest_public_keys().empty();
    if (keyed) {
        const uint64_t serial = manifest.serial.value_or(0);
        if (state.serial && serial < *state.serial) {
            LogWriter::Instance().Write(
                u"*오류 : activeupdate.xml의 일련번호가 이미 받은 것보다 낮습니다. (serial:%s, "
                u"accepted:%s)",
                number_text(serial), number_text(*state.serial));
            return false;
        }
        state.serial = std::max(serial, state.serial.value_or(0));
        if (state.owner.empty()) state.owner = u"key:" + manifest.verified_key;
    } else if (state.owner.empty()) {
        state.owner = host_owner(update_url);
    }
    if (!write_install_state(install_folder, state)) {
        // Without a key the record only guards against another shop's folder; with one it is
        // what keeps an older manifest out, so the update cannot go on without it.
        LogWriter::Instance().Write(keyed
                                        ? u"* 오류: 설치 폴더 정보를 기록할 수 없습니다. (path:%s)"
                                        : u"*경고 : 설치 폴더 정보를 기록할 수 없습니다. (path:%s)",
                                    install_state_path(install_folder));
        return !keyed;
    }
    return true;
}

void remove_unlisted_executables(const std::u16string& install_folder,
                                 const std::vector<update_file_entry>& listed) {
    if (builtin_manifest_public_keys().empty()) return;
    std::vector<std::u16string> paths;
    for (const auto& entry : listed) paths.push_back(native_relative(entry.path));
    remove_unlisted_in(with_trailing_separator(install_folder), u"", paths, 0);
}
