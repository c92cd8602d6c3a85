// Windows side of the log writer: appending through CreateFileW and the LocalLow folder.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "log/log_platform.h"
#include "log/log_writer.h"

namespace logfile {

void append_line(const std::u16string& path, const std::u16string& line) {
    // Another launcher may append to the same daily file at the same moment. Both share
    // writing, and the byte-range lock below keeps the two appends (and the byte-order mark
    // test) from interleaving, so neither loses its line.
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole{};
    const BOOL locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    std::string bytes;
    LARGE_INTEGER end{};
    const LARGE_INTEGER zero{};
    if (SetFilePointerEx(file, zero, &end, FILE_END)) {
        if (end.QuadPart == 0) bytes += "\xFF\xFE";
        bytes.reserve(bytes.size() + line.size() * 2);
        for (char16_t c : line) {
            bytes.push_back(static_cast<char>(c & 0xFF));
            bytes.push_back(static_cast<char>(c >> 8));
        }
        const char* p = bytes.data();
        DWORD left = static_cast<DWORD>(bytes.size());
        while (left > 0) {
            DWORD written = 0;
            if (!WriteFile(file, p, left, &written, nullptr) || written == 0) break;
            p += written;
            left -= written;
        }
    }
    if (locked) UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(file);
}

}  // namespace logfile

// FOLDERID_LocalAppDataLow: every Windows this build runs on (10 and later) has known folders.
std::u16string LocalLowFolder() {
    PWSTR folder = nullptr;
    std::u16string result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, 0, nullptr, &folder)) && folder != nullptr)
        result = reinterpret_cast<const char16_t*>(folder);
    CoTaskMemFree(folder);
    while (result.size() > 3 && (result.back() == u'\\' || result.back() == u'/')) result.pop_back();
    return result;
}
