#pragma once
// The GTK host, inside its loadable module (dialog_host_gtk_module.cpp) and its own tests.
#include <memory>

#include "host/dialog_host.h"

namespace host {

// Null when no display can be opened. `set_active` is the launcher's set_active_host: the
// module keeps no active host of its own.
std::unique_ptr<dialog_host> make_gtk_host(void (*set_active)(dialog_host*));

}  // namespace host
