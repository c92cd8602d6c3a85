#pragma once
// Folder and file services of the module update. Paths are wide texts passed by value;
// folder paths get the native separator appended on the function's own copy.
// The portable rules live in files.cpp; the OS calls they make are os/files.h and os/folders.h.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "os/files.h"

// 1 when the folder exists afterwards (every missing level is created), else 0 with
// "폴더를 생성하지 못했습니다.[win32err:%d][%s]\r\n" in the log.
int create_folder(std::u16string path);
// 1 when every entry was deleted (also when the emptied folder itself stays, which is
// logged as "delete fail: %s\n"); 0 when the path is not a folder or an entry stays.
// Subfolders are entered only when `recurse` is set. Symbolic links are removed, never followed.
int delete_folder_tree(std::u16string path, bool recurse);
// Non-zero when the file was deleted; clears the read-only state first.
int delete_file_forced(const std::u16string& path);
// The path exists and is a folder / exists and is not a folder (links are followed).
bool folder_exists(const std::u16string& path);
bool file_exists(const std::u16string& path);

// Stand-ins for the platform file operations the update procedure uses.
// Something exists at the path, file or folder (PathFileExistsW).
bool path_exists(const std::u16string& path);
// Deletes a file (DeleteFileW); false for folders and missing files.
bool delete_file(const std::u16string& path);
// Removes whatever stands at the path (file, link or folder tree), never following a link.
// True when nothing is there afterwards.
bool remove_any(const std::u16string& path);
// Removes every link met on the way from `folder` down to `folder + relative` (the last step
// included), so that what the update writes or deletes there stays inside the folder.
void remove_links_on_the_way(const std::u16string& folder, const std::u16string& relative);

// The path create_folder makes: doubled separators collapsed (a network path keeps its two
// leading ones) and a trailing separator added. An empty path stays empty.
std::u16string normalise_folder_path(std::u16string path);

// Appends the native separator when the path lacks a trailing one.
std::u16string with_trailing_separator(std::u16string path);

// Free space the update always leaves on the volume it writes to: a download or an extraction
// that would go below it is refused, so a server can never fill the customer's disk.
// 256 MiB; tests raise it to make a small disk of a large one.
uint64_t& free_space_floor();
// Bytes that may still be written on the volume of `path` before the floor is reached (0 when
// it is reached already); -1 when the volume's free space cannot be learned.
int64_t space_above_floor(const std::u16string& path);
