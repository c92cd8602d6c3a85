#include "log/log_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "os/clock.h"
#include "os/system_error.h"
#include "log/log_writer_test_os.h"
#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "text/text.h"

namespace fs = std::filesystem;

namespace {

std::string read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string utf16le(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

struct Log : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quorla-log-" + std::to_string(test_support::process_id()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        LogWriter::Destroy();
        os::set_local_time_source([] { return os::local_time{2026, 12, 9, 8, 5, 3}; });
    }
    void TearDown() override {
        LogWriter::Destroy();
        os::set_local_time_source(nullptr);
        fs::remove_all(dir);
    }
    std::u16string path(const char* name) { return (dir / name).make_preferred().u16string(); }
};

TEST_F(Log, ByteOrderMarkOnlyOnEmptyFileAndLineFormat) {
    LogWriter::Instance().SetPath(path("a.log"));
    LogWriter::Instance().Write(u" ");
    LogWriter::Instance().Write(u"* url: %s\r\n", std::u16string(u"http://x/\ud55c"));
    LogWriter::Instance().Write(u"%d", 7);
    const std::string expected = "\xFF\xFE" + utf16le(u"08:05:03  \r\n") +
                                 utf16le(u"08:05:03 * url: http://x/\ud55c\r\n\r\n") +
                                 utf16le(u"08:05:03 7\r\n");
    EXPECT_EQ(read_bytes(dir / "a.log"), expected);
}

// A 16 MiB document quoted on every attempt once wrote a 436 MB log: each quoted text is cut
// at 32768 characters (64 KiB) with a count of what was left out; other arguments and the
// rest of the line stay whole.
TEST_F(Log, LongQuotedTextIsCutWithACountOfWhatWasLeftOut) {
    const size_t max = LogWriter::max_quoted_chars;
    const std::u16string exact(max, u'a');
    const std::u16string pair_at_cut = std::u16string(max - 1, u'b') + u"\U0001F600" + u"c";
    struct row {
        std::u16string text, expected;
    } rows[] = {
        {exact, exact},
        {exact + u"z", exact + u"[\u2026 1 characters left out]"},
        {pair_at_cut, std::u16string(max - 1, u'b') + u"[\u2026 3 characters left out]"},
    };
    LogWriter::Instance().SetPath(path("q.log"));
    std::string expected = "\xFF\xFE";
    for (const row& r : rows) {
        LogWriter::Instance().Write(u">%s (url:%s, %d)", r.text, std::u16string(u"http://x/"), 5);
        expected += utf16le(u"08:05:03 >" + r.expected + u" (url:http://x/, 5)\r\n");
    }
    EXPECT_EQ(read_bytes(dir / "q.log"), expected);
}

TEST_F(Log, NonEmptyFileNeverGetsAMark) {
    { std::ofstream(dir / "b.log", std::ios::binary) << "XY"; }
    LogWriter::Instance().SetPath(path("b.log"));
    LogWriter::Instance().Write(u"x");
    EXPECT_EQ(read_bytes(dir / "b.log"), "XY" + utf16le(u"08:05:03 x\r\n"));
}

TEST_F(Log, UnopenableFileDropsTheLineQuietly) {
    LogWriter::Instance().SetPath(path("missing-folder/c.log"));
    os::set_last_system_error(42);
    LogWriter::Instance().Write(u"lost");
    EXPECT_EQ(os::last_system_error(), 42u) << "logging must not change the caller's error code";
    EXPECT_FALSE(fs::exists(dir / "missing-folder"));
}

TEST_F(Log, FallbackFileBesideExecutableWithAndWithoutName) {
    const fs::path exe_dir = fs::path(os::executable_path()).parent_path();
    const fs::path unnamed = exe_dir / "log" / "_20261209.log";
    const fs::path named = exe_dir / "log" / "QuorlaLauncher_20261209.log";
    fs::remove(unnamed);
    fs::remove(named);

    LogWriter::Instance().Write(u"early");
    EXPECT_EQ(read_bytes(unnamed), "\xFF\xFE" + utf16le(u"08:05:03 early\r\n"));

    LogWriter::Destroy();
    LogWriter::Instance().SetName(u"QuorlaLauncher");
    LogWriter::Instance().Write(u"named");
    EXPECT_TRUE(fs::exists(named));
    fs::remove(unnamed);
    fs::remove(named);
}

TEST_F(Log, RunPastMidnightKeepsTheStartFile) {
    os::set_local_time_source([] { return os::local_time{2026, 12, 9, 23, 59, 59}; });
    const fs::path exe_dir = fs::path(os::executable_path()).parent_path();
    LogWriter::Instance().SetName(u"midnight");
    LogWriter::Instance().Write(u"before");
    os::set_local_time_source([] { return os::local_time{2026, 12, 10, 0, 0, 1}; });
    LogWriter::Instance().Write(u"after");
    const fs::path file = exe_dir / "log" / "midnight_20261209.log";
    EXPECT_EQ(read_bytes(file),
              "\xFF\xFE" + utf16le(u"23:59:59 before\r\n") + utf16le(u"00:00:01 after\r\n"));
    EXPECT_FALSE(fs::exists(exe_dir / "log" / "midnight_20261210.log"));
    fs::remove(file);
}

TEST_F(Log, TwoProcessesAppendingAtOnceLoseNoLine) {
    LogWriter::Instance().SetPath(path("shared.log"));
    constexpr int kLines = 400;
    run_appenders(path("shared.log"), 2, kLines);
    const std::string bytes = read_bytes(dir / "shared.log");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.find("\xFF\xFE", 2), std::string::npos);
    const std::string line_end = utf16le(u"\r\n");
    size_t lines = 0;
    for (size_t p = 2; (p = bytes.find(line_end, p)) != std::string::npos; p += 4) ++lines;
    EXPECT_EQ(lines, 2u * kLines);
}

TEST_F(Log, EnsureDirectoryCreatesLevelsAndReportsFailure) {
    LogWriter::Instance().SetPath(path("e.log"));
    EXPECT_TRUE(EnsureDirectory(path("one/two/three/")));
    EXPECT_TRUE(fs::is_directory(dir / "one/two/three"));
    EXPECT_TRUE(EnsureDirectory(path("one/two")));
    { std::ofstream(dir / "plain-file") << "x"; }
    EXPECT_FALSE(EnsureDirectory(path("plain-file/sub")));
    const std::string log = read_bytes(dir / "e.log");
    const std::string expected = utf16le(u"Failed to SHCreateDirectory (err:" + not_a_folder_text() + u" path:" +
                                         path("plain-file/sub") + u")");
    EXPECT_NE(log.find(expected), std::string::npos) << to_utf8(std::u16string(reinterpret_cast<const char16_t*>(log.data()), log.size() / 2));
}

}  // namespace
