#include <windows.h>
#include <shellapi.h>

#include <string>

#include "app/launcher_app.h"
#include "text/text.h"

namespace {

// Writes to a handle: wide text to a console, UTF-8 bytes to a file or pipe.
bool write_to(HANDLE handle, const std::string& text) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::u16string wide = from_utf8(text);
        return WriteConsoleW(handle, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr) != 0;
    }
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}

}  // namespace

void show_text(const std::string& text) {
    // A program of the window subsystem has standard output only when the caller redirected
    // it; otherwise it borrows the console of the caller, and without one it shows a box.
    if (write_to(GetStdHandle(STD_OUTPUT_HANDLE), text)) return;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr);
        const bool written = write_to(console, text);
        if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
        FreeConsole();
        if (written) return;
    }
    const std::u16string wide = from_utf8(text);
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(wide.c_str()), L"quorla-launcher",
                MB_OK | MB_ICONINFORMATION);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    std::u16string sole;
    if (wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count)) {
        if (count == 2) sole = reinterpret_cast<const char16_t*>(arguments[1]);
        LocalFree(arguments);
    }
    return launcher_main(count == 2 ? &sole : nullptr, command_line_from(0, nullptr));
}
