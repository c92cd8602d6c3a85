#include "host/dialog_host_headless.h"

#include <cstdio>
#include <thread>

#include "text/text.h"

namespace host {

std::unique_ptr<dialog_host> make_headless_host() { return std::make_unique<headless_host>(); }

int headless_host::run_modal(dialog_events& events, int width, int height) {
    events_ = &events;
    ended_ = false;
    screen_ = image(width, height);
    set_active_host(this);
    events.OnInitDialog();
    if (!ended_) {
        visible_ = true;
        events.OnShowWindow(true);
        paint();
    }
    while (!ended_) {
        if (timers_.empty()) {
            // Nothing can happen any more: a window with no timer and no one to click it.
            code_ = dialog_cancel;
            break;
        }
        auto due = timers_.begin();
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (it->second.next < due->second.next) due = it;
        std::this_thread::sleep_until(due->second.next);
        const uintptr_t id = due->first;
        due->second.next += due->second.period;
        events.OnTimer(id);
        pump_pending();
    }
    visible_ = false;
    timers_.clear();
    set_active_host(nullptr);
    events_ = nullptr;
    return code_;
}

void headless_host::end_dialog(int code) {
    code_ = code;
    ended_ = true;
}

bool headless_host::set_icon(const uint8_t* data, size_t size) {
    // PNG and ICO signatures: enough to tell a picture from anything else.
    const bool png = size > 8 && data[0] == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G';
    const bool ico = size > 6 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0;
    if (png || ico) has_icon_ = true;
    return png || ico;
}

void headless_host::resize(int width, int height) {
    image resized(width, height);
    resized.copy_from(screen_, 0, 0, screen_.width(), screen_.height(), 0, 0);
    screen_ = std::move(resized);
    if (events_ != nullptr) events_->OnSize(width, height);
    needs_paint_ = true;
}

void headless_host::set_timer(uintptr_t id, uint32_t milliseconds) {
    const auto period = std::chrono::milliseconds(milliseconds);
    timers_[id] = {period, std::chrono::steady_clock::now() + period};
}

box_answer headless_host::message_box(std::u16string_view text, std::u16string_view caption,
                                      box_style style) {
    ++message_boxes_;
    std::string line = to_utf8(caption.empty() ? text : std::u16string(caption) + u": " + std::u16string(text));
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    return style == box_style::yes_no_exclamation ? box_answer::no : box_answer::ok;
}

void headless_host::pump_pending() {
    if (needs_paint_ && visible_) paint();
}

bool headless_host::press_key(int key) {
    if (events_ != nullptr && events_->PreTranslateMessage(key)) return true;
    return true;
}

void headless_host::paint() {
    needs_paint_ = false;
    if (events_ == nullptr) return;
    // The dialog erases nothing: the paint covers the whole client area.
    events_->OnEraseBkgnd();
    events_->OnPaint(screen_);
}

}  // namespace host
