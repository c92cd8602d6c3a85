// Windows side of the file services: FindFirstFileW, RemoveDirectoryW, DeleteFileW, file
// attributes, CreateFileW with SetFileTime, MoveFileW, CopyFileW.
#include <windows.h>

#include "os/platform.h"
#include "os/files.h"
#include "os/wide_path.h"

namespace {

// Seconds since 1970 UTC as a FILETIME (100 ns steps since 1601 UTC).
FILETIME file_time(int64_t seconds) {
    const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

namespace os {

bool list_folder(const std::u16string& folder, std::vector<folder_entry>& entries) {
    const std::u16string base =
        folder.empty() || folder.back() == path_separator() ? folder : folder + path_separator();
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(wide(base + u"*"), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        folder_entry e;
        e.name = reinterpret_cast<const char16_t*>(found.cFileName);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            e.kind = node::link;
        else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            e.kind = node::folder;
        else
            e.kind = node::file;
        entries.push_back(std::move(e));
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES;
}

bool free_bytes(const std::u16string& path, uint64_t& bytes) {
    // The volume of the nearest existing folder on the path.
    std::u16string folder = path;
    while (!folder.empty() && node_at(folder, true) != node::folder) {
        const size_t cut = folder.find_last_of(u"\\/", folder.size() > 1 ? folder.size() - 2 : 0);
        if (cut == std::u16string::npos) return false;
        folder.resize(cut + 1);
    }
    ULARGE_INTEGER available{};
    if (folder.empty() || !GetDiskFreeSpaceExW(wide(folder), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

bool remove_folder(const std::u16string& path) {
    return RemoveDirectoryW(wide(path)) != 0;
}

bool remove_file(const std::u16string& path) {
    // A link to a folder is removed as a folder, without touching what it leads to.
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return RemoveDirectoryW(wide(path)) != 0;
    return DeleteFileW(wide(path)) != 0;
}

bool is_read_only(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool clear_read_only(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return SetFileAttributesW(wide(path), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0;
}

struct output_file {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool failed = false;
};

output_file* create_output_file(const std::u16string& path, const file_attributes& attributes) {
    const DWORD old = GetFileAttributesW(wide(path));
    if (old != INVALID_FILE_ATTRIBUTES) {
        if ((old & FILE_ATTRIBUTE_DIRECTORY) != 0 && (old & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        // Replace rather than write through: the old file may be read-only or a link.
        if ((old & FILE_ATTRIBUTE_READONLY) != 0)
            SetFileAttributesW(wide(path), old & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        if (!remove_file(path)) return nullptr;
    }
    // Without owner write permission the file is read-only; the other permission bits have
    // no counterpart here. A new read-only file is still written through the handle that
    // created it.
    const bool read_only = attributes.read_only || (attributes.has_permissions && (attributes.permissions & 0200) == 0);
    const HANDLE handle = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return new output_file{handle};
}

bool write_output_file(output_file* file, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file->handle, at, chunk, &written, nullptr) || written == 0) {
            file->failed = true;
            return false;
        }
        at += written;
        size -= written;
    }
    return true;
}

bool finish_output_file(output_file* file, const file_times& times) {
    bool ok = !file->failed;
    if (ok && (times.has_modified || times.has_accessed || times.has_created)) {
        const FILETIME created = file_time(times.created), accessed = file_time(times.accessed),
                       modified = file_time(times.modified);
        if (!SetFileTime(file->handle, times.has_created ? &created : nullptr,
                         times.has_accessed ? &accessed : nullptr, times.has_modified ? &modified : nullptr))
            ok = false;
    }
    DWORD error = GetLastError();
    if (!CloseHandle(file->handle)) {
        ok = false;
        error = GetLastError();
    }
    delete file;
    SetLastError(error);
    return ok;
}

void abandon_output_file(output_file* file) {
    if (!file) return;
    const DWORD error = GetLastError();
    CloseHandle(file->handle);
    delete file;
    SetLastError(error);
}

struct file_lock {
    HANDLE handle;
};

file_lock* try_lock_file(const std::u16string& path, bool& busy) {
    busy = false;
    // Never through a link: a reparse point is opened as itself and refused.
    const HANDLE file = CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(file);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
        const DWORD error = GetLastError();
        busy = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
        CloseHandle(file);
        SetLastError(error);
        return nullptr;
    }
    return new file_lock{file};
}

void unlock_file(file_lock* lock) {
    if (lock == nullptr) return;
    CloseHandle(lock->handle);  // releases the lock
    delete lock;
}

int64_t local_time_to_utc(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(year);
    local.wMonth = static_cast<WORD>(month);
    local.wDay = static_cast<WORD>(day);
    local.wHour = static_cast<WORD>(hour);
    local.wMinute = static_cast<WORD>(minute);
    local.wSecond = static_cast<WORD>(second);
    SYSTEMTIME utc{};
    FILETIME ft{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &ft)) return -1;
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

bool move_file_no_replace(const std::u16string& from, const std::u16string& to) {
    // Across volumes too: the file is then copied and the original deleted.
    return MoveFileExW(wide(from), wide(to), MOVEFILE_COPY_ALLOWED) != 0;
}

bool copy_file_replace(const std::u16string& from, const std::u16string& to) {
    // A link at the target is removed first, so the copy never writes through it.
    const DWORD target = GetFileAttributesW(wide(to));
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        !remove_file(to))
        return false;
    return CopyFileW(wide(from), wide(to), FALSE) != 0;
}

}  // namespace os
