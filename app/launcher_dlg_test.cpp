#include "app/launcher_dlg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "host/dialog_host_headless.h"
#include "os/clock.h"
#include "res/resources.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_log.h"
#include "os/platform.h"

namespace {

// Width of the strip in a frame: the pixels of row 44 that differ from the empty groove.
int strip_width(const host::image& frame, const host::image& empty) {
    int width = 0;
    for (int x = 11; x < 11 + 246; ++x)
        if (frame.pixel(x, 44) != empty.pixel(x, 44)) width = x - 11 + 1;
    return width;
}

struct Window : ::testing::Test {
    test_support::log_capture log;
    host::headless_host host;
    uint32_t ticks = 1000;
    void SetUp() override {
        os::set_tick_source([this] { return ticks; });
        CQuorlaLauncherDlg::reset_redraw_stamp();
        test_support::unset_environment("LC_ALL");
        test_support::unset_environment("LC_MESSAGES");
        test_support::set_environment("LANG", "en_US.UTF-8");
    }
    void TearDown() override {
        os::set_tick_source(nullptr);
        CMemoryDC::simulate_allocation_failure(false);
    }
    host::image frame(CQuorlaLauncherDlg& dlg) {
        host::image out(CQuorlaLauncherDlg::kWidth, CQuorlaLauncherDlg::kHeight);
        dlg.OnPaint(out);
        return out;
    }
};

TEST_F(Window, StripWidthFollowsTheProgressMessage) {
    CQuorlaLauncherDlg dlg(host, u"");
    dlg.LoadPictures();
    const host::image empty = frame(dlg);
    struct Case {
        int total, done, width;
    } cases[] = {{0, 7, 0}, {4, 1, 61}, {3, 3, 246}, {3, 5, 246}, {5, 0, 0}, {246, 245, 245}, {1000, 1, 0}};
    for (const auto& c : cases) {
        dlg.send_message(host::WM_JOB_PROGRESS, c.total, c.done);
        EXPECT_EQ(dlg.m_progressTotal, c.total);
        EXPECT_EQ(dlg.m_progressDone, c.done);
        EXPECT_EQ(strip_width(frame(dlg), empty), c.width) << c.done << " of " << c.total;
    }
}

TEST_F(Window, StripShowsItsLeftEndFirst) {
    CQuorlaLauncherDlg dlg(host, u"");
    dlg.LoadPictures();
    dlg.send_message(host::WM_JOB_PROGRESS, 4, 1);
    const host::image f = frame(dlg);
    for (int x = 0; x < 61; ++x) EXPECT_EQ(f.pixel(11 + x, 44), dlg.m_bmpProgress.pixel(x, 5)) << x;
}

TEST_F(Window, ProgressRedrawsAreThrottledExceptTheLast) {
    CQuorlaLauncherDlg dlg(host, u"");
    dlg.LoadPictures();
    host.resize(CQuorlaLauncherDlg::kWidth, CQuorlaLauncherDlg::kHeight);
    const host::image empty = frame(dlg);
    host.paint_now([&](host::canvas& screen) { dlg.OnPaint(screen); });
    dlg.send_message(host::WM_JOB_PROGRESS, 4, 1);  // first call starts the clock: not drawn
    EXPECT_EQ(strip_width(host.screen(), empty), 0);
    ticks += 50;
    dlg.send_message(host::WM_JOB_PROGRESS, 4, 2);  // within 100 ms: not drawn
    EXPECT_EQ(strip_width(host.screen(), empty), 0);
    ticks += 51;
    dlg.send_message(host::WM_JOB_PROGRESS, 4, 3);  // 101 ms later: drawn
    EXPECT_EQ(strip_width(host.screen(), empty), 184);
    ticks += 1;
    dlg.send_message(host::WM_JOB_PROGRESS, 4, 4);  // the final one is always drawn
    EXPECT_EQ(strip_width(host.screen(), empty), 246);
}

TEST_F(Window, ShapeLosesThreePixelsAtEachCorner) {
    CQuorlaLauncherDlg dlg(host, u"");
    dlg.OnSize(267, 68);
    const host::region& shape = host.shape();
    EXPECT_EQ(shape.pixel_count(), 267u * 68u - 12u);
    for (auto [x, y] : {std::pair{0, 0}, {0, 1}, {1, 0}, {266, 0}, {266, 1}, {265, 0}, {266, 67}, {266, 66},
                        {265, 67}, {0, 67}, {0, 66}, {1, 67}})
        EXPECT_FALSE(shape.contains(x, y)) << x << "," << y;
    for (auto [x, y] : {std::pair{1, 1}, {265, 1}, {265, 66}, {1, 66}, {2, 0}, {0, 2}})
        EXPECT_TRUE(shape.contains(x, y)) << x << "," << y;
    dlg.OnSize(1, 1);
    EXPECT_EQ(host.shape().pixel_count(), 267u * 68u - 12u) << "a 1 x 1 window keeps its shape";
}

TEST_F(Window, KoreanUsersGetTheKoreanPicture) {
    CQuorlaLauncherDlg dlg(host, u"");
    // POSIX takes the language from the environment; Windows from the user's default
    // language, which the environment does not change once the process runs.
    const bool follows_environment = os::path_separator() == u'/';
    for (const bool korean : {true, false}) {
        test_support::set_environment("LANG", korean ? "ko_KR.UTF-8" : "de_DE.UTF-8");
        if (follows_environment) {
            EXPECT_EQ(os::user_language_is_korean(), korean);
        }
        dlg.LoadPictures();
        const embedded_resource r =
            find_resource(os::user_language_is_korean() ? "IDB_BGD_PROG1_NOR" : "IDB_BGD_PROG2_NOR");
        EXPECT_EQ(dlg.m_bmpBackground, host::load_bmp(r.data, r.size)) << korean;
    }
    EXPECT_EQ(dlg.m_bmpBackground.width(), 267);
    EXPECT_EQ(dlg.m_bmpProgress.width(), 246);
    EXPECT_EQ(dlg.m_bmpProgress.height(), 10);
}

// The pictures the program carries are the drawn ones, read from a file (with its header) or
// from a bitmap resource (without), and the icon is the PNG.
TEST_F(Window, BuiltInPicturesAreTheDrawnOnes) {
    auto file_bytes = [](const std::string& name) {
        std::ifstream in(std::string(QUORLA_TEST_SOURCE_DIR) + "/res/" + name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    for (const char* name : {"IDB_BGD_PROG1_NOR", "IDB_BGD_PROG2_NOR", "IDB_STT_PROG_NOR"}) {
        const std::vector<uint8_t> file = file_bytes(std::string(name) + ".bmp");
        const host::image drawn = host::load_bmp(file.data(), file.size());
        ASSERT_FALSE(drawn.empty()) << name;
        EXPECT_EQ(host::load_bmp(file.data() + 14, file.size() - 14), drawn) << name << " without its file header";
        const embedded_resource r = find_resource(name);
        EXPECT_EQ(host::load_bmp(r.data, r.size), drawn) << name;
        EXPECT_TRUE(host::load_bmp(r.data, r.size > 60 ? 60 : 0).empty()) << name << " cut short";
    }
    const std::vector<uint8_t> png = file_bytes("app_icon.png");
    const embedded_resource icon = find_resource("IDI_APP");
    EXPECT_EQ(std::vector<uint8_t>(icon.data, icon.data + icon.size), png);
}

TEST_F(Window, WithoutAnOffScreenSurfaceTheFrameIsDrawnStraightIn) {
    CQuorlaLauncherDlg dlg(host, u"");
    dlg.LoadPictures();
    dlg.send_message(host::WM_JOB_PROGRESS, 2, 1);
    const host::image buffered = frame(dlg);
    CMemoryDC::simulate_allocation_failure(true);
    EXPECT_EQ(frame(dlg), buffered);
}

TEST_F(Window, EnterAndEscapeAreSwallowed) {
    CQuorlaLauncherDlg dlg(host, u"");
    EXPECT_TRUE(dlg.PreTranslateMessage(host::key_return));
    EXPECT_TRUE(dlg.PreTranslateMessage(host::key_escape));
    EXPECT_FALSE(dlg.PreTranslateMessage('A'));
}

// A full modal run whose job is scripted, to check the window's life cycle.
struct scripted_dialog : CQuorlaLauncherDlg {
    using CQuorlaLauncherDlg::CQuorlaLauncherDlg;
    std::vector<int> runs;
    int result = 1;
    int RunJob(int prepareOnly) override {
        runs.push_back(prepareOnly);
        if (prepareOnly) m_startup.app_title = u"Shop editor";
        return prepareOnly ? 1 : result;
    }
};

TEST_F(Window, ModalRunPreparesThenRunsOnceFromTheTimer) {
    scripted_dialog dlg(host, u"");
    EXPECT_EQ(dlg.DoModal(), host::dialog_ok);
    EXPECT_EQ(dlg.runs, (std::vector<int>{1, 0}));
    EXPECT_EQ(host.title(), u"Shop editor");
    EXPECT_EQ(host.client_width(), 267);
    EXPECT_EQ(host.client_height(), 68);
    EXPECT_TRUE(host.topmost());
    EXPECT_TRUE(host.tool_window());
    EXPECT_TRUE(host.centered());
    EXPECT_TRUE(host.has_icon());
    EXPECT_EQ(host.shape().pixel_count(), 267u * 68u - 12u);
    scripted_dialog failing(host, u"");
    failing.result = 0;
    EXPECT_EQ(failing.DoModal(), host::dialog_cancel);
}

TEST_F(Window, TitleFallsBackToTheExecutableName) {
    struct untitled : scripted_dialog {
        using scripted_dialog::scripted_dialog;
        int RunJob(int) override { return 1; }
    } dlg(host, u"");
    dlg.DoModal();
    EXPECT_EQ(host.title(), u"app_test");
}

TEST_F(Window, MissingProtocolLinkIsMetTwiceWithItsMessageBox) {
    struct Case {
        std::u16string command_line, line;
    } cases[] = {
        {u"", u"*오류 : 실행에 관련된 정보가 정상적으로 설정되어있지 않습니다."},
        {u"/usr/bin/quorla-launcher quorla://", u"*오류 : 프로토콜 문자열을 찾지 못했습니다."},
        {u"/usr/bin/quorla-launcher \"quorla://\"", u"*오류 : 프로토콜 문자열을 찾지 못했습니다."},
        {u"/usr/bin/quorla-launcher nolink", u"*오류 : 프로토콜 문자열을 찾지 못했습니다."},
    };
    for (const auto& c : cases) {
        test_support::log_capture own_log;
        host::headless_host fresh;
        CQuorlaLauncherDlg dlg(fresh, c.command_line);
        EXPECT_EQ(dlg.DoModal(), host::dialog_cancel);
        EXPECT_EQ(own_log.count_line(c.line), 2u) << own_log.lines_utf8();
        EXPECT_EQ(fresh.message_boxes(), 2);
    }
}

TEST_F(Window, ArgumentsWithoutKeyOrServerFailBothRunsWithoutMessageBox) {
    CQuorlaLauncherDlg dlg(host, u"/usr/bin/quorla-launcher \"quorla://key=K&x=1\"");
    EXPECT_EQ(dlg.DoModal(), host::dialog_cancel);
    EXPECT_EQ(log.count_line(u"*오류 : 명령 인수값이 올바르지 않습니다. key, svr 값이 없습니다."), 2u);
    EXPECT_EQ(log.count_line(u"*오류 : 명령 인수값이 올바르지 않습니다. (key=K&x=1)"), 2u) << "the trailing quote goes";
    EXPECT_EQ(host.message_boxes(), 0);
}

}  // namespace
