#include <cstdlib>

#include "host/dialog_host.h"

namespace host {

namespace {
dialog_host* active = nullptr;
}

void set_active_host(dialog_host* host) { active = host; }

void pump_pending_events() {
    if (active != nullptr) active->pump_pending();
}

std::unique_ptr<dialog_host> make_dialog_host() {
    const char* headless = std::getenv("QUORLA_HEADLESS");
    if (headless == nullptr || *headless == '\0') {
        if (auto gtk = make_gtk_host()) return gtk;
    }
    return make_headless_host();
}

}  // namespace host
