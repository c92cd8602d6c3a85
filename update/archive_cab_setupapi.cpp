// Cabinet iteration through the Setup API: SetupIterateCabinetW calls back once per entry
// (the name already decoded by the system), the reply picks skip, unpack to a target or
// abort, and a failed unpack is reported by the extracted-file notification.
#include <windows.h>
#include <setupapi.h>

#include "os/system_error.h"
#include "text/text.h"
#include "update/archive.h"

namespace {

constexpr USHORT kUtf8Name = 0x80;  // _A_NAME_IS_UTF: the stored name is UTF-8

// The entry's name as the cabinet means it. A system that reads a name marked as UTF-8
// through its ANSI code page (wine does) hands over one character per byte: those bytes,
// taken back through that code page, are the UTF-8 name. A name the system decoded itself
// does not come back whole, and is kept.
// The text in the ANSI code page, or nothing when the page cannot hold all of it.
bool to_ansi(const wchar_t* text, std::string& bytes) {
    BOOL lost = FALSE;
    const int n =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, &lost);
    if (n <= 0 || lost) return false;
    bytes.assign(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, bytes.data(), n, nullptr,
                            &lost) != n ||
        lost)
        return false;
    bytes.resize(static_cast<size_t>(n - 1));
    return true;
}

std::u16string entry_name(const wchar_t* name, USHORT attributes) {
    const std::u16string text = reinterpret_cast<const char16_t*>(name);
    std::string bytes;
    if (!(attributes & kUtf8Name) || !to_ansi(name, bytes) || !is_valid_utf8(bytes)) return text;
    return from_utf8(bytes);
}

// A system that writes through its ANSI code page (wine does) cannot create a target that the
// page cannot hold: such an entry is unpacked under a stand-in name in the same folder and
// then renamed. Empty when the target can be written as it is (or its folder cannot).
std::u16string stand_in_for(const std::u16string& target, unsigned number) {
    std::string bytes;
    if (to_ansi(reinterpret_cast<const wchar_t*>(target.c_str()), bytes)) return {};
    const size_t cut = target.find_last_of(u'\\');
    if (cut == std::u16string::npos) return {};
    const std::u16string folder = target.substr(0, cut + 1);
    if (!to_ansi(reinterpret_cast<const wchar_t*>(folder.c_str()), bytes)) return {};
    return folder + u"~cab" + ascii_to_wide(std::to_string(number)) + u".tmp";
}

struct iteration {
    const cab_callback* callback;
    cab_notification current;
    bool unpacking = false;  // the current entry was handed to the system to unpack
    std::u16string stand_in;  // what the system writes instead of the current target
    unsigned entries = 0;
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
            it.current.stored_name = entry_name(info->NameInCabinet, info->DosAttribs);
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
            it.stand_in = stand_in_for(it.current.target, ++it.entries);
            const std::u16string& written = it.stand_in.empty() ? it.current.target : it.stand_in;
            written.copy(reinterpret_cast<char16_t*>(info->FullTargetName), written.size());
            info->FullTargetName[written.size()] = L'\0';
            it.unpacking = true;
            return FILEOP_DOIT;
        }
        case SPFILENOTIFY_FILEEXTRACTED: {
            const auto* paths = reinterpret_cast<const FILEPATHS_W*>(param1);
            it.unpacking = false;
            uint32_t error = paths->Win32Error;
            if (error == NO_ERROR && !it.stand_in.empty()) {
                const auto* from = reinterpret_cast<const wchar_t*>(it.stand_in.c_str());
                if (!MoveFileExW(from, reinterpret_cast<const wchar_t*>(it.current.target.c_str()),
                                 MOVEFILE_REPLACE_EXISTING)) {
                    error = GetLastError();
                    DeleteFileW(from);
                }
            }
            if (error == NO_ERROR) return NO_ERROR;
            it.current.error = error;
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
    iteration it{};
    it.callback = &callback;
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
