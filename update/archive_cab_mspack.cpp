// Cabinet iteration over libmspack, with the protocol of the platform's cabinet iteration:
// one notification per entry in stored order, then the entry is skipped or unpacked to the
// target the callback named; an entry that fails is notified again with its error.
#include <mspack.h>

#include <cerrno>

#include "log/system_error.h"
#include "text/platform.h"
#include "text/posix_path.h"
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

}  // namespace

bool iterate_cabinet(const std::u16string& cabinet, const cab_callback& callback) {
    mscab_decompressor* cabd = mspack_create_cab_decompressor(nullptr);
    if (!cabd) {
        set_last_system_error(ENOMEM);
        return false;
    }
    const std::string path = native_path(cabinet);
    errno = 0;
    mscabd_cabinet* cab = cabd->open(cabd, path.c_str());
    if (!cab) {
        const int saved = errno;
        set_last_system_error(error_code(cabd->last_error(cabd), saved));
        mspack_destroy_cab_decompressor(cabd);
        return false;
    }
    bool ok = true;
    for (mscabd_file* f = cab->files; f; f = f->next) {
        const std::string_view stored = f->filename ? f->filename : "";
        cab_notification n;
        n.stored_name = (f->attribs & kUtf8Name) ? from_utf8(stored) : to_wide_acp(stored);
        cab_reply reply = callback(n);
        if (reply.what == cab_reply::action::skip) continue;
        if (reply.what == cab_reply::action::abort) {
            set_last_system_error(reply.error);
            ok = false;
            break;
        }
        errno = 0;
        const int result = cabd->extract(cabd, f, native_path(n.target).c_str());
        if (result != MSPACK_ERR_OK) {
            n.error = error_code(result, errno);
            reply = callback(n);
            if (reply.what == cab_reply::action::abort) {
                set_last_system_error(reply.error);
                ok = false;
                break;
            }
        }
    }
    cabd->close(cabd, cab);
    mspack_destroy_cab_decompressor(cabd);
    return ok;
}
