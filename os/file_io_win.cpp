// Windows side of opening files: the wide path as it is, through the C runtime's wide open;
// appends under LockFileEx.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <string>

#include "os/file_io.h"
#include "os/wide_path.h"

namespace os {

std::FILE* open_file(const std::u16string& path, const char* mode) {
    const std::string narrow_mode(mode);
    const std::wstring wide_mode(narrow_mode.begin(), narrow_mode.end());
    return ::_wfopen(wide(path), wide_mode.c_str());
}

std::FILE* create_private_file(const std::u16string& path) {
    // A new file's default security comes from its folder, which on Windows is already the
    // user's own (LocalLow, temporary folder); CREATE_NEW refuses a file that exists.
    const HANDLE file = CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "w+b");
    if (stream == nullptr) ::_close(fd);
    return stream;
}

bool append_locked(const std::u16string& path, std::string_view first, std::string_view bytes) {
    // Another process may append to the same file at the same moment. Both share writing, and
    // the byte-range lock below keeps the two appends (and the empty-file test) from
    // interleaving, so neither loses its bytes.
    const HANDLE file = CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED whole{};
    const BOOL locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    LARGE_INTEGER end{};
    const LARGE_INTEGER zero{};
    bool written = SetFilePointerEx(file, zero, &end, FILE_END) != 0;
    if (written) {
        std::string data;
        if (end.QuadPart == 0) data += first;
        data += bytes;
        const char* p = data.data();
        DWORD left = static_cast<DWORD>(data.size());
        while (left > 0) {
            DWORD count = 0;
            if (!WriteFile(file, p, left, &count, nullptr) || count == 0) {
                written = false;
                break;
            }
            p += count;
            left -= count;
        }
    }
    if (locked) UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(file);
    return written;
}

}  // namespace os
