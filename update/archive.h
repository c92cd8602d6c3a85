#pragma once
// Unpacking the module archives: zip archives (minizip) and cabinets.
// Both return 1 on success and 0 on failure, with the failure line in the log. An empty
// filter unpacks every entry under its own name; otherwise only the entry whose name equals
// the filter (ignoring ASCII letter case) is unpacked, under `new_name` (the filter when empty).
// Entries whose names would lead out of the destination are refused and fail the extraction.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

int extract_zip(const std::u16string& archive, std::u16string dest, const std::u16string& filter,
                std::u16string new_name);
int extract_cab(const std::u16string& archive, std::u16string dest, std::u16string filter,
                std::u16string new_name);

// Most entries an archive may have: module archives hold hundreds of files; a server's
// archive of empty entries would otherwise make as many files as it has bytes to spare.
constexpr uint64_t kMaxArchiveEntries = 16384;

// ---- entry names (portable; exposed for tests and fuzzing) -------------------------------
// Longest entry name kept after decoding, in UTF-16 units.
constexpr size_t kEntryNameLimit = 260;
// Stored name bytes up to the first zero: UTF-8 when valid, else the system code page;
// at most kEntryNameLimit units. A name the archive marks as UTF-8 (the zip entry's flag,
// the cabinet's name attribute) is read as UTF-8 whatever it holds.
std::u16string decode_entry_name(std::string_view stored, bool marked_utf8 = false);
bool is_valid_utf8(std::string_view bytes);
// The zip name rules: drive prefixes, leading separators and everything up to a
// "\..\", "\../", "/../" or "/..\" are dropped until none applies.
std::u16string apply_zip_name_rules(std::u16string name);
// The entry name as a relative path with native separators ("/" and "\" both separate).
// False when a ".." step would climb above the destination, or the name is absolute.
bool confine_entry_name(std::u16string_view name, std::u16string& relative);

// ---- cabinet iteration seam (libmspack now, SetupIterateCabinetW on Windows) --------------
// One file-in-cabinet notification. `error` non-zero reports that the entry could not be
// unpacked; `target` is the full target name the callback fills in.
struct cab_notification {
    std::u16string stored_name;
    uint64_t size = 0;  // unpacked size the cabinet declares
    uint32_t error = 0;
    std::u16string target;
};
struct cab_reply {
    enum class action { extract, skip, abort } what = action::extract;
    uint32_t error = 0;  // with abort: the code that ends the iteration
};
using cab_callback = std::function<cab_reply(cab_notification&)>;
// Calls `callback` for every entry in stored order and unpacks it to the target it names.
// An entry that fails to unpack is notified again with its error set. False when the cabinet
// cannot be read or the callback aborted; the last system error is left set.
bool iterate_cabinet(const std::u16string& cabinet, const cab_callback& callback);
