// Cabinet extraction: the notification callback's rules, over the platform's iteration.
#include <algorithm>
#include <string>

#include "log/log_writer.h"
#include "os/system_error.h"
#include "os/platform.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/files.h"

namespace {

struct cab_context {
    std::u16string filter;
    std::u16string new_name;
    std::u16string dest;  // with trailing separator
    // Left to unpack above the volume's free-space floor (-1: unknown), and entries seen.
    int64_t room = -1;
    uint64_t entries = 0;
};

cab_reply on_file_in_cabinet(cab_context& ctx, cab_notification& n) {
    LogWriter& log = LogWriter::Instance();
    if (n.error != 0) {
        log.Write(u"error : Decompress is failed(%s)\r\n", n.target);
        return {cab_reply::action::abort, n.error};
    }
    if (++ctx.entries > kMaxArchiveEntries) {
        log.Write(u"Extract Cab refused an archive of more than %s entries",
                  from_utf8(std::to_string(kMaxArchiveEntries)));
        return {cab_reply::action::abort, os::error_access_denied()};
    }
    std::u16string name;
    if (!ctx.filter.empty()) {
        if (!equals_nocase(n.stored_name, ctx.filter)) return {cab_reply::action::skip, 0};
        name = ctx.new_name;
    } else {
        name = n.stored_name;
    }
    // The name is used as stored; no folders are created for its folder part.
    std::u16string relative;
    if (!confine_entry_name(name, relative) || relative.empty()) {
        log.Write(u"error : Decompress is failed(%s)\r\n", ctx.dest + name);
        log.Write(u"Extract Cab refused entry outside the destination (%s)", n.stored_name);
        return {cab_reply::action::abort, os::error_access_denied()};
    }
    // The declared size bounds what is unpacked; the volume keeps its free-space floor.
    const int64_t blocks =
        static_cast<int64_t>((std::max<uint64_t>(n.size, 1) + 4095) / 4096 * 4096);
    if (ctx.room >= 0 && blocks > ctx.room) {
        log.Write(
            u"Extract Cab refused entry %s of %s bytes: the volume has %s bytes above its "
            u"free-space floor",
            n.stored_name, from_utf8(std::to_string(n.size)), from_utf8(std::to_string(ctx.room)));
        return {cab_reply::action::abort, os::error_access_denied()};
    }
    if (ctx.room >= 0) ctx.room -= blocks;
    n.target = format16(u"%s%s", ctx.dest, relative);
    return {cab_reply::action::extract, 0};
}

}  // namespace

int extract_cab(const std::u16string& archive, std::u16string dest, std::u16string filter,
                std::u16string new_name) {
    cab_context ctx;
    ctx.dest = with_trailing_separator(std::move(dest));
    ctx.new_name = new_name.empty() ? filter : std::move(new_name);
    ctx.filter = std::move(filter);
    ctx.room = space_above_floor(ctx.dest);
    const bool ok = iterate_cabinet(
        archive, [&ctx](cab_notification& n) { return on_file_in_cabinet(ctx, n); });
    return ok ? 1 : 0;
}
