// The real progress window on an X server of the test's own (Xvfb).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/launcher_dlg.h"
#include "tests/support/display.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_log.h"

namespace {

std::string capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// Looks at its own window from outside while the job runs, then ends the dialog.
struct inspected_dialog : CQuorlaLauncherDlg {
    using CQuorlaLauncherDlg::CQuorlaLauncherDlg;
    std::string xid, geometry, state, hints, capture_rgb;
    bool visible_after_keys = false;
    int RunJob(int prepareOnly) override {
        if (prepareOnly) return 1;
        // The first message only starts the redraw clock; one sent more than 100 ms later is
        // drawn at once.
        send_message(host::WM_JOB_PROGRESS, 4, 1);
        usleep(150000);
        send_message(host::WM_JOB_PROGRESS, 4, 2);
        m_host.pump_pending();
        xid = std::to_string(reinterpret_cast<uintptr_t>(native_id()));
        geometry = capture("xwininfo -id " + xid);
        state = capture("xprop -id " + xid + " _NET_WM_STATE");
        hints = capture("xprop -id " + xid + " _MOTIF_WM_HINTS");
        capture_rgb = capture("import -window root -depth 8 rgb:- 2>/dev/null");
        capture("xdotool key --window " + xid + " Return Escape 2>/dev/null");
        m_host.pump_pending();
        visible_after_keys = m_host.visible();
        return 1;
    }
};

int field(const std::string& text, const std::string& name) {
    const size_t at = text.find(name);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + name.size());
}

TEST(GtkWindow, RealWindowLooksLikeTheComposedFrame) {
    test_support::private_display display;
    if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed";
    test_support::log_capture log;
    test_support::set_environment("DISPLAY", display.name());
    test_support::unset_environment("QUORLA_HEADLESS");
    test_support::set_environment("LANG", "en_US.UTF-8");
    auto host = host::make_window_host();
    ASSERT_TRUE(host) << "no display at " << display.name();

    inspected_dialog dlg(*host, u"");
    EXPECT_EQ(dlg.DoModal(), host::dialog_ok);
    ASSERT_NE(dlg.xid, "0");

    EXPECT_EQ(field(dlg.geometry, "Width: "), 267) << dlg.geometry;
    EXPECT_EQ(field(dlg.geometry, "Height: "), 68) << dlg.geometry;
    EXPECT_NE(dlg.state.find("_NET_WM_STATE_ABOVE"), std::string::npos) << dlg.state;
    EXPECT_NE(dlg.state.find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos) << dlg.state;
    // Motif hints: flags with the decorations bit, and no decorations.
    EXPECT_NE(dlg.hints.find("= 0x2, 0x0, 0x0"), std::string::npos) << dlg.hints;
    EXPECT_TRUE(dlg.visible_after_keys) << "Enter and Escape must not close the window";

    // The screen holds the composed frame where the window is, minus the cut corners.
    const int x = field(dlg.geometry, "Absolute upper-left X: ");
    const int y = field(dlg.geometry, "Absolute upper-left Y: ");
    ASSERT_EQ(dlg.capture_rgb.size(), 640u * 480u * 3u);
    host::image frame(267, 68);
    dlg.draw_progress(frame);
    auto screen = [&](int px, int py) {
        const size_t at = (static_cast<size_t>(y + py) * 640 + (x + px)) * 3;
        const auto* p = reinterpret_cast<const uint8_t*>(dlg.capture_rgb.data() + at);
        return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    };
    int differing = 0;
    for (int py = 0; py < 68; ++py)
        for (int px = 0; px < 267; ++px) {
            const bool corner = (px + py <= 1) || (266 - px + py <= 1) || (px + 67 - py <= 1) || (266 - px + 67 - py <= 1);
            if (corner) continue;
            if (screen(px, py) != frame.pixel(px, py)) ++differing;
        }
    EXPECT_EQ(differing, 0);
    // The twelve corner pixels show what lies behind the window (the black root).
    for (auto [px, py] : {std::pair{0, 0}, {1, 0}, {0, 1}, {266, 0}, {265, 0}, {266, 1}, {0, 67}, {1, 67}, {0, 66},
                          {266, 67}, {265, 67}, {266, 66}})
        EXPECT_EQ(screen(px, py), 0u) << px << "," << py;
    EXPECT_NE(screen(1, 1), 0u) << "the pixel diagonally inside a corner stays";
}

}  // namespace
