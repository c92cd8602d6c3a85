#pragma once
// The dialog host without a window: the same life cycle, timers and painting, all in memory.
// Message boxes go to standard error as one line each; the retry question is answered No.
#include <chrono>
#include <map>
#include <string>

#include "host/dialog_host.h"

namespace host {

class headless_host : public dialog_host {
public:
    bool headless() const override { return true; }
    int run_modal(dialog_events& events, int width, int height) override;
    void end_dialog(int code) override;
    void set_title(std::u16string_view title) override { title_ = title; }
    bool set_icon(const uint8_t* data, size_t size) override;
    void resize(int width, int height) override;
    void center() override { centered_ = true; }
    void set_topmost() override { topmost_ = true; }
    void set_tool_window() override { tool_window_ = true; }
    void set_shape(const region& shape) override { shape_ = shape; }
    int client_width() const override { return screen_.width(); }
    int client_height() const override { return screen_.height(); }
    bool visible() const override { return visible_; }
    void set_timer(uintptr_t id, uint32_t milliseconds) override;
    void kill_timer(uintptr_t id) override { timers_.erase(id); }
    void paint_now(const std::function<void(canvas&)>& draw) override { draw(screen_); }
    box_answer message_box(std::u16string_view text, std::u16string_view caption,
                           box_style style) override;
    void pump_pending() override;
    void* native_id() override { return nullptr; }

    // What a test can look at.
    const image& screen() const { return screen_; }
    const region& shape() const { return shape_; }
    const std::u16string& title() const { return title_; }
    bool topmost() const { return topmost_; }
    bool tool_window() const { return tool_window_; }
    bool centered() const { return centered_; }
    bool has_icon() const { return has_icon_; }
    int message_boxes() const { return message_boxes_; }
    // Delivers a key-down as the window would; true when it closed nothing (always, here).
    bool press_key(int key);
    // Repaints the whole client area as a paint event would.
    void paint();

private:
    struct timer {
        std::chrono::milliseconds period;
        std::chrono::steady_clock::time_point next;
    };
    dialog_events* events_ = nullptr;
    image screen_;
    region shape_;
    std::u16string title_;
    std::map<uintptr_t, timer> timers_;
    bool visible_ = false, ended_ = false, topmost_ = false, tool_window_ = false, centered_ = false;
    bool has_icon_ = false, needs_paint_ = false;
    int code_ = 0, message_boxes_ = 0;
};

}  // namespace host
