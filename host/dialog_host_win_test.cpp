// The Win32 window host on a private X display under wine (scripts/wine-display-run): a small
// dialog runs modally and checks, from its timer, what the window really is on the screen.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "host/dialog_host.h"

namespace {

constexpr uintptr_t kTimer = 200;
constexpr int kWidth = 267, kHeight = 68;

// Every pixel its own colour, so that a shifted, cut or repeated copy shows.
host::image pattern() {
    host::image picture(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = picture.row(y) + x * 3;
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y * 3 + (x >> 8) * 128);
            p[2] = static_cast<uint8_t>(255 - x / 2);
        }
    return picture;
}

host::region cut_corners(int w, int h) {
    host::region shape(w, h);
    const int corners[12][2] = {{0, 0},         {0, 1},     {1, 0},         {w - 1, 0},
                                {w - 1, 1},     {w - 2, 0}, {w - 1, h - 1}, {w - 1, h - 2},
                                {w - 2, h - 1}, {0, h - 1}, {0, h - 2},     {1, h - 1}};
    for (const auto& p : corners) shape.xor_pixel(p[0], p[1]);
    return shape;
}

// What the screen shows of the window, read back through the screen's drawing context.
host::image capture(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    host::image out(w, h);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* in =
                static_cast<const uint8_t*>(bits) + (static_cast<size_t>(y) * w + x) * 4;
            uint8_t* p = out.row(y) + x * 3;
            p[0] = in[2], p[1] = in[1], p[2] = in[0];
        }
    SelectObject(memory, previous);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

struct probe : host::dialog_events {
    explicit probe(host::dialog_host& h) : host(h) {}
    host::dialog_host& host;
    const host::image picture = pattern();
    int ticks = 0, paints = 0, erases = 0, progress_calls = 0, mismatched = -1;
    std::vector<int> keys;
    std::vector<std::pair<int, int>> sizes;
    intptr_t sent_result = 0;
    bool sent_was_synchronous = false, painted_by_pump = false, shown = false;
    LONG_PTR ex_style = 0;
    RECT window_rect{}, work_area{};
    size_t region_pixels = 0;
    std::vector<std::vector<uint8_t>> icons;  // set in turn; the last one is cut short
    std::vector<bool> icons_taken;
    bool window_has_icons = false;

    bool OnInitDialog() override {
        for (const auto& bytes : icons)
            icons_taken.push_back(host.set_icon(bytes.data(), bytes.size()));
        HWND window = static_cast<HWND>(host.native_id());
        window_has_icons = SendMessageW(window, WM_GETICON, ICON_BIG, 0) != 0 &&
                           SendMessageW(window, WM_GETICON, ICON_SMALL, 0) != 0;
        host.resize(kWidth, kHeight);
        host.center();
        host.set_tool_window();
        host.set_topmost();
        return true;
    }
    void OnShowWindow(bool show) override {
        shown = shown || show;
        if (show) host.set_timer(kTimer, 100);
    }
    void OnTimer(uintptr_t id) override {
        if (id != kTimer) return;
        HWND window = static_cast<HWND>(host.native_id());
        if (++ticks == 1) {
            inspect(window);
            sent_result = SendMessageW(window, host::WM_JOB_PROGRESS, 4, 1);
            sent_was_synchronous = progress_calls == 1;
            const int before = paints;
            InvalidateRect(window, nullptr, FALSE);
            host.pump_pending();
            painted_by_pump = paints > before;
            // A quit request ends the pump and is dropped: the dialog must still reach its end.
            PostQuitMessage(3);
            host.pump_pending();
            // For the modal loop: neither the keys nor a close request may end the dialog.
            PostMessageW(window, WM_KEYDOWN, VK_RETURN, 1);
            PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1);
            PostMessageW(window, WM_CLOSE, 0, 0);
            return;
        }
        // The X server shows the window a little later than wine draws it.
        const host::image seen = capture(window);
        const host::region shape = cut_corners(kWidth, kHeight);
        mismatched = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (shape.contains(x, y) && seen.pixel(x, y) != picture.pixel(x, y)) ++mismatched;
        if (mismatched == 0 || ticks >= 50) host.end_dialog(host::dialog_ok);
    }
    bool PreTranslateMessage(int key) override {
        keys.push_back(key);
        return key == host::key_return || key == host::key_escape;
    }
    void OnPaint(host::canvas& target) override {
        ++paints;
        target.copy_from(picture, 0, 0, target.width(), target.height(), 0, 0);
    }
    bool OnEraseBkgnd() override {
        ++erases;
        return false;
    }
    void OnSize(int w, int h) override {
        sizes.emplace_back(w, h);
        if (w >= 2 && h >= 2) host.set_shape(cut_corners(w, h));
    }
    intptr_t OnMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
        if (message != host::WM_JOB_PROGRESS || wparam != 4 || lparam != 1) return 0;
        ++progress_calls;
        return 42;
    }

    void inspect(HWND window) {
        ex_style = GetWindowLongPtrW(window, GWL_EXSTYLE);
        GetWindowRect(window, &window_rect);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
        work_area = monitor.rcWork;
        HRGN shape = CreateRectRgn(0, 0, 0, 0);
        if (GetWindowRgn(window, shape) != ERROR) {
            std::vector<uint8_t> data(GetRegionData(shape, 0, nullptr));
            auto* rects = reinterpret_cast<RGNDATA*>(data.data());
            if (!data.empty() && GetRegionData(shape, static_cast<DWORD>(data.size()), rects)) {
                const RECT* r = reinterpret_cast<const RECT*>(rects->Buffer);
                for (DWORD i = 0; i < rects->rdh.nCount; ++i)
                    region_pixels +=
                        static_cast<size_t>(r[i].right - r[i].left) * (r[i].bottom - r[i].top);
            }
        }
        DeleteObject(shape);
    }
};

