// The one place that chooses the host, and the active host the event pump dispatches to.
#include "host/dialog_host.h"
#include "os/platform.h"

namespace host {

namespace {
dialog_host* active = nullptr;
}

void set_active_host(dialog_host* host) { active = host; }

void pump_pending_events() {
    if (active != nullptr) active->pump_pending();
}

std::unique_ptr<dialog_host> make_dialog_host() {
    if (os::environment_variable(u"QUORLA_HEADLESS").empty()) {
        if (auto window = make_window_host()) return window;
    }
    return make_headless_host();
}

}  // namespace host
