// browser-recorder.exe: the customer's browser in the end-to-end runs under wine. Appends the
// text it was started with after its own name, as UTF-8, one line per start, to a file named
// like itself with ".txt" for ".exe", beside itself.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// What follows the program name: the name is quoted or ends at the first blank.
std::wstring arguments(const wchar_t* line) {
    const wchar_t* p = line;
    if (*p == L'"') {
        ++p;
        while (*p != 0 && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p != 0 && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const size_t dot = self.rfind(L'.');
    if (self.empty() || dot == std::wstring::npos) return 1;
    const std::wstring record = self.substr(0, dot) + L".txt";
    const std::wstring text = arguments(GetCommandLineW()) + L"\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                        nullptr);
    FILE* out = _wfopen(record.c_str(), L"ab");
    if (out == nullptr) return 1;
    const bool written = std::fwrite(utf8.data(), 1, utf8.size(), out) == utf8.size();
    return std::fclose(out) == 0 && written ? 0 : 1;
}