// The icon as PNG (16 bits a channel, which the system's own icon reader refuses), as an icon
// file holding that PNG, and as that file cut short.
std::vector<std::vector<uint8_t>> icon_files() {
    std::ifstream in(
        std::filesystem::path(std::getenv("QUORLA_SOURCE_DIR")) / "res" / "app_icon.png",
        std::ios::binary);
    const std::vector<uint8_t> png{std::istreambuf_iterator<char>(in), {}};
    const uint32_t size = static_cast<uint32_t>(png.size());
    std::vector<uint8_t> ico = {0,
                                0,
                                1,
                                0,
                                1,
                                0,
                                0,
                                0,
                                0,
                                0,
                                1,
                                0,
                                32,
                                0,
                                uint8_t(size),
                                uint8_t(size >> 8),
                                uint8_t(size >> 16),
                                uint8_t(size >> 24),
                                22,
                                0,
                                0,
                                0};
    ico.insert(ico.end(), png.begin(), png.end());
    return {png, ico, std::vector<uint8_t>(ico.begin(), ico.end() - 100)};
}

TEST(Win32Host, ProgressWindowIsWhatTheDialogAskedForOnTheScreen) {
    auto host = host::make_window_host();
    ASSERT_NE(host, nullptr);
    EXPECT_FALSE(host->headless());
    probe dialog(*host);
    dialog.icons = icon_files();
    EXPECT_EQ(host->run_modal(dialog, 480, 325), host::dialog_ok);

    EXPECT_EQ(dialog.icons_taken, (std::vector<bool>{true, true, false}));
    EXPECT_TRUE(dialog.window_has_icons);

    EXPECT_TRUE(dialog.shown);
    EXPECT_FALSE(host->visible()) << "the window is gone after the dialog";
    ASSERT_FALSE(dialog.sizes.empty());
    EXPECT_EQ(dialog.sizes.back(), std::make_pair(kWidth, kHeight));
    EXPECT_EQ(dialog.window_rect.right - dialog.window_rect.left, kWidth);
    EXPECT_EQ(dialog.window_rect.bottom - dialog.window_rect.top, kHeight);
    const RECT& area = dialog.work_area;
    EXPECT_EQ(dialog.window_rect.left, area.left + (area.right - area.left - kWidth) / 2);
    EXPECT_EQ(dialog.window_rect.top, area.top + (area.bottom - area.top - kHeight) / 2);
    EXPECT_EQ(dialog.ex_style & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_APPWINDOW),
              WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
    EXPECT_EQ(dialog.region_pixels, size_t(kWidth) * kHeight - 12);

    EXPECT_EQ(dialog.sent_result, 42);
    EXPECT_TRUE(dialog.sent_was_synchronous);
    EXPECT_TRUE(dialog.painted_by_pump);
    EXPECT_GE(dialog.erases, 1);
    EXPECT_EQ(dialog.keys, (std::vector<int>{host::key_return, host::key_escape}));
    EXPECT_GE(dialog.ticks, 2) << "neither a key nor a close request ended the dialog";
    EXPECT_EQ(dialog.mismatched, 0) << "pixels on the screen that differ from the painted picture";
}

}  // namespace
