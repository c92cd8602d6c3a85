// Cabinet extraction: the notification callback's rules, over the platform's iteration.
#include "log/log_writer.h"
#include "log/system_error.h"
#include "text/platform.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/files.h"

namespace {

struct cab_context {
    std::u16string filter;
    std::u16string new_name;
    std::u16string dest;  // with trailing separator
};

cab_reply on_file_in_cabinet(const cab_context& ctx, cab_notification& n) {
    LogWriter& log = LogWriter::Instance();
    if (n.error != 0) {
        log.Write(u"error : Decompress is failed(%s)\r\n", n.target);
        return {cab_reply::action::abort, n.error};
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
        return {cab_reply::action::abort, files_os::error_access_denied()};
    }
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
    const bool ok = iterate_cabinet(
        archive, [&ctx](cab_notification& n) { return on_file_in_cabinet(ctx, n); });
    return ok ? 1 : 0;
}
