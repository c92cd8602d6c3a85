#include "module/owner.h"

// The X11 window id (or null) is the owner as it stands.
quorla_owner_window module_owner(host::window& window) {
    return window.native_id();
}
