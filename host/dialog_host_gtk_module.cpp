// The GTK host as a loadable module. GTK pulls in some seventy libraries whose loading alone
// costs a headless run about three times the rest of its start-up, so the launcher loads this
// module only when it is about to open a window (dialog_host_posix.cpp).
#include "host/dialog_host_gtk.h"

// Null when no display can be opened. The caller owns the host; the active host lives in the
// launcher's event pump, not in a copy inside this module.
extern "C" __attribute__((visibility("default"))) host::dialog_host* quorla_gtk_host_open(
    void (*set_active)(host::dialog_host*)) {
    return host::make_gtk_host(set_active).release();
}
