#pragma once
// What the stages (update, editor module host, cart key delivery) may do with the progress
// window. They reach it only through this interface, as a Windows program sends messages to
// a window handle; they never see the dialog class.
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// The private progress message: word parameter = steps in all, long parameter = steps done.
constexpr uint32_t WM_JOB_PROGRESS = 0x400 + 1001;  // 0x7E9

enum class box_style { ok_exclamation, yes_no_exclamation };
enum class box_answer { ok, yes, no };

class window {
public:
    virtual ~window() = default;
    // Synchronous send: the dialog's handler has run when this returns; its result is returned.
    virtual intptr_t send_message(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
    // Modal message box owned by this window; the caller waits for the answer.
    virtual box_answer message_box(std::u16string_view text, std::u16string_view caption,
                                   box_style style) = 0;
    // The native window id handed to the editor module (the X11 window id), or null.
    virtual void* native_id() = 0;
    // Shrink to 1 x 1 pixels where it stands, then centre on the screen.
    virtual void shrink_and_center() = 0;
};

// Dispatches every pending event of the active dialog host and returns when none is left.
// A quit request is not dispatched. Does nothing when no host is active.
void pump_pending_events();

}  // namespace host
