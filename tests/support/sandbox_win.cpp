// Windows side of the test sandbox: the user's temporary folder, the wide environment, the
// process id.
#include <windows.h>

#include <stdexcept>

#include "tests/support/sandbox.h"
#include "text/platform.h"
#include "text/text.h"

namespace test_support {

namespace {
const wchar_t* wide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
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
    if (!replace && !environment_variable(wide_name).empty()) return;
    SetEnvironmentVariableW(wide(wide_name), wide(from_utf8(value)));
    // The C runtime keeps its own copy, which getenv reads.
    _wputenv_s(wide(wide_name), wide(from_utf8(value)));
}

void unset_environment(const std::string& name) {
    const std::u16string wide_name = from_utf8(name);
    SetEnvironmentVariableW(wide(wide_name), nullptr);
    _wputenv_s(wide(wide_name), L"");
}

std::string environment(const std::string& name) {
    return to_utf8(environment_variable(from_utf8(name)));
}

long process_id() {
    return static_cast<long>(GetCurrentProcessId());
}

}  // namespace test_support
