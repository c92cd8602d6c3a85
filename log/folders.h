#pragma once
// Folder services shared by the log and the module update: what is at a path and folder
// creation. One half per OS (folders_posix.cpp, folders_win.cpp).
#include <cstdint>
#include <string>

namespace os {

enum class node { none, file, folder, link };

// What is at the path; `follow` resolves symbolic links first.
node node_at(const std::u16string& path, bool follow);
// Creates one folder level. 0 on success, else the system error code.
uint32_t make_folder(const std::u16string& path);
// Creates every missing level (SHCreateDirectoryExW); 0 or the error code.
uint32_t make_folder_levels(const std::u16string& path);
bool error_is_already_exists(uint32_t code);
bool error_is_path_not_found(uint32_t code);
// A code for a refused request ("access denied").
uint32_t error_access_denied();

}  // namespace os
