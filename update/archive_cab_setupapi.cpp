// Cabinet iteration through the Setup API: SetupIterateCabinetW calls back once per entry
// (the name already decoded by the system), the reply picks skip, unpack to a target or
// abort, and a failed unpack is reported by the extracted-file notification.
#include <windows.h>
#include <setupapi.h>

#include "os/system_error.h"
#include "update/archive.h"

namespace {

struct iteration {
    const cab_callback* callback;
    cab_notification current;
    bool unpacking = false;  // the current entry was handed to the system to unpack
    bool aborted = false;
    uint32_t abort_error = 0;
};

// Some implementations end the iteration on an abort without failing it, or fail it without
// reporting the entry that could not be written: the state kept here decides.
UINT abort_with(iteration& it, uint32_t error) {
    it.aborted = true;
    it.abort_error = error;
    SetLastError(error);
    return FILEOP_ABORT;
}

UINT CALLBACK on_notification(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
    iteration& it = *static_cast<iteration*>(context);
    switch (notification) {
        case SPFILENOTIFY_FILEINCABINET: {
            auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1);
            if (it.aborted) return abort_with(it, it.abort_error);
            it.unpacking = false;
            it.current = cab_notification{};
            it.current.stored_name = reinterpret_cast<const char16_t*>(info->NameInCabinet);
            it.current.size = info->FileSize;  // what the free-space check counts on
            cab_reply reply = (*it.callback)(it.current);
            if (reply.what == cab_reply::action::extract &&
                it.current.target.size() >= sizeof info->FullTargetName / sizeof info->FullTargetName[0]) {
                // The system takes targets up to MAX_PATH only: the entry fails like one that
                // cannot be written.
                it.current.error = ERROR_FILENAME_EXCED_RANGE;
                reply = (*it.callback)(it.current);
                if (reply.what != cab_reply::action::abort) return FILEOP_SKIP;
            }
            switch (reply.what) {
                case cab_reply::action::skip:
                    return FILEOP_SKIP;
                case cab_reply::action::abort:
                    return abort_with(it, reply.error);
                case cab_reply::action::extract:
                    break;
            }
            it.current.target.copy(reinterpret_cast<char16_t*>(info->FullTargetName), it.current.target.size());
            info->FullTargetName[it.current.target.size()] = L'\0';
            it.unpacking = true;
            return FILEOP_DOIT;
        }
        case SPFILENOTIFY_FILEEXTRACTED: {
            const auto* paths = reinterpret_cast<const FILEPATHS_W*>(param1);
            it.unpacking = false;
            if (paths->Win32Error == NO_ERROR) return NO_ERROR;
            it.current.error = paths->Win32Error;
            const cab_reply reply = (*it.callback)(it.current);
            if (reply.what != cab_reply::action::abort) return NO_ERROR;
            abort_with(it, reply.error);
            return reply.error;
        }
        case SPFILENOTIFY_NEEDNEWCABINET:
            // Module archives are single cabinets: a continuation cannot be found.
            return ERROR_FILE_NOT_FOUND;
        default:  // SPFILENOTIFY_CABINETINFO and the rest
            return NO_ERROR;
    }
}

}  // namespace

bool iterate_cabinet(const std::u16string& cabinet, const cab_callback& callback) {
    iteration it{&callback, {}};
    const BOOL done = SetupIterateCabinetW(reinterpret_cast<const wchar_t*>(cabinet.c_str()), 0, on_notification, &it);
    uint32_t error = GetLastError();
    if (it.aborted) {
        os::set_last_system_error(it.abort_error);
        return false;
    }
    if (done) return true;
    if (error == 0) error = ERROR_INVALID_DATA;
    if (it.unpacking) {
        // The entry handed over last could not be unpacked (target not writable, damaged
        // data) and no notification said so.
        it.current.error = error;
        const cab_reply reply = callback(it.current);
        if (reply.what == cab_reply::action::abort && reply.error != 0) error = reply.error;
    }
    os::set_last_system_error(error);
    return false;
}
