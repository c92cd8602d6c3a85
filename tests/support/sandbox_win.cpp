// Windows side of the test sandbox: the user's temporary folder, the wide environment, the
// process id.
#include <windows.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "text/text.h"
#include "os/wide_path.h"

namespace test_support {

namespace {
}  // namespace

std::filesystem::path make_temporary_folder(const std::string& prefix) {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    // CreateDirectoryW fails on an existing folder, so a name taken by anyone is skipped.
    static unsigned serial = GetTickCount();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::filesystem::path folder =
            base / (prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++));
        if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot make a folder like " + (base / prefix).string());
}

void set_environment(const std::string& name, const std::string& value, bool replace) {
    const std::u16string wide_name = from_utf8(name);
    if (!replace && !os::environment_variable(wide_name).empty()) return;
    SetEnvironmentVariableW(os::wide(wide_name), os::wide(from_utf8(value)));
    // The C runtime keeps its own copy, which getenv reads.
    _wputenv_s(os::wide(wide_name), os::wide(from_utf8(value)));
}

void unset_environment(const std::string& name) {
    const std::u16string wide_name = from_utf8(name);
    SetEnvironmentVariableW(os::wide(wide_name), nullptr);
    _wputenv_s(os::wide(wide_name), L"");
}

std::string environment(const std::string& name) {
    return to_utf8(os::environment_variable(from_utf8(name)));
}

long process_id() {
    return static_cast<long>(GetCurrentProcessId());
}

int run_build_machine_command(const std::string& command, std::string* output) {
    // wine starts a Unix program named by its path on the Z: drive, but hands back no handle
    // to wait on, nor does it pass pipes: the shell writes the output and, last, the exit
    // status to files of a scratch folder, and the status file's arrival ends the wait.
    const std::filesystem::path folder = make_temporary_folder("quorla-command");
    const std::string unix_folder = build_machine_path(folder);
    // The program inherits the Windows environment, whose PATH names no Unix folder.
    const std::string script = "PATH=/usr/local/bin:/usr/bin:/bin; export PATH; cd '" + unix_folder + "' && (" +
                               command + ") >'" + unix_folder + "/out' </dev/null; echo $? >'" + unix_folder +
                               "/status.new'; mv '" + unix_folder + "/status.new' '" + unix_folder + "/status'";
    // One argument of sh, quoted as command lines are split on Windows.
    std::string quoted = "\"";
    size_t slashes = 0;
    for (char c : script) {
        if (c == '\\') {
            ++slashes;
        } else {
            if (c == '"') quoted.append(slashes + 1, '\\');
            slashes = 0;
        }
        quoted.push_back(c);
    }
    quoted.append(slashes, '\\');
    quoted += '"';
    std::u16string line = u"Z:\\bin\\sh -c " + from_utf8(quoted);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    int status = -1;
    if (CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &child)) {
        if (child.hProcess != nullptr) CloseHandle(child.hProcess);
        if (child.hThread != nullptr) CloseHandle(child.hThread);
        const DWORD give_up = GetTickCount() + 300000;
        while (!std::filesystem::exists(folder / "status") && static_cast<int32_t>(give_up - GetTickCount()) > 0)
            Sleep(10);
        std::ifstream status_file(folder / "status");
        if (!(status_file >> status)) status = -1;
        if (output != nullptr) {
            std::ifstream out(folder / "out", std::ios::binary);
            output->assign(std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>());
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}

std::string build_machine_path(const std::filesystem::path& path) {
    // wine's own export, absent on Windows itself.
    using unix_name_function = char*(CDECL*)(const wchar_t*);
    const auto unix_name = reinterpret_cast<unix_name_function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (unix_name == nullptr) throw std::runtime_error("the build machine's paths exist under wine only");
    char* name = unix_name(std::filesystem::absolute(path).c_str());
    if (name == nullptr) throw std::runtime_error("no build machine path for " + path.string());
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

}  // namespace test_support
