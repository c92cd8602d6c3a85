// follow_link LINK: opens a link the way a browser hands it to Windows (ShellExecuteExW), then
// waits for the program the link started and exits with its exit status; 100 when Windows
// started nothing.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 2) {
        std::fputs("usage: follow_link LINK\n", stderr);
        return 2;
    }
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = argv[1];
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        std::fprintf(stderr, "follow_link: ShellExecuteExW failed: 0x%08lx\n", GetLastError());
        return 100;
    }
    if (!info.hProcess) {
        std::fputs("follow_link: the link started no program\n", stderr);
        return 100;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    return static_cast<int>(code);
}
