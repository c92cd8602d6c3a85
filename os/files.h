#pragma once
// File services of the module update's portable rules (update/files.h): folder listing,
// removal, read-only state, extraction output files, the update lock, free space, moving and
// copying. One half per OS (files_posix.cpp, files_win.cpp).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "os/folders.h"

namespace os {

struct file_lock;

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
file_lock* try_lock_file(const std::u16string& path, bool& busy);
void unlock_file(file_lock* lock);

// Seconds since 1970 UTC of a local calendar time (DOS time stamps are local time).
int64_t local_time_to_utc(int year, int month, int day, int hour, int minute, int second);

// Renames or moves; fails when the target exists (MoveFileW). Works across file systems.
bool move_file_no_replace(const std::u16string& from, const std::u16string& to);
// Copies a file over the target, replacing it when it exists (CopyFileW with overwrite).
// A link at the target is replaced, never written through.
bool copy_file_replace(const std::u16string& from, const std::u16string& to);

}  // namespace os
