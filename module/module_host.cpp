#include "module/module_host.h"

#include "log/log_writer.h"
#include "os/system_error.h"
#include "module/editor_module.h"
#include "text/confine.h"

namespace {

// A module file name is relative to the install folder and stays inside it.
bool module_file_is_safe(const std::u16string& name) { return !name.empty() && path_stays_inside(name); }

template <class F>
F lookup(os::library* library, const char* name) {
    return reinterpret_cast<F>(os::library_symbol(library, name));
}

// The progress window's native id in the module header's own type: the X11 window id (or null)
// on POSIX, the window handle on Windows.
quorla_owner_window owner(host::window& window) { return static_cast<quorla_owner_window>(window.native_id()); }

void log_missing(const char16_t* export_name) {
    const uint32_t error = os::last_system_error();
    LogWriter::Instance().Write(u"* 오류: %s()함수가 존재하지 않습니다. (0x%08x)", export_name, error);
}

}  // namespace

std::u16string config_host_of(const std::u16string& config_url) {
    const size_t slashes = config_url.find(u"//");
    if (slashes == std::u16string::npos) return {};
    const size_t start = slashes + 2;
    const size_t end = config_url.find(u'/', start);
    return config_url.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
}

namespace {
int held_libraries = 0;
}  // namespace

bool run_editor_module(host::window* window, const startup_file_xml& startup,
                       const std::u16string& module_file, std::u16string& result) {
    auto& log = LogWriter::Instance();
    const std::u16string path = startup.install_path + module_file;
    if (!module_file_is_safe(module_file)) {
        log.Write(u"* 오류: 모듈 파일 이름이 올바르지 않습니다. (path:%s)", path);
        return false;
    }
    std::u16string detail;
    os::library* library = os::load_library(path, detail);
    if (library == nullptr) {
        const uint32_t error = os::last_system_error();
        log.Write(u"* 오류: 모듈을 로딩하지 못했습니다. (path:%s, 0x%08x)", path, error);
        if (!detail.empty()) log.Write(u"     %s", detail);
        return false;
    }
    ++held_libraries;
    const bool outcome = drive_editor_module(window, library, startup, result);
    os::release_library(library);
    --held_libraries;
    return outcome;
}

int held_module_libraries() { return held_libraries; }

bool drive_editor_module(host::window* window, os::library* library,
                         const startup_file_xml& startup, std::u16string& result) {
    if (window == nullptr) return false;
    auto& log = LogWriter::Instance();
    window->shrink_and_center();

    const auto initialize = lookup<quorla_initialize_fn>(library, "Initialize");
    if (initialize == nullptr) {
        log_missing(u"Initialize");
        return false;
    }
    const std::u16string config_host = config_host_of(startup.config_url);
    if (initialize(owner(*window), u"modal", startup.install_path.c_str(), u"",
                   config_host.c_str()) == 0) {
        log.Write(u"* 오류: Initialize()함수호출에 실패 했습니다.");
        return false;
    }

    if (const auto internal_call = lookup<quorla_internal_call_fn>(library, "InternalCall")) {
        for (const auto& [name, value] : startup.internal_calls) internal_call(name.c_str(), value.c_str(), u"");
    }

    const char16_t* text = nullptr;
    bool outcome = false;
    const std::u16string& todo = startup.todo;
    if (todo == u"new_work" || todo == u"open_work") {
        const bool is_new = todo == u"new_work";
        const auto work = lookup<quorla_work_fn>(library, is_new ? "NewWork" : "OpenWork");
        if (work == nullptr) {
            log_missing(is_new ? u"NewWork" : u"OpenWork");
            return false;
        }
        outcome = work(startup.config_url.c_str(), startup.editor_id.c_str(), startup.rsid.c_str(),
                       startup.count, &text) != 0;
    } else if (todo == u"open_local_work") {
        const auto work = lookup<quorla_open_local_work_fn>(library, "OpenLocalWork");
        if (work == nullptr) {
            log_missing(u"OpenLocalWork");
            return false;
        }
        outcome = work(startup.lsid.c_str(), startup.editor_id.c_str(), &text) != 0;
    } else if (todo == u"open_storage") {
        const auto work = lookup<quorla_open_storage_fn>(library, "OpenStorage");
        if (work == nullptr) {
            log_missing(u"OpenStorage");
            return false;
        }
        outcome = work(startup.config_url.c_str(), startup.editor_id.c_str(), &text) != 0;
    } else if (todo == u"download_work") {
        const auto work = lookup<quorla_download_works_fn>(library, "DownloadWorks");
        if (work == nullptr) {
            log_missing(u"DownloadWorks");
            return false;
        }
        outcome = work(startup.rsid.c_str(), startup.user_id.c_str(), startup.storage_url.c_str(), &text) != 0;
    }

    const auto uninitialize = lookup<quorla_uninitialize_fn>(library, "Uninitialize");
    if (uninitialize == nullptr) {
        log_missing(u"Uninitialize");
        return false;
    }
    uninitialize();
    // The text is the module's; it stays readable until the library is released.
    if (text != nullptr) result = text;
    return outcome;
}
