// The GTK host as a loadable module. GTK pulls in some seventy libraries whose loading alone
// costs a headless run about three times the rest of its start-up, so the launcher loads this
// module only when it is about to open a window (window_host_posix.cpp).
#include "host/dialog_host.h"

namespace host {

namespace {
void (*forward_active)(dialog_host*) = nullptr;
}

// The active host lives in the launcher's event pump, not in a copy inside this module.
void set_active_host(dialog_host* host) {
    if (forward_active != nullptr) forward_active(host);
}

}  // namespace host

// Null when no display can be opened. The caller owns the host.
extern "C" __attribute__((visibility("default"))) host::dialog_host* quorla_gtk_host_open(
    void (*set_active)(host::dialog_host*)) {
    host::forward_active = set_active;
    return host::make_gtk_host().release();
}
