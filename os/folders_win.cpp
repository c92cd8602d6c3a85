// Windows side of the folder services: file attributes, the shell's folder creation and the
// LocalLow known folder.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "os/folders.h"
#include "os/wide_path.h"

namespace os {

node node_at(const std::u16string& path, bool follow) {
    if (path.empty()) return node::none;
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return node::none;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!follow) return node::link;
        // What the link leads to: opening through it fails when the target is gone.
        const HANDLE target = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (target == INVALID_HANDLE_VALUE) return node::none;
        BY_HANDLE_FILE_INFORMATION info{};
        const BOOL known = GetFileInformationByHandle(target, &info);
        CloseHandle(target);
        if (!known) return node::none;
        return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? node::folder : node::file;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? node::folder : node::file;
}

uint32_t make_folder(const std::u16string& path) {
    if (path.empty()) return ERROR_PATH_NOT_FOUND;
    if (CreateDirectoryW(wide(path), nullptr)) return 0;
    // A failure must carry a code: below a file some systems report none, where Windows
    // reports the path as not found.
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_PATH_NOT_FOUND;
}

uint32_t make_folder_levels(const std::u16string& path) {
    if (path.empty()) return ERROR_PATH_NOT_FOUND;
    const int result = SHCreateDirectoryExW(nullptr, wide(path), nullptr);
    if (result == ERROR_SUCCESS) return 0;
    // The shell says "already exists" for a file as well as for a folder.
    if ((result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS) && node_at(path, true) != node::folder)
        return ERROR_DIRECTORY;
    return static_cast<uint32_t>(result);
}

bool error_is_already_exists(uint32_t code) {
    return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
}
bool error_is_path_not_found(uint32_t code) {
    return code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND;
}
uint32_t error_access_denied() {
    return ERROR_ACCESS_DENIED;
}

// FOLDERID_LocalAppDataLow: every Windows this build runs on (10 and later) has known folders.
std::u16string data_folder() {
    PWSTR folder = nullptr;
    std::u16string result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, 0, nullptr, &folder)) && folder != nullptr)
        result = reinterpret_cast<const char16_t*>(folder);
    CoTaskMemFree(folder);
    while (result.size() > 3 && (result.back() == u'\\' || result.back() == u'/')) result.pop_back();
    return result;
}

}  // namespace os
