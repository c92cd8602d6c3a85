// Cabinet iteration through the Setup API: SetupIterateCabinetW calls back once per entry
// (the name already decoded by the system), the reply picks skip, unpack to a target or
// abort, and a failed unpack is reported by the extracted-file notification.
#include <windows.h>
#include <setupapi.h>

#include "log/system_error.h"
#include "update/archive.h"

namespace {

struct iteration {
    const cab_callback* callback;
    cab_notification current;
};

UINT CALLBACK on_notification(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
    iteration& it = *static_cast<iteration*>(context);
    switch (notification) {
        case SPFILENOTIFY_FILEINCABINET: {
            auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1);
            it.current = cab_notification{};
            it.current.stored_name = reinterpret_cast<const char16_t*>(info->NameInCabinet);
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
                    SetLastError(reply.error);
                    return FILEOP_ABORT;
                case cab_reply::action::extract:
                    break;
            }
            it.current.target.copy(reinterpret_cast<char16_t*>(info->FullTargetName), it.current.target.size());
            info->FullTargetName[it.current.target.size()] = L'\0';
            return FILEOP_DOIT;
        }
        case SPFILENOTIFY_FILEEXTRACTED: {
            const auto* paths = reinterpret_cast<const FILEPATHS_W*>(param1);
            if (paths->Win32Error == NO_ERROR) return NO_ERROR;
            it.current.error = paths->Win32Error;
            const cab_reply reply = (*it.callback)(it.current);
            return reply.what == cab_reply::action::abort ? reply.error : NO_ERROR;
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
    if (SetupIterateCabinetW(reinterpret_cast<const wchar_t*>(cabinet.c_str()), 0, on_notification, &it)) return true;
    const uint32_t error = GetLastError();
    set_last_system_error(error != 0 ? error : ERROR_INVALID_DATA);
    return false;
}
