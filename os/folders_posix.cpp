// POSIX side of the folder services: stat, mkdir and the XDG data folder.
#include <sys/stat.h>

#include <cerrno>

#include "os/folders.h"
#include "os/platform.h"
#include "os/posix_path.h"

namespace os {

node node_at(const std::u16string& path, bool follow) {
    if (path.empty()) return node::none;
    struct stat st {};
    const std::string p = native_path(path);
    if ((follow ? stat(p.c_str(), &st) : lstat(p.c_str(), &st)) != 0) return node::none;
    if (S_ISLNK(st.st_mode)) return node::link;
    return S_ISDIR(st.st_mode) ? node::folder : node::file;
}

uint32_t make_folder(const std::u16string& path) {
    if (path.empty()) return ENOENT;
    return mkdir(native_path(path).c_str(), 0777) == 0 ? 0 : static_cast<uint32_t>(errno);
}

bool error_is_already_exists(uint32_t code) {
    return code == EEXIST;
}
bool error_is_path_not_found(uint32_t code) {
    return code == ENOENT;
}
uint32_t error_access_denied() {
    return EACCES;
}

uint32_t make_folder_levels(const std::u16string& path) {
    const char16_t sep = path_separator();
    uint32_t err = ENOENT;
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == sep) {
            if (i > 0 && path[i - 1] == sep) continue;
            err = make_folder(path.substr(0, i));
            if (err == EEXIST && node_at(path.substr(0, i), true) != node::folder) return ENOTDIR;
        }
    }
    if (err == EEXIST) err = 0;
    if (err == 0 && node_at(path, true) != node::folder) return ENOTDIR;
    return err;
}

// $XDG_DATA_HOME, else $HOME/.local/share.
std::u16string data_folder() {
    std::u16string data = environment_variable(u"XDG_DATA_HOME");
    // Relative values are to be ignored.
    if (!data.empty() && data[0] == u'/') {
        while (data.size() > 1 && data.back() == u'/') data.pop_back();
        return data;
    }
    std::u16string home = environment_variable(u"HOME");
    if (home.empty()) return {};
    while (home.size() > 1 && home.back() == u'/') home.pop_back();
    return home + u"/.local/share";
}

}  // namespace os
