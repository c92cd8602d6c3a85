#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "log/log_platform.h"
#include "log/log_writer.h"
#include "text/platform.h"
#include "text/posix_path.h"

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

}  // namespace logfile

// $XDG_DATA_HOME, else $HOME/.local/share.
std::u16string LocalLowFolder() {
    std::u16string data = environment_variable(u"XDG_DATA_HOME");
    // Relative values are to be ignored.
    if (!data.empty() && data[0] == u'/') {
        while (data.size() > 1 && data.back() == u'/') data.pop_back();
        return data;
    }
    std::u16string home = environment_variable(u"HOME");
    if (home.empty()) return {};
    while (home.size() > 1 && home.back() == u'/') home.pop_back();
    return home + u"/.local/share";
}
