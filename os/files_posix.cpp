// POSIX side of the file services: stat, mkdir, opendir, rmdir, unlink, renameat2.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "os/platform.h"
#include "os/posix_path.h"
#include "os/files.h"

namespace os {

bool free_bytes(const std::u16string& path, uint64_t& bytes) {
    struct statvfs st {};
    if (path.empty() || statvfs(native_path(path).c_str(), &st) != 0) return false;
    bytes = static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
    return true;
}

bool list_folder(const std::u16string& folder, std::vector<folder_entry>& entries) {
    DIR* dir = opendir(native_path(folder).c_str());
    if (!dir) return false;
    const std::u16string base =
        folder.empty() || folder.back() == path_separator() ? folder : folder + path_separator();
    while (dirent* d = readdir(dir)) {
        folder_entry e;
        e.name = from_native_path(d->d_name);
        if (e.name == u"." || e.name == u"..") {
            e.kind = node::folder;
        } else {
            e.kind = node_at(base + e.name, false);
            if (e.kind == node::none) continue;  // vanished meanwhile
        }
        entries.push_back(std::move(e));
    }
    closedir(dir);
    return true;
}

bool remove_folder(const std::u16string& path) {
    return rmdir(native_path(path).c_str()) == 0;
}
bool remove_file(const std::u16string& path) {
    return unlink(native_path(path).c_str()) == 0;
}

bool is_read_only(const std::u16string& path) {
    struct stat st {};
    if (stat(native_path(path).c_str(), &st) != 0) return false;
    return (st.st_mode & S_IWUSR) == 0;
}

bool clear_read_only(const std::u16string& path) {
    const std::string p = native_path(path);
    struct stat st {};
    if (stat(p.c_str(), &st) != 0) return false;
    return chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

struct output_file {
    int fd = -1;
    bool failed = false;
};

output_file* create_output_file(const std::u16string& path, const file_attributes& attributes) {
    const std::string p = native_path(path);
    struct stat st {};
    if (lstat(p.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return nullptr;
        }
        // Replace rather than write through: the old file may be read-only or a link.
        if (unlink(p.c_str()) != 0) return nullptr;
    }
    // Only permission bits; an archive never makes set-user-id files. The owner can always
    // read what was unpacked, as on Windows.
    mode_t mode = attributes.has_permissions ? (attributes.permissions & 0777) | S_IRUSR : 0666;
    if (attributes.read_only) mode &= ~static_cast<mode_t>(0222);
    const int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return nullptr;
    return new output_file{fd};
}

bool write_output_file(output_file* file, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(file->fd, at, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            file->failed = true;
            return false;
        }
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool finish_output_file(output_file* file, const file_times& times) {
    bool ok = !file->failed;
    // Linux keeps no settable creation time; access and modification are set.
    if (ok && (times.has_modified || times.has_accessed)) {
        timespec ts[2];
        ts[0].tv_sec = static_cast<time_t>(times.accessed);
        ts[0].tv_nsec = times.has_accessed ? 0 : UTIME_OMIT;
        ts[1].tv_sec = static_cast<time_t>(times.modified);
        ts[1].tv_nsec = times.has_modified ? 0 : UTIME_OMIT;
        if (futimens(file->fd, ts) != 0) ok = false;
    }
    const int saved = errno;
    if (close(file->fd) != 0)
        ok = false;
    else
        errno = saved;
    delete file;
    return ok;
}

void abandon_output_file(output_file* file) {
    if (!file) return;
    const int saved = errno;
    close(file->fd);
    delete file;
    errno = saved;
}

struct file_lock {
    int fd;
};

file_lock* try_lock_file(const std::u16string& path, bool& busy) {
    busy = false;
    const int fd = open(native_path(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        busy = errno == EWOULDBLOCK;
        close(fd);
        return nullptr;
    }
    return new file_lock{fd};
}

void unlock_file(file_lock* lock) {
    if (lock == nullptr) return;
    close(lock->fd);  // releases the lock
    delete lock;
}

int64_t local_time_to_utc(int year, int month, int day, int hour, int minute, int second) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t));
}

namespace {

// Copies an open file into a new or truncated target with the source's permission bits.
bool copy_contents(const std::string& from, const std::string& to, int extra_flags) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st {};
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
        close(in);
        errno = e;
        return false;
    }
    const int out =
        open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | extra_flags, st.st_mode & 0777);
    if (out < 0) {
        const int e = errno;
        close(in);
        errno = e;
        return false;
    }
    char buf[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    const int e = errno;
    close(in);
    if (close(out) != 0)
        ok = false;
    else
        errno = e;
    return ok;
}

}  // namespace

bool move_file_no_replace(const std::u16string& from, const std::u16string& to) {
    const std::string f = native_path(from), t = native_path(to);
    if (renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, t.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // File systems without the flag: a hard link fails when the target exists.
        if (link(f.c_str(), t.c_str()) == 0) {
            unlink(f.c_str());
            return true;
        }
    }
    if (errno == EXDEV) {
        struct stat st {};
        if (lstat(f.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            errno = EXDEV;
            return false;
        }
        if (!copy_contents(f, t, O_EXCL)) {
            const int e = errno;
            if (e != EEXIST) unlink(t.c_str());  // drop a partial copy, never a file we found
            errno = e;
            return false;
        }
        unlink(f.c_str());
        return true;
    }
    return false;
}

bool copy_file_replace(const std::u16string& from, const std::u16string& to) {
    const std::string t = native_path(to);
    struct stat st {};
    // A link at the target is replaced, not written through.
    if (lstat(t.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && unlink(t.c_str()) != 0) return false;
    return copy_contents(native_path(from), t, O_TRUNC | O_NOFOLLOW);
}

}  // namespace os
