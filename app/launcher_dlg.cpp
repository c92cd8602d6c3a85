#include "app/launcher_dlg.h"

#include <new>
#include <vector>

#include "os/clock.h"
#include "os/file_io.h"
#include "res/resources.h"
#include "os/platform.h"

namespace {

bool fail_allocations = false;

bool redraw_stamp_set = false;
uint32_t redraw_stamp = 0;

host::image load_picture(const char* name) {
    const embedded_resource r = find_resource(name);
    return r.data ? host::load_bmp(r.data, r.size) : host::image();
}

}  // namespace

CMemoryDC::CMemoryDC(host::canvas* target, rect area) : target_(target), area_(area) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (fail_allocations || width <= 0 || height <= 0) return;
    try {
        memory_ = std::make_unique<host::image>(width, height);
        valid_ = true;
    } catch (const std::bad_alloc&) {
        memory_.reset();
    }
}

CMemoryDC::~CMemoryDC() {
    if (valid_)
        target_->copy_from(*memory_, 0, 0, area_.right - area_.left, area_.bottom - area_.top,
                           area_.left, area_.top);
}

host::canvas& CMemoryDC::dc() { return valid_ ? static_cast<host::canvas&>(*memory_) : *target_; }

void CMemoryDC::simulate_allocation_failure(bool fail) { fail_allocations = fail; }

CQuorlaLauncherDlg::CQuorlaLauncherDlg(host::dialog_host& host, std::u16string command_line)
    : m_host(host), m_commandLine(std::move(command_line)) {
    const embedded_resource icon = find_resource("IDI_APP");
    m_hIcon = icon.data;
    m_hIconSize = icon.size;
}

int CQuorlaLauncherDlg::DoModal() { return m_host.run_modal(*this, 480, 325); }

bool CQuorlaLauncherDlg::OnInitDialog() {
    if (m_hIcon) m_host.set_icon(m_hIcon, m_hIconSize);
    LoadPictures();
    RunJob(1);

    m_host.set_title(m_startup.app_title.empty() ? os::executable_base_name() : m_startup.app_title);

    // An icon file beside the executable, named after it, replaces the built-in one.
    const std::u16string icon_file = os::executable_folder() + os::executable_base_name() + u".ico";
    if (std::FILE* icon = os::open_file(icon_file, "rb")) {
        std::vector<uint8_t> bytes;
        uint8_t piece[4096];
        size_t n;
        while ((n = std::fread(piece, 1, sizeof piece, icon)) > 0) bytes.insert(bytes.end(), piece, piece + n);
        std::fclose(icon);
        if (!bytes.empty()) m_host.set_icon(bytes.data(), bytes.size());
    }

    m_host.resize(kWidth, kHeight);
    m_host.center();
    m_host.set_tool_window();
    m_host.set_topmost();
    return true;
}

void CQuorlaLauncherDlg::OnShowWindow(bool show) {
    if (!show) return;
    m_host.kill_timer(kStartTimer);
    m_host.set_timer(kStartTimer, 100);
}

void CQuorlaLauncherDlg::OnTimer(uintptr_t id) {
    if (id != kStartTimer || !m_host.visible()) return;
    m_host.kill_timer(kStartTimer);  // it never fires twice
    m_host.end_dialog(RunJob(0) == 1 ? host::dialog_ok : host::dialog_cancel);
}

// Enter and Escape would close a dialog: the window closes only when the job ends.
bool CQuorlaLauncherDlg::PreTranslateMessage(int key) {
    return key == host::key_return || key == host::key_escape;
}

void CQuorlaLauncherDlg::LoadPictures() {
    m_bmpBackground = load_picture(os::user_language_is_korean() ? "IDB_BGD_PROG1_NOR" : "IDB_BGD_PROG2_NOR");
    m_bmpProgress = load_picture("IDB_STT_PROG_NOR");
}

void CQuorlaLauncherDlg::draw_progress(host::canvas& dc) {
    if (!m_bmpBackground.empty()) dc.copy_from(m_bmpBackground, 0, 0, kWidth, kHeight, 0, 0);
    if (m_progressTotal == 0) return;
    int32_t width;
    if (m_progressTotal <= m_progressDone)
        width = 246;
    else
        width = static_cast<int32_t>(static_cast<int64_t>(m_progressDone) * 246 / m_progressTotal);
    if (m_progressDone == 0) width = 0;
    // The strip is revealed from its left end.
    if (!m_bmpProgress.empty() && width > 0) dc.copy_from(m_bmpProgress, 0, 0, width, 10, 11, 39);
}

void CQuorlaLauncherDlg::OnPaint(host::canvas& target) {
    CMemoryDC memory(&target, {0, 0, target.width(), target.height()});
    draw_progress(memory.dc());
}

void CQuorlaLauncherDlg::redraw_progress(bool force) {
    const uint32_t now = os::tick_count();
    if (!redraw_stamp_set) {
        redraw_stamp_set = true;
        redraw_stamp = now;
    }
    if (!force && static_cast<uint32_t>(now - redraw_stamp) <= 100) return;
    redraw_stamp = now;
    m_host.paint_now([this](host::canvas& client) {
        CMemoryDC memory(&client, {0, 0, client.width(), client.height()});
        draw_progress(memory.dc());
    });
}

void CQuorlaLauncherDlg::reset_redraw_stamp() { redraw_stamp_set = false; }

// The window loses three pixels at each corner: the corner and its two neighbours.
void CQuorlaLauncherDlg::OnSize(int w, int h) {
    if (w < 2 || h < 2) return;
    host::region shape(w, h);
    const int corners[4][3][2] = {
        {{0, 0}, {0, 1}, {1, 0}},
        {{w - 1, 0}, {w - 1, 1}, {w - 2, 0}},
        {{w - 1, h - 1}, {w - 1, h - 2}, {w - 2, h - 1}},
        {{0, h - 1}, {0, h - 2}, {1, h - 1}},
    };
    for (const auto& corner : corners)
        for (const auto& p : corner) shape.xor_pixel(p[0], p[1]);
    m_host.set_shape(shape);
}

intptr_t CQuorlaLauncherDlg::OnMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (message != host::WM_JOB_PROGRESS) return 0;
    m_progressDone = static_cast<int32_t>(lparam);
    m_progressTotal = static_cast<int32_t>(wparam);
    redraw_progress(m_progressDone == m_progressTotal);
    return 0;
}

intptr_t CQuorlaLauncherDlg::send_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return OnMessage(message, wparam, lparam);
}

host::box_answer CQuorlaLauncherDlg::message_box(std::u16string_view text, std::u16string_view caption,
                                                 host::box_style style) {
    return m_host.message_box(text, caption, style);
}

void* CQuorlaLauncherDlg::native_id() { return m_host.native_id(); }

void CQuorlaLauncherDlg::shrink_and_center() {
    m_host.resize(1, 1);
    m_host.center();
}
