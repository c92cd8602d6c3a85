// Windows side of opening files: the wide path as it is, through the C runtime's wide open.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <string>

#include "log/file_io.h"

namespace os {

namespace {
const wchar_t* wide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
}  // namespace

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

}  // namespace os
