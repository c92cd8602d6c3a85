// POSIX side of opening files: the path as UTF-8 bytes, appends under flock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os/file_io.h"
#include "os/posix_path.h"

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

bool append_locked(const std::u16string& path, std::string_view first, std::string_view bytes) {
    const int fd = ::open(native_path(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // Another process may append to the same file at the same moment; the advisory lock keeps
    // the two appends (and the empty-file test) from interleaving.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    const off_t end = ::lseek(fd, 0, SEEK_END);
    std::string data;
    if (end == 0) data += first;
    data += bytes;
    bool written = end >= 0;
    const char* p = data.data();
    size_t left = written ? data.size() : 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            written = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return written;
}

}  // namespace os
