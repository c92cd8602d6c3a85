// POSIX side of opening files: the path as UTF-8 bytes.
#include <sys/stat.h>

#include "log/file_io.h"
#include "text/posix_path.h"

namespace os {

std::FILE* open_file(const std::u16string& path, const char* mode) {
    return std::fopen(native_path(path).c_str(), mode);
}

std::FILE* create_private_file(const std::u16string& path) {
    const mode_t old_mask = ::umask(077);
    std::FILE* file = std::fopen(native_path(path).c_str(), "wx");
    ::umask(old_mask);
    return file;
}

}  // namespace os
