#pragma once
// Our stand-in for the application framework's modal dialog: a window with timers, painting,
// shape, message boxes and an event pump. Its implementations: GTK 3 (a module loaded on
// POSIX, dialog_host_gtk.cpp), Win32 (dialog_host_win.cpp), and a headless one that runs the
// same life cycle without a window (no display, or QUORLA_HEADLESS set). dialog_host.cpp
// chooses between them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "host/image.h"
#include "host/window.h"

namespace host {

// Dialog end codes and the keys a dialog may swallow, with the framework's values. Not the
// framework's names: those are macros of <windows.h>.
constexpr int dialog_ok = 1;
constexpr int dialog_cancel = 2;
constexpr int key_return = 13;
constexpr int key_escape = 27;

// The dialog's handlers, called by the host on the user-interface thread.
class dialog_events {
public:
    virtual ~dialog_events() = default;
    virtual bool OnInitDialog() = 0;               // before the window is visible
    virtual void OnShowWindow(bool show) = 0;      // after the window was shown or hidden
    virtual void OnTimer(uintptr_t id) = 0;
    virtual bool PreTranslateMessage(int key) = 0;  // true: the key-down is swallowed
    virtual void OnPaint(canvas& target) = 0;      // the whole client area, as it stands
    virtual bool OnEraseBkgnd() = 0;               // false: nothing erased
    virtual void OnSize(int width, int height) = 0;
    virtual intptr_t OnMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
};

class dialog_host {
public:
    virtual ~dialog_host() = default;
    virtual bool headless() const = 0;
    // Creates the hidden window, runs OnInitDialog, shows the window and runs the modal loop
    // until end_dialog; returns its code. The window is gone afterwards.
    virtual int run_modal(dialog_events& events, int width, int height) = 0;
    virtual void end_dialog(int code) = 0;

    virtual void set_title(std::u16string_view title) = 0;
    // Big and small icon from PNG or ICO bytes; false when they cannot be read.
    virtual bool set_icon(const uint8_t* data, size_t size) = 0;
    virtual void resize(int width, int height) = 0;
    virtual void center() = 0;
    virtual void set_topmost() = 0;
    virtual void set_tool_window() = 0;  // no task-bar or pager entry
    virtual void set_shape(const region& shape) = 0;
    virtual int client_width() const = 0;
    virtual int client_height() const = 0;
    virtual bool visible() const = 0;

    virtual void set_timer(uintptr_t id, uint32_t milliseconds) = 0;  // one tick each period
    virtual void kill_timer(uintptr_t id) = 0;

    // Paints at once through a drawing context of the client area (outside a paint event).
    virtual void paint_now(const std::function<void(canvas&)>& draw) = 0;

    virtual box_answer message_box(std::u16string_view text, std::u16string_view caption,
                                   box_style style) = 0;
    virtual void pump_pending() = 0;
    virtual void* native_id() = 0;
};

// GTK when a display can be opened and QUORLA_HEADLESS is unset or empty; headless otherwise.
std::unique_ptr<dialog_host> make_dialog_host();
std::unique_ptr<dialog_host> make_headless_host();
// The platform's window host (GTK through its module on POSIX, Win32 on Windows); null when no
// display can be opened or the host cannot be loaded (logged).
std::unique_ptr<dialog_host> make_window_host();

// The host whose events pump_pending_events dispatches (set while a dialog runs).
void set_active_host(dialog_host* host);

}  // namespace host
