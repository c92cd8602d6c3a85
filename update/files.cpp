#include "update/files.h"

#include <algorithm>
#include <cstdint>

#include "log/log_writer.h"
#include "os/system_error.h"
#include "os/platform.h"
#include "text/text.h"

std::u16string with_trailing_separator(std::u16string path) {
    const char16_t sep = os::path_separator();
    if (path.empty() || path.back() != sep) path.push_back(sep);
    return path;
}

uint64_t& free_space_floor() {
    static uint64_t floor = 256ull * 1024 * 1024;
    return floor;
}

int64_t space_above_floor(const std::u16string& path) {
    uint64_t free = 0;
    if (!os::free_bytes(path, free)) return -1;
    const uint64_t floor = free_space_floor();
    return free > floor ? static_cast<int64_t>(std::min<uint64_t>(free - floor, INT64_MAX)) : 0;
}

bool folder_exists(const std::u16string& path) {
    return os::node_at(path, true) == os::node::folder;
}

bool file_exists(const std::u16string& path) {
    return os::node_at(path, true) == os::node::file;
}

bool path_exists(const std::u16string& path) {
    return os::node_at(path, true) != os::node::none;
}

std::u16string normalise_folder_path(std::u16string path) {
    if (path.empty()) return path;
    const char16_t sep = os::path_separator();
    const std::u16string one(1, sep), two(2, sep);
    // Two leading separators name a network share unless the first part is a local folder.
    bool network = false;
    if (path.size() >= 3 && path[0] == sep && path[1] == sep) {
        const size_t next = path.find(sep, 2);
        network = !folder_exists(next == std::u16string::npos ? path : path.substr(0, next));
    }
    path = replace_all(path, two, one);
    if (network) path.insert(0, one);
    return with_trailing_separator(path);
}

int create_folder(std::u16string path) {
    const char16_t sep = os::path_separator();
    path = normalise_folder_path(std::move(path));

    uint32_t err = os::make_folder(path);
    if (err == 0) return 1;
    // "Already exists" counts only when a folder is there, not a file of that name.
    if (os::error_is_already_exists(err) && folder_exists(path)) return 1;
    if (os::error_is_path_not_found(err)) {
        // The last of these creations is the folder itself (the path ends with a separator).
        for (size_t i = 1; i < path.size(); ++i) {
            if (path[i] == sep) err = os::make_folder(path.substr(0, i));
        }
        if (err == 0 || (os::error_is_already_exists(err) && folder_exists(path))) return 1;
    }
    LogWriter::Instance().Write(u"폴더를 생성하지 못했습니다.[win32err:%d][%s]\r\n",
                                static_cast<int>(err), path);
    os::set_last_system_error(err);
    return 0;
}

int delete_file_forced(const std::u16string& path) {
    if (path.empty() || !file_exists(path)) return 0;
    // A link is removed itself; its target's state is not ours to change.
    if (os::node_at(path, false) != os::node::link && os::is_read_only(path))
        os::clear_read_only(path);
    return os::remove_file(path) ? 1 : 0;
}

bool delete_file(const std::u16string& path) {
    const os::node n = os::node_at(path, false);
    if (n == os::node::none || n == os::node::folder) return false;
    return os::remove_file(path);
}

namespace {

std::u16string without_trailing_separators(std::u16string path) {
    while (path.size() > 1 && path.back() == os::path_separator()) path.pop_back();
    return path;
}

}  // namespace

int delete_folder_tree(std::u16string path, bool recurse) {
    // A link where the folder should be is removed itself: what it points to is not ours.
    const std::u16string bare = without_trailing_separators(path);
    if (os::node_at(bare, false) == os::node::link) return os::remove_file(bare) ? 1 : 0;
    if (!folder_exists(path)) return 0;
    path = with_trailing_separator(path);
    std::vector<os::folder_entry> entries;
    if (!os::list_folder(path, entries)) return 0;
    for (const auto& e : entries) {
        if (e.name == u"." || e.name == u"..") continue;
        const std::u16string full = path + e.name;
        switch (e.kind) {
            case os::node::folder:
                if (recurse && !delete_folder_tree(full, recurse)) return 0;
                break;
            case os::node::link:
                // Never follow a link out of the tree: remove the link only.
                if (!os::remove_file(full)) return 0;
                break;
            default:
                if (!delete_file_forced(full)) return 0;
                break;
        }
    }
    if (!os::remove_folder(path)) {
        const uint32_t err = os::last_system_error();
        LogWriter::Instance().Write(u"delete fail: %s\n", path);
        os::set_last_system_error(err);
    }
    return 1;
}

bool remove_any(const std::u16string& path) {
    const std::u16string bare = without_trailing_separators(path);
    switch (os::node_at(bare, false)) {
        case os::node::none:
            return true;
        case os::node::link:
            return os::remove_file(bare);
        case os::node::folder:
            delete_folder_tree(bare, true);
            return os::node_at(bare, false) == os::node::none;
        default:
            return delete_file_forced(bare) != 0;
    }
}

void remove_links_on_the_way(const std::u16string& folder, const std::u16string& relative) {
    const char16_t sep = os::path_separator();
    for (size_t end = 0; end != std::u16string::npos && end < relative.size();) {
        end = relative.find(sep, end + 1);
        const std::u16string step = folder + relative.substr(0, end);
        if (os::node_at(step, false) == os::node::link) os::remove_file(step);
    }
}
