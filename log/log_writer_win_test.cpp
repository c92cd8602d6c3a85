// The log writer's Windows facts: system message texts, LocalLow, share modes against other
// holders of the log file, and appenders started as copies of this test program.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/log_writer.h"
#include "log/log_writer_test_os.h"
#include "os/system_error.h"
#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "text/format.h"
#include "text/text.h"
#include "os/wide_path.h"

namespace {

// The system's US English text of a code, as FormatMessageW words it on this system.
std::u16string english_text(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                   reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::u16string text(reinterpret_cast<const char16_t*>(buffer), n);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
    return text;
}

// A copy of this program started with QUORLA_LOG_APPEND="<lines>|<path>" appends and ends
// before any test runs.
const bool appender = [] {
    const std::u16string job = os::environment_variable(u"QUORLA_LOG_APPEND");
    const size_t bar = job.find(u'|');
    if (bar == std::u16string::npos) return false;
    const int lines = std::stoi(to_utf8(job.substr(0, bar)));
    LogWriter::Instance().SetPath(job.substr(bar + 1));
    for (int i = 0; i < lines; ++i) LogWriter::Instance().Write(u"line %d from %d", i, test_support::process_id());
    ExitProcess(0);
    return true;
}();

}  // namespace

// Creating a folder below a file: the parent path is not found.
std::u16string not_a_folder_text() {
    return english_text(ERROR_PATH_NOT_FOUND) + u" (0x0003)";
}

void run_appenders(const std::u16string& path, int processes, int lines) {
    test_support::set_environment("QUORLA_LOG_APPEND", std::to_string(lines) + "|" + to_utf8(path));
    std::u16string command = u"\"" + os::executable_path() + u"\"";
    std::vector<PROCESS_INFORMATION> children;
    for (int i = 0; i < processes; ++i) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        ASSERT_TRUE(CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(command.data()), nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &child));
        CloseHandle(child.hThread);
        children.push_back(child);
    }
    test_support::unset_environment("QUORLA_LOG_APPEND");
    for (const PROCESS_INFORMATION& child : children) {
        EXPECT_EQ(WaitForSingleObject(child.hProcess, 120000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(child.hProcess, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(child.hProcess);
    }
}

namespace {

TEST(SystemError, TextWithCodeOrCodeAlone) {
    os::set_last_system_error(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(english_text(ERROR_ACCESS_DENIED).empty());
    EXPECT_EQ(SystemErrorText(), english_text(ERROR_ACCESS_DENIED) + u" (0x0005)");
    os::set_last_system_error(0x12345);
    EXPECT_EQ(SystemErrorText(), u"0x12345");
}

TEST(DataFolder, LocalLowOfTheUser) {
    const std::u16string folder = LocalLowFolder();
    ASSERT_GE(folder.size(), 3u);
    EXPECT_EQ(folder.substr(1, 2), u":\\");
    EXPECT_TRUE(ends_with_nocase(folder, u"\\AppData\\LocalLow")) << to_utf8(folder);
}

// Whoever else holds the log file decides: another launcher (sharing writing) does not cost
// a line; a program holding it without sharing writing (an editor) costs this one line only.
TEST(LogShareModes, OtherHoldersOfTheFile) {
    const std::filesystem::path dir = test_support::make_temporary_folder("quorla-log-share");
    const std::u16string file = (dir / "held.log").u16string();
    LogWriter::Destroy();
    LogWriter::Instance().SetPath(file);
    struct {
        DWORD share;
        bool kept;
    } rows[] = {{FILE_SHARE_READ | FILE_SHARE_WRITE, true}, {FILE_SHARE_READ, false}};
    std::u16string expected;
    for (const auto& row : rows) {
        const HANDLE other = CreateFileW(os::wide(file), GENERIC_READ | GENERIC_WRITE, row.share, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        LogWriter::Instance().Write(u"share %x", static_cast<unsigned>(row.share));
        CloseHandle(other);
        if (row.kept) expected += format16(u"share %x\r\n", static_cast<unsigned>(row.share));
    }
    LogWriter::Instance().Write(u"after");
    LogWriter::Destroy();
    std::ifstream in(dir / "held.log", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
    std::u16string lines;  // without the time prefixes
    for (size_t p = 0; p < text.size();) {
        const size_t end = text.find(u"\r\n", p) + 2;
        lines += text.substr(p + 9, end - p - 9);
        p = end;
    }
    EXPECT_EQ(lines, expected + u"after\r\n");
    in.close();
    std::filesystem::remove_all(dir);
}

}  // namespace
