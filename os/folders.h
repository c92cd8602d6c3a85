#pragma once
// Folder services shared by the log and the module update: what is at a path, folder
// creation and the per-user data folder. One half per OS (folders_posix.cpp, folders_win.cpp),
// the walk over a path's levels in folders.cpp.
#include <cstdint>
#include <string>

namespace os {

enum class node { none, file, folder, link };

// What is at the path; `follow` resolves symbolic links first.
node node_at(const std::u16string& path, bool follow);
// Creates one folder level. 0 on success, else the system error code.
uint32_t make_folder(const std::u16string& path);
// Creates every level of the path in turn, from the first, and returns the code of the last
// creation (an existing level reports "already exists"; doubled separators are skipped).
uint32_t make_each_level(const std::u16string& path);
// Creates every missing level (SHCreateDirectoryExW); 0 once a folder stands there, else the
// error code ("not a folder" when a file does).
uint32_t make_folder_levels(const std::u16string& path);
bool error_is_already_exists(uint32_t code);
bool error_is_path_not_found(uint32_t code);
// A code for a refused request ("access denied").
uint32_t error_access_denied();

// The per-user data folder (POSIX: $XDG_DATA_HOME, else $HOME/.local/share; Windows: the
// LocalLow known folder) without a trailing separator; empty when it is not known.
std::u16string data_folder();

}  // namespace os
