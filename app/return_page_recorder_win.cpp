// A stand-in browser for the return page's tests: writes the command line it was given (what
// follows its own path, as it came) to the file named by QUORLA_TEST_RECORD, UTF-8.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    wchar_t path[MAX_PATH];
    if (GetEnvironmentVariableW(L"QUORLA_TEST_RECORD", path, MAX_PATH) == 0) return 2;
    const int n = WideCharToMultiByte(CP_UTF8, 0, arguments, -1, nullptr, 0, nullptr, nullptr);
    std::string text(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, arguments, -1, text.data(), n, nullptr, nullptr);
    // Written aside and renamed, so that the test never reads half a line.
    const std::wstring partial = std::wstring(path) + L".part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return MoveFileExW(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
