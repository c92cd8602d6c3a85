#pragma once
// Folder and file services of the module update. Paths are wide texts passed by value;
// folder paths get the native separator appended on the function's own copy.
// The portable rules live in files.cpp; the OS calls in files_posix.cpp (files_win.cpp later).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "log/folders.h"

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
// A link at the target is replaced, never written through.
bool copy_file_replace(const std::u16string& from, const std::u16string& to);

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

// ---- OS seam used by the portable code of the update folder -----------------------------
struct files_os_lock;

namespace files_os {

// What is at a path and folder creation are shared with the log (log/folders.h).
using os::error_access_denied;
using os::error_is_already_exists;
using os::error_is_path_not_found;
using os::make_folder;
using os::make_folder_levels;
using os::node;
using os::node_at;
// Bytes an unprivileged writer may still use on the volume of the path (statvfs,
// GetDiskFreeSpaceExW); false when the system does not tell.
bool free_bytes(const std::u16string& path, uint64_t& bytes);

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
    // Permission bits the archive stored (rwx for owner, group, others), where it stored any;
    // a file system without them keeps only the owner's write bit, as the read-only state.
    bool has_permissions = false;
    uint32_t permissions = 0;
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
// An exclusive lock on a file that every launcher takes (created when missing, never through
// a link). Null when it cannot be had; `busy` then tells whether another process holds it.
// Two launchers started at once (a double click) would otherwise share the temporary names.
files_os_lock* try_lock_file(const std::u16string& path, bool& busy);
void unlock_file(files_os_lock* lock);

// Seconds since 1970 UTC of a local calendar time (DOS time stamps are local time).
int64_t local_time_to_utc(int year, int month, int day, int hour, int minute, int second);

}  // namespace files_os
