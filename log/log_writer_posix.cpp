#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "log/log_platform.h"
#include "text/platform.h"

namespace logfile {

void append_line(const std::u16string& path, const std::u16string& line) {
    const int fd = ::open(native_path(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    // Another launcher may append to the same daily file at the same moment; the advisory lock
    // keeps the two appends (and the byte-order mark test) from interleaving.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    std::string bytes;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end == 0) bytes += "\xFF\xFE";
    bytes.reserve(bytes.size() + line.size() * 2);
    for (char16_t c : line) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    if (end >= 0) {
        const char* p = bytes.data();
        size_t left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

bool is_folder(const std::u16string& path) {
    struct stat st;
    return !path.empty() && ::stat(native_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool create_one_folder(const std::u16string& path) {
    return ::mkdir(native_path(path).c_str(), 0755) == 0 || errno == EEXIST;
}

bool create_folder_levels(const std::u16string& path) {
    const std::string p = native_path(path);
    if (p.empty()) {
        errno = ENOENT;
        return false;
    }
    int failure = 0;
    for (size_t i = 1; i <= p.size(); ++i) {
        if (i != p.size() && p[i] != '/') continue;
        if (::mkdir(p.substr(0, i).c_str(), 0755) != 0 && errno != EEXIST) failure = errno;
    }
    struct stat st;
    if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    errno = failure != 0 ? failure : ENOTDIR;
    return false;
}

std::u16string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? from_native_path(v) : std::u16string();
}

}  // namespace logfile
