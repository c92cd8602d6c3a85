#include "update/procedure.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "inet/allowed_servers.h"
#include "inet/answer_notes.h"
#include "inet/rest.h"
#include "log/log_writer.h"
#include "os/file_io.h"
#include "os/platform.h"
#include "os/system_error.h"
#include "startup/prepare.h"
#include "text/confine.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/files.h"
#include "update/install_state.h"
#include "update/md5.h"
#include "update/pe_version.h"
#include "update/sha256.h"
#include "update/signature.h"

namespace {

constexpr int kDownloadAttempts = 5;

// Manifest paths may be written with either separator; on disk they use the native one.
std::u16string native_relative(std::u16string path) {
    std::replace(path.begin(), path.end(), u'\\', os::path_separator());
    std::replace(path.begin(), path.end(), u'/', os::path_separator());
    return path;
}

// An archive name is a plain file name in the download folder; anything that could lead
// elsewhere is refused, as for the listed paths.
bool archive_name_is_safe(const std::u16string& name) {
    return !name.empty() && name.find(u'/') == std::u16string::npos &&
           name.find(u'\\') == std::u16string::npos && name != u"." && path_stays_inside(name);
}

void send_progress(host::window* window, int total, int done) {
    if (window != nullptr)
        window->send_message(host::WM_JOB_PROGRESS, static_cast<uintptr_t>(total),
                             static_cast<intptr_t>(done));
    drain_window_messages();
}

// Byte counts pass 32 bits; the log's %d does not.
std::u16string number_text(int64_t value) {
    return from_utf8(std::to_string(value));
}

std::u16string folder_of(const std::u16string& path) {
    const size_t cut = path.find_last_of(u"/\\");
    return cut == std::u16string::npos ? std::u16string(u".") : path.substr(0, cut + 1);
}

std::u16string extension_of(const std::u16string& path) {
    const size_t name_at = path.find_last_of(u"/\\");
    const size_t dot = path.rfind(u'.');
    if (dot == std::u16string::npos || (name_at != std::u16string::npos && dot < name_at))
        return {};
    return path.substr(dot);
}

// Held while this launcher updates an install folder: a second launcher started at the same
// time waits here, keeping its window alive, and then finds everything current. It says so,
// and a lock that stays taken past update_lock_wait_limit() (a launcher hung on a server that
// never ends) is given up: given_up() then tells the update to stop.
class update_lock {
public:
    explicit update_lock(const std::u16string& install_folder) {
        const std::u16string path = install_folder + u"update.lock";
        bool busy = false;
        const auto start = std::chrono::steady_clock::now();
        while ((lock_ = os::try_lock_file(path, busy)) == nullptr && busy) {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            if (!said_) {
                LogWriter::Instance().Write(
                    u"*알림 : 다른 런처가 이 폴더를 업데이트하고 있어 끝나기를 기다립니다. "
                    u"(lock:%s)",
                    path);
                said_ = true;
            }
            if (waited >= update_lock_wait_limit()) {
                LogWriter::Instance().Write(
                    u"*오류 : 다른 런처의 업데이트가 끝나지 않아 기다리지 않습니다. (lock:%s, "
                    u"waited:%s ms)",
                    path, number_text(waited.count()));
                given_up_ = true;
                return;
            }
            drain_window_messages();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~update_lock() { os::unlock_file(lock_); }
    update_lock(const update_lock&) = delete;
    update_lock& operator=(const update_lock&) = delete;
    bool given_up() const { return given_up_; }

private:
    os::file_lock* lock_ = nullptr;
    bool said_ = false, given_up_ = false;
};

// The log's extra lines about an answer that went to a file: its start is read back.
void write_file_answer_notes(const std::u16string& url, const inet::rest::_response& response,
                             const std::u16string& path) {
    std::string start;
    int64_t size = 0;
    if (std::FILE* file = response.status != 200 ? os::open_file(path, "rb") : nullptr) {
        start.resize(inet::rest::quoted_body_bytes);
        start.resize(std::fread(start.data(), 1, start.size(), file));
        if (std::fseek(file, 0, SEEK_END) == 0) size = std::max<long>(std::ftell(file), 0);
        std::fclose(file);
    }
    inet::rest::write_answer_notes(inet::rest::answer_notes(url, response, start, size));
}

// A download that broke off leaves its part in NAME.tmp~ and, beside it, NAME.tmp~.resume: the
// address, the validator the server gave and the lengths, so that the next attempt, in this run
// or the next, can ask for the rest. Nothing in the record is trusted beyond that: the digests
// after extraction decide about the archive.
constexpr std::u16string_view partial_suffix = u".tmp~";
constexpr std::u16string_view record_suffix = u".resume";
constexpr size_t largest_record = 4096;

// The file's length; -1 when it cannot be opened.
int64_t file_length(const std::u16string& path) {
    std::FILE* file = os::open_file(path, "rb");
    if (file == nullptr) return -1;
#ifdef _WIN32
    const int64_t size = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
#else
    const int64_t size = fseeko(file, 0, SEEK_END) == 0 ? static_cast<int64_t>(ftello(file)) : -1;
#endif
    std::fclose(file);
    return size;
}

struct resume_record {
    std::string address;  // UTF-8
    inet::rest::partial_body partial;
};

// The record beside `partial_path`, when it is whole and its length is the part's.
bool read_resume_record(const std::u16string& partial_path, resume_record& record) {
    const std::u16string path = partial_path + std::u16string(record_suffix);
    if (os::node_at(path, false) != os::node::file ||
        os::node_at(partial_path, false) != os::node::file)
        return false;
    std::string text(largest_record + 1, '\0');
    std::FILE* file = os::open_file(path, "rb");
    if (file == nullptr) return false;
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    if (text.size() > largest_record) return false;
    std::vector<std::string> values;
    for (const char* name : {"url ", "validator ", "total ", "size "}) {
        const size_t end = text.find('\n');
        if (end == std::string::npos || text.compare(0, std::strlen(name), name) != 0) return false;
        values.push_back(text.substr(std::strlen(name), end - std::strlen(name)));
        text.erase(0, end + 1);
    }
    auto number = [](const std::string& digits, int64_t& value) {
        uint64_t n = 0;
        if (!parse_decimal(ascii_to_wide(digits), n) || n > INT64_MAX) return false;
        value = static_cast<int64_t>(n);
        return true;
    };
    int64_t total = -1, size = 0;
    if (!text.empty() || values[0].empty() ||
        !inet::rest::validator_is_sendable(values[1]) ||
        (values[2] != "-1" && !number(values[2], total)) || !number(values[3], size) ||
        size <= 0 || (total >= 0 && size >= total) || file_length(partial_path) != size)
        return false;
    record.address = values[0];
    record.partial = {size, values[1], total};
    return true;
}

bool write_resume_record(const std::u16string& partial_path, const std::u16string& address,
                         const inet::rest::partial_body& partial) {
    const std::u16string path = partial_path + std::u16string(record_suffix);
    const std::string text = "url " + to_utf8(address) + "\nvalidator " + partial.validator +
                             "\ntotal " + std::to_string(partial.total) + "\nsize " +
                             std::to_string(partial.offset) + "\n";
    std::FILE* file = os::open_file(path, "wb");
    const bool ok = file != nullptr && address.find_first_of(u"\r\n") == std::u16string::npos &&
                    std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file != nullptr && std::fclose(file) != 0) return false;
    if (!ok && file_exists(path)) delete_file(path);
    return ok;
}

// Empties the download folder, all but the parts a later download may continue (each with a
// whole record beside it), and of those only `only` when it is named. Without a part to keep,
// the folder itself goes too.
void clear_download_folder(const std::u16string& download, bool keep_parts,
                           const std::u16string& only = {}) {
    std::vector<os::folder_entry> entries;
    std::vector<std::u16string> keep;
    if (keep_parts && folder_exists(download) &&
        os::node_at(download.substr(0, download.size() - 1), false) == os::node::folder &&
        os::list_folder(download, entries)) {
        for (const os::folder_entry& e : entries) {
            if (e.kind != os::node::file || !e.name.ends_with(partial_suffix)) continue;
            if (!only.empty() && e.name != only) continue;
            resume_record record;
            if (!read_resume_record(download + e.name, record)) continue;
            keep.push_back(e.name);
            keep.push_back(e.name + std::u16string(record_suffix));
        }
    }
    if (keep.empty()) {
        delete_folder_tree(download, true);
        return;
    }
    for (const os::folder_entry& e : entries)
        if (e.name != u"." && e.name != u".." &&
            std::find(keep.begin(), keep.end(), e.name) == keep.end())
            remove_any(download + e.name);
}

// Between the attempts of an archive download after a broken line or a refused connection:
// 0.5, 1, 2, 4 s, the window kept alive meanwhile.
void pause_before_attempt(int failed_attempts) {
    const auto pause = std::chrono::milliseconds(500) * (1 << std::min(failed_attempts - 1, 3));
    const auto until = std::chrono::steady_clock::now() + pause;
    while (std::chrono::steady_clock::now() < until) {
        drain_window_messages();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(50)));
    }
}

}  // namespace

