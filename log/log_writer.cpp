#include "log/log_writer.h"

#include "os/clock.h"
#include "os/file_io.h"
#include "os/folders.h"
#include "os/platform.h"
#include "os/system_error.h"

namespace {
std::unique_ptr<LogWriter>& instance_slot() {
    static std::unique_ptr<LogWriter> slot;
    return slot;
}
std::mutex& instance_lock() {
    static std::mutex m;
    return m;
}
}  // namespace

LogWriter::LogWriter() = default;
LogWriter::~LogWriter() = default;

LogWriter& LogWriter::Instance() {
    std::lock_guard<std::mutex> guard(instance_lock());
    auto& slot = instance_slot();
    if (!slot) slot.reset(new LogWriter());
    return *slot;
}

void LogWriter::Destroy() {
    std::lock_guard<std::mutex> guard(instance_lock());
    instance_slot().reset();
}

void LogWriter::SetPath(const std::u16string& new_path) {
    std::lock_guard<std::recursive_mutex> guard(lock);
    path = new_path;
}

void LogWriter::SetName(const std::u16string& new_name) { name = new_name; }

std::u16string LogWriter::Path() {
    std::lock_guard<std::recursive_mutex> guard(lock);
    return path;
}

std::u16string LogWriter::Name() { return name; }

// The executable's folder + "log/" + name + "_YYYYMMDD.log", for lines written before the
// start-up sequence has set the real path.
std::u16string LogWriter::FallbackPath() {
    std::u16string folder = os::executable_folder() + u"log";
    folder += os::path_separator();
    os::make_folder(folder);
    const os::local_time now = os::local_now();
    return format16(u"%s%s_%04d%02d%02d.log", folder, name, now.year, now.month, now.day);
}

format_arg LogWriter::Quote(format_arg arg, std::u16string& storage) {
    if (arg.k != format_arg::kind::text || arg.s.size() <= max_quoted_chars) return arg;
    size_t keep = max_quoted_chars;
    // Never half of a surrogate pair.
    if (arg.s[keep - 1] >= 0xD800 && arg.s[keep - 1] < 0xDC00) --keep;
    storage.assign(arg.s.substr(0, keep));
    storage += format16(u"[\u2026 %u characters left out]", static_cast<uint64_t>(arg.s.size() - keep));
    arg.s = storage;
    return arg;
}

void LogWriter::WriteMessage(const std::u16string& message) {
    const uint32_t saved_error = os::last_system_error();
    std::lock_guard<std::recursive_mutex> guard(lock);
    if (path.empty()) SetPath(FallbackPath());
    const os::local_time now = os::local_now();
    std::u16string line = format16(u"%02d:%02d:%02d ", now.hour, now.minute, now.second);
    line += message;
    line += u"\r\n";
    std::string bytes;
    bytes.reserve(line.size() * 2);
    for (char16_t c : line) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    // Another launcher may append to the same daily file at the same moment; a failed append
    // drops the line.
    os::append_locked(path, "\xFF\xFE", bytes);
    // Callers often log and then report the error code: logging must not change it.
    os::set_last_system_error(saved_error);
}

bool EnsureDirectory(const std::u16string& folder) {
    if (os::node_at(folder, true) == os::node::folder) return true;
    const uint32_t error = os::make_folder_levels(folder);
    if (error == 0) return true;
    os::set_last_system_error(error);
    LogWriter::Instance().Write(u"Failed to SHCreateDirectory (err:%s path:%s)", SystemErrorText(),
                                folder);
    return false;
}

std::u16string SystemErrorText() {
    const uint32_t code = os::last_system_error();
    const std::u16string text = os::system_error_message(code);
    if (text.empty()) return format16(u"0x%04X", code);
    return format16(u"%s (0x%04X)", text, code);
}

std::u16string LocalLowFolder() { return os::data_folder(); }
