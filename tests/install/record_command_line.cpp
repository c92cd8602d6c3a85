// A stand-in launcher for the installer tests: appends its command line, as UTF-8, to the file
// named by QUORLA_COMMAND_LINE_RECORD.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"QUORLA_COMMAND_LINE_RECORD", path, MAX_PATH)) return 2;
    const wchar_t* line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), size, nullptr, nullptr);
    FILE* out = _wfopen(path, L"ab");
    if (!out) return 3;
    std::fprintf(out, "%s\n", text.c_str());
    std::fclose(out);
    return 0;
}