std::chrono::milliseconds& update_lock_wait_limit() {
    static std::chrono::milliseconds limit = std::chrono::minutes(10);
    return limit;
}

void drain_window_messages() {
    host::pump_pending_events();
}

bool download_to_file(const std::u16string& url, const std::u16string& target) {
    auto& log = LogWriter::Instance();
    const std::u16string temporary = target + std::u16string(partial_suffix);
    const std::u16string record_path = temporary + std::u16string(record_suffix);
    // A part an earlier run left of this very address is continued; any other goes.
    inet::rest::partial_body partial;
    resume_record record;
    if (read_resume_record(temporary, record) && record.address == to_utf8(url))
        partial = record.partial;
    if (file_exists(record_path)) delete_file(record_path);
    std::shared_ptr<inet::rest::_response> response;
    for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
        if (response && response->line_failed) pause_before_attempt(attempt);
        // The archive may take what the volume has above the floor, counted with the part
        // that is continued and without what a failed attempt left otherwise.
        if (partial.offset == 0 && file_exists(temporary)) delete_file(temporary);
        if (partial.offset > 0)
            log.Write(u"*알림 : 받다 만 파일을 이어 받습니다. (url:%s, from:%s)", url,
                      number_text(partial.offset));
        const int64_t asked_from = partial.offset;
        inet::rest::request_options options;
        options.max_body_bytes = space_above_floor(folder_of(target));
        response = inet::rest::get_to_file(url, options, temporary, partial);
        if (asked_from > 0 && !response->resumed && response->status != -1)
            log.Write(u"*알림 : 서버가 이어 받기에 응하지 않아 처음부터 받습니다. (url:%s, status:%d)",
                      url, response->status);
        if (response->status != 200 && options.max_body_bytes >= 0 &&
            std::string_view(response->error).starts_with(inet::rest::body_over_limit)) {
            uint64_t free = 0;
            os::free_bytes(folder_of(target), free);
            log.Write(u"*오류 : 디스크 여유 공간이 부족합니다. (url:%s, announced:%s, free:%s, floor:%s)",
                      url, number_text(static_cast<int64_t>(response->content_length)),
                      number_text(static_cast<int64_t>(free)),
                      number_text(static_cast<int64_t>(free_space_floor())));
            partial = inet::rest::partial_body();
            break;
        }
        // A proxy that wants credentials gives the same answer to every attempt.
        if (inet::rest::proxy_refused(*response)) break;
        const bool whole = response->status == 200 || (response->status == 206 && response->resumed);
        if (!whole) continue;

        if (file_exists(target) && !delete_file(target))
            log.Write(u"*경고 : 파일을 삭제하는데 실패했습니다. (url:%s, err:0x%08x)", url,
                      os::last_system_error());
        if (os::move_file_no_replace(temporary, target) ||
            os::copy_file_replace(temporary, target)) {
            // A continued body is the whole archive now: nothing of it is quoted.
            inet::rest::_response shown = *response;
            if (shown.resumed) shown.status = 200;
            write_file_answer_notes(url, shown, target);
            return true;
        }
        const uint32_t error = os::last_system_error();
        log.Write(
            u"*오류 : 다운로드받은 파일명을 변경 하지 못했습니다. (src:%s, dest:%s, err:0x%08x)",
            temporary, target, error);
        if (file_exists(temporary)) delete_file(temporary);
        if (file_exists(target)) delete_file(target);
        return false;
    }
    const uint32_t error = os::last_system_error();
    log.Write(u"*오류 : 파일을 다운로드 하지 못했습니다. (url:%s, status:%d, err:0x%08x)", url,
              response->status, error);
    log.Write(u"     %s", to_wide_acp(response->error));
    write_file_answer_notes(url, *response, temporary);
    // What arrived of a body that can be continued stays for the next run.
    if (partial.offset > 0 && write_resume_record(temporary, url, partial)) {
        log.Write(u"*알림 : 받다 만 파일을 남겨 다음 실행에서 이어 받습니다. (path:%s, bytes:%s)",
                  temporary, number_text(partial.offset));
        return false;
    }
    if (file_exists(temporary)) delete_file(temporary);
    return false;
}

