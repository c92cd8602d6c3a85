// The return page on Windows: the shell's three forms, each checked by what a stand-in
// browser (return_page_recorder_win.cpp) was started with.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/return_page.h"
#include "app/return_page_test_os.h"
#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "text/text.h"

namespace fs = std::filesystem;

const std::map<std::u16string, std::vector<std::u16string>> kNamedBrowsers = {
    {u"chrome", {u"chrome.exe"}},   {u"firefox", {u"firefox.exe"}},   {u"opera", {u"opera.exe"}},
    {u"edge", {u"microsoft-edge:"}}, {u"edg", {u"msedge.exe"}},       {u"ie", {u"iexplore.exe"}},
    {u"safari", {u"safari.exe"}},
};
const std::u16string kBrowserFolder = u"C:\\Program Files\\B\\";

namespace {

std::wstring w(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

struct ShellForms : ::testing::Test {
    fs::path record;
    std::u16string recorder;
    std::vector<std::wstring> schemes;

    void SetUp() override {
        record = fs::temp_directory_path() /
                 ("quorla-return-" + std::to_string(test_support::process_id()) + ".txt");
        fs::remove(record);
        test_support::set_environment("QUORLA_TEST_RECORD", record.string());
        recorder = os::executable_folder() + u"return_page_recorder.exe";
    }
    void TearDown() override {
        for (const auto& scheme : schemes) RegDeleteTreeW(HKEY_CLASSES_ROOT, scheme.c_str());
        fs::remove(record);
    }
    // Makes the recorder the handler of `scheme` links, as a browser registers itself.
    void register_scheme(const std::wstring& scheme) {
        schemes.push_back(scheme);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, scheme.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr), ERROR_SUCCESS);
        RegSetValueExW(key, L"URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
        RegCloseKey(key);
        const std::wstring command = L"\"" + w(recorder) + L"\" %1";
        ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, (scheme + L"\\shell\\open\\command").c_str(), nullptr,
                                  REG_SZ, command.c_str(), static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    std::string recorded() {
        // Under wine a file just renamed into place may not open at once: try again.
        std::string seen = "(not started)";
        for (int i = 0; i < 1000; ++i) {
            if (fs::exists(record)) {
                std::ifstream in(record, std::ios::binary);
                std::stringstream s;
                if (in) s << in.rdbuf();
                seen = s.str();
                if (!seen.empty()) return seen;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return seen;
    }
};

TEST_F(ShellForms, AnExecutableGetsTheAddressAsItsUnquotedParameter) {
    const std::u16string url = u"http://shop/return?exit_code=0&keyresult=a%20b";
    open_return_page(url, recorder, u"file");
    EXPECT_EQ(recorded(), to_utf8(url));
}

TEST_F(ShellForms, EdgeAndTheDefaultBrowserGetTheAddressAsALink) {
    register_scheme(L"microsoft-edge");
    open_return_page(u"http://shop/r?a=1", u"edge", u"");
    EXPECT_EQ(recorded(), "microsoft-edge:http://shop/r?a=1");
    fs::remove(record);
    // The default browser is whatever handles the address's scheme.
    register_scheme(L"quorla-return-test");
    open_return_page(u"quorla-return-test://shop/r", u"netscape", u"");
    EXPECT_EQ(recorded(), "quorla-return-test://shop/r");
}

TEST_F(ShellForms, ABrowserThatIsNotThereReportsFailureWithoutABox) {
    EXPECT_FALSE(start_detached(u"quorla-no-such-browser.exe", u"http://shop/r"));
    EXPECT_FALSE(start_detached(kBrowserFolder + u"none.exe", u"http://shop/r"));
    EXPECT_FALSE(fs::exists(record));
}

}  // namespace
