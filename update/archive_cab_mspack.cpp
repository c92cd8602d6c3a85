// Cabinet iteration over libmspack, with the protocol of the platform's cabinet iteration:
// one notification per entry in stored order, then the entry is skipped or unpacked to the
// target the callback named; an entry that fails is notified again with its error.
#include <fcntl.h>
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "os/system_error.h"
#include "os/platform.h"
#include "os/posix_path.h"
#include "text/text.h"
#include "update/archive.h"

namespace {

constexpr unsigned kUtf8Name = 0x80;  // MSCAB_ATTRIB_UTF_NAME

uint32_t error_code(int mspack_error, int saved_errno) {
    switch (mspack_error) {
        case MSPACK_ERR_OPEN:
            return saved_errno != 0 ? uint32_t(saved_errno) : uint32_t(ENOENT);
        case MSPACK_ERR_NOMEMORY:
            return ENOMEM;
        case MSPACK_ERR_READ:
        case MSPACK_ERR_WRITE:
        case MSPACK_ERR_SEEK:
            return saved_errno != 0 ? uint32_t(saved_errno) : uint32_t(EIO);
        default:  // damaged data: signature, checksum, format or decompression
            return EILSEQ;
    }
}

// The library's file access, but an output never goes through a link or into an existing
// file: whatever stands at the name is unlinked first, as for zip output.
struct fd_file {
    int fd;
};

mspack_file* sys_open(mspack_system*, const char* name, int mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case MSPACK_SYS_OPEN_READ:
            flags |= O_RDONLY;
            break;
        case MSPACK_SYS_OPEN_WRITE: {
            struct stat st {};
            if (::lstat(name, &st) == 0 && !S_ISDIR(st.st_mode) && ::unlink(name) != 0) return nullptr;
            flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
            break;
        }
        default:
            return nullptr;  // the cabinet reader only reads cabinets and writes new files
    }
    const int fd = ::open(name, flags, 0666);
    if (fd < 0) return nullptr;
    return reinterpret_cast<mspack_file*>(new fd_file{fd});
}

void sys_close(mspack_file* file) {
    auto* f = reinterpret_cast<fd_file*>(file);
    ::close(f->fd);
    delete f;
}

int sys_read(mspack_file* file, void* buffer, int bytes) {
    for (;;) {
        const ssize_t n = ::read(reinterpret_cast<fd_file*>(file)->fd, buffer, static_cast<size_t>(bytes));
        if (n >= 0 || errno != EINTR) return static_cast<int>(n);
    }
}

int sys_write(mspack_file* file, void* buffer, int bytes) {
    const char* at = static_cast<const char*>(buffer);
    int left = bytes;
    while (left > 0) {
        const ssize_t n = ::write(reinterpret_cast<fd_file*>(file)->fd, at, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        at += n;
        left -= static_cast<int>(n);
    }
    return bytes;
}

int sys_seek(mspack_file* file, off_t offset, int mode) {
    const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR : SEEK_END;
    return ::lseek(reinterpret_cast<fd_file*>(file)->fd, offset, whence) < 0 ? -1 : 0;
}

off_t sys_tell(mspack_file* file) {
    return ::lseek(reinterpret_cast<fd_file*>(file)->fd, 0, SEEK_CUR);
}

void sys_message(mspack_file*, const char*, ...) {}

void* sys_alloc(mspack_system*, size_t bytes) {
    return std::malloc(bytes);
}

void sys_free(void* p) {
    std::free(p);
}

void sys_copy(void* from, void* to, size_t bytes) {
    std::memmove(to, from, bytes);
}

mspack_system no_link_system = {sys_open,    sys_close, sys_read, sys_write, sys_seek, sys_tell,
                                sys_message, sys_alloc, sys_free, sys_copy,  nullptr};

}  // namespace

bool iterate_cabinet(const std::u16string& cabinet, const cab_callback& callback) {
    mscab_decompressor* cabd = mspack_create_cab_decompressor(&no_link_system);
    if (!cabd) {
        os::set_last_system_error(ENOMEM);
        return false;
    }
    const std::string path = os::native_path(cabinet);
    errno = 0;
    mscabd_cabinet* cab = cabd->open(cabd, path.c_str());
    if (!cab) {
        const int saved = errno;
        os::set_last_system_error(error_code(cabd->last_error(cabd), saved));
        mspack_destroy_cab_decompressor(cabd);
        return false;
    }
    bool ok = true;
    for (mscabd_file* f = cab->files; f; f = f->next) {
        const std::string_view stored = f->filename ? f->filename : "";
        cab_notification n;
        n.stored_name = (f->attribs & kUtf8Name) ? from_utf8(stored) : to_wide_acp(stored);
        n.size = f->length;
        cab_reply reply = callback(n);
        if (reply.what == cab_reply::action::skip) continue;
        if (reply.what == cab_reply::action::abort) {
            os::set_last_system_error(reply.error);
            ok = false;
            break;
        }
        errno = 0;
        const int result = cabd->extract(cabd, f, os::native_path(n.target).c_str());
        if (result != MSPACK_ERR_OK) {
            n.error = error_code(result, errno);
            reply = callback(n);
            if (reply.what == cab_reply::action::abort) {
                os::set_last_system_error(reply.error);
                ok = false;
                break;
            }
        }
    }
    cabd->close(cabd, cab);
    mspack_destroy_cab_decompressor(cabd);
    return ok;
}