bool collect_updates(const std::u16string& install_folder, std::vector<update_file_entry>& updates,
                     const std::u16string& manifest_base, std::u16string& module_file) {
    auto& log = LogWriter::Instance();
    const std::u16string address = manifest_base + u"activeupdate.xml";
    std::vector<char> buffer;
    if (!fetch_to_memory(buffer, address)) {
        log.Write(u"* 오류: activeupdate.xml을 다운로드 하지 못했습니다. (url:%s)", address);
        return false;
    }
    drain_window_messages();

    update_file_xml manifest;
    const bool loaded = buffer.empty()
                            ? manifest.load(nullptr, 0)
                            : manifest.load(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (!loaded) {
        log.Write(u"* 오류: activeupdate.xml의 포멧이 올바르지 않습니다. (url:%s)", address);
        return false;
    }
    if (!accept_manifest_for_folder(install_folder, manifest_base, manifest)) return false;
    module_file = native_relative(manifest.module);
    // With a key, a file is current only when its SHA-256 matches as well (the manifest lists
    // one for every file then): a file made to collide with the listed MD5, or to carry the
    // listed version, would otherwise stay.
    const bool keyed = !builtin_manifest_public_keys().empty();

    // The installed files with a digest are digested together first, several at once, which
    // is much faster than one after another on this check that runs at every start. The loop
    // below changes files only by deleting them, and a deleted path is then found missing
    // before its digest is looked at, so it decides as if each file were digested at its turn.
    std::vector<std::u16string> hashed;
    for (const update_file_entry& entry : manifest.files)
        if (!entry.hash.empty()) hashed.push_back(install_folder + native_relative(entry.path));
    const std::vector<std::u16string> digests = files_md5_hex(hashed);
    size_t next_digest = 0;

    for (const update_file_entry& entry : manifest.files) {
        const std::u16string relative = native_relative(entry.path);
        const std::u16string target = install_folder + relative;
        const std::u16string* digest = entry.hash.empty() ? nullptr : &digests[next_digest++];
        // Nothing in the install folder is followed: a link on the way or at the listed path
        // is removed, so the file counts as missing and is installed as a plain file.
        remove_links_on_the_way(install_folder, relative);
        // Whatever stands at a stale path (a file, or a folder an archive put there) goes, so
        // that the next good update can always repair the install.
        if (!path_exists(target)) {
            updates.push_back(entry);
        } else if ((digest != nullptr ? !equals_nocase(*digest, entry.hash)
                                      : !equals_nocase(file_version_text(target), entry.version)) ||
                   (keyed && !equals_nocase(file_sha256_hex(target), entry.sha256))) {
            remove_any(target);
            updates.push_back(entry);
        }
    }
    remove_unlisted_executables(install_folder, manifest.files);
    // An archive name matters only where an archive is to be fetched.
    for (const update_file_entry& entry : updates) {
        if (!archive_name_is_safe(entry.archive)) {
            log.Write(u"* 오류: activeupdate.xml의 압축 파일 이름이 올바르지 않습니다.");
            log.Write(u"* 오류: activeupdate.xml의 포멧이 올바르지 않습니다. (url:%s)", address);
            return false;
        }
    }
    return true;
}

bool update_module(host::window* window, const startup_file_xml& startup,
                   std::u16string& module_file) {
    auto& log = LogWriter::Instance();
    drain_window_messages();
    const std::u16string& install = startup.install_path;
    const std::u16string download = install + u"download" + os::path_separator();
    log.Write(u"* 업데이트 시작 ********************");
    log.Write(u"* install path: %s\r\n", install);
    for (const std::u16string* address : {&startup.update_url, &startup.update_file_url}) {
        if (!inet::server_allowed(*address)) {
            log.Write(u"* 오류: 허용되지 않은 업데이트 서버입니다. (url:%s)", *address);
            return false;
        }
    }
    // Before anything is fetched: another shop's folder is never filled by this one's files.
    if (!install_folder_is_ours(with_trailing_separator(install), startup.update_url)) return false;

    if (!create_folder(install)) {
        log.Write(u"* 오류: 작업 폴더를 생성할 수 없습니다. (path:%s, err:0x%08x)", install,
                  os::last_system_error());
        return false;
    }
    const update_lock serialised(with_trailing_separator(install));
    if (serialised.given_up()) return false;
    // The download folder is ours: a link or file in its place goes, never followed.
    if (os::node_at(install + u"download", false) != os::node::folder)
        remove_any(install + u"download");
    // Whatever an earlier run left in the download folder (a failed update, a killed launcher)
    // goes first: it may be large, and none of it is trusted. Only the part of an archive
    // whose download broke off stays, with its record, for the download of its address.
    clear_download_folder(download, true);
    // However the update ends, the folder goes again; files the manifest does not list are
    // not kept, nor any part but the one of a download that broke off in this run.
    struct remove_at_end {
        const std::u16string& folder;
        std::u16string broken_part;
        ~remove_at_end() {
            const uint32_t error = os::last_system_error();
            clear_download_folder(folder, !broken_part.empty(), broken_part);
            os::set_last_system_error(error);
        }
    } download_folder{download, {}};

    std::vector<update_file_entry> updates;
    if (!collect_updates(install, updates, startup.update_url, module_file)) return false;
    if (!startup.module.empty()) module_file = native_relative(startup.module);
    drain_window_messages();

    if (updates.empty()) {
        send_progress(window, 100, 100);
        return true;
    }
    // Only now that something must be fetched: an install that is current may stand in a
    // folder the customer cannot write.
    if (!create_folder(download)) {
        log.Write(u"* 오류: 설치 임시폴더를 생성할 수 없습니다. (path:%s, err:0x%08x)", download,
                  os::last_system_error());
        return false;
    }

    // Each archive is fetched once, in the order of its first appearance.
    std::vector<std::u16string> archives;
    for (const auto& entry : updates)
        if (std::find(archives.begin(), archives.end(), entry.archive) == archives.end())
            archives.push_back(entry.archive);
    const int n = static_cast<int>(archives.size());

    for (int i = 1; i <= n; ++i) {
        send_progress(window, n, i);
        const std::u16string& name = archives[static_cast<size_t>(i - 1)];
        const std::u16string address = startup.update_file_url + name;
        const std::u16string archive_file = download + name;
        if (!download_to_file(address, archive_file)) {
            download_folder.broken_part = name + std::u16string(partial_suffix);
            log.Write(u"* 오류: 파일을 다운로드 할수 없습니다. (url%s, path:%s)", address,
                      archive_file);
            return false;
        }
        const int unpacked = equals_nocase(extension_of(archive_file), u".cab")
                                 ? extract_cab(archive_file, download, u"", u"")
                                 : extract_zip(archive_file, download, u"", u"");
        if (unpacked == 0) {
            log.Write(u"* 오류: 파일에 압축을 풀수 없습니다. (src:%s, dest:%s, 0x%08x)",
                      archive_file, download, os::last_system_error());
            return false;
        }
    }
    send_progress(window, n, n);

    int j = 0;
    for (const auto& entry : updates) {
        send_progress(window, n, ++j);
        const std::u16string extracted = download + native_relative(entry.path);
        const std::u16string target = install + native_relative(entry.path);
        if (!entry.hash.empty()) {
            const std::u16string digest = file_md5_hex(extracted);
            if (!equals_nocase(digest, entry.hash)) {
                log.Write(u"* 오류: 다운로드 받은파일이 올바르않습니다. (src:%s, hash:%s)",
                          extracted, digest);
                return false;
            }
        }
        if (!entry.sha256.empty()) {
            const std::u16string digest = file_sha256_hex(extracted);
            if (!equals_nocase(digest, entry.sha256)) {
                log.Write(
                    u"* 오류: 다운로드 받은파일의 SHA-256이 올바르지 않습니다. (src:%s, sha256:%s)",
                    extracted, digest);
                return false;
            }
        }
        remove_links_on_the_way(install, native_relative(entry.path));
        if (!os::move_file_no_replace(extracted, target)) {
            log.Write(u"* 오류: 파일을 복사할수 없습니다. (src:%s, dest:%s, 0x%08x)", extracted,
                      target, os::last_system_error());
            return false;
        }
    }
    send_progress(window, n, n);
    return true;
}
