#pragma once
// Folder and file services of the module update. Paths are wide texts passed by value;
// folder paths get the native separator appended on the function's own copy.
// The portable rules live in files.cpp; the OS calls in files_posix.cpp (files_win.cpp later).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// Renames or moves; fails when the target exists (MoveFileW). Works across file systems.
bool move_file_no_replace(const std::u16string& from, const std::u16string& to);
// Copies a file over the target, replacing it when it exists (CopyFileW with overwrite).
bool copy_file_replace(const std::u16string& from, const std::u16string& to);

// The path create_folder makes: doubled separators collapsed (a network path keeps its two
// leading ones) and a trailing separator added. An empty path stays empty.
std::u16string normalise_folder_path(std::u16string path);

// Appends the native separator when the path lacks a trailing one.
std::u16string with_trailing_separator(std::u16string path);

// ---- OS seam used by the portable code of the update folder -----------------------------
namespace files_os {

enum class node { none, file, folder, link };

// What is at the path; `follow` resolves symbolic links first.
node node_at(const std::u16string& path, bool follow);
// Creates one folder level. 0 on success, else the system error code.
uint32_t make_folder(const std::u16string& path);
bool error_is_already_exists(uint32_t code);
bool error_is_path_not_found(uint32_t code);
// A code for a refused request ("access denied"), left as the last system error.
uint32_t error_access_denied();
// Creates every missing level (SHCreateDirectoryExW); 0 or the error code.
uint32_t make_folder_levels(const std::u16string& path);

struct folder_entry {
    std::u16string name;
    node kind = node::none;  // file, folder or link; never followed
};
// Every entry of a folder, "." and ".." included as the platform lists them.
bool list_folder(const std::u16string& folder, std::vector<folder_entry>& entries);
bool remove_folder(const std::u16string& path);
bool remove_file(const std::u16string& path);
// The read-only state of a file (no owner write permission on POSIX).
bool is_read_only(const std::u16string& path);
bool clear_read_only(const std::u16string& path);

// A file written by an extraction. The OS handle stays behind this opaque pointer.
struct output_file;
struct file_attributes {
    bool read_only = false;
    bool has_unix_mode = false;
    uint32_t unix_mode = 0;  // permission bits only
};
struct file_times {
    bool has_modified = false, has_accessed = false, has_created = false;
    int64_t modified = 0, accessed = 0, created = 0;  // seconds since 1970-01-01 UTC
};
// Creates the file, replacing a file (or link) of that name; never writes through a link.
output_file* create_output_file(const std::u16string& path, const file_attributes& attributes);
bool write_output_file(output_file* file, const void* data, size_t size);
// Sets the times, closes and frees the handle; false when any step failed.
bool finish_output_file(output_file* file, const file_times& times);
// Closes and frees the handle without setting anything (after a failure).
void abandon_output_file(output_file* file);
// Seconds since 1970 UTC of a local calendar time (DOS time stamps are local time).
int64_t local_time_to_utc(int year, int month, int day, int hour, int minute, int second);

}  // namespace files_os
