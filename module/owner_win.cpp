#include <windows.h>

#include "module/owner.h"

// The progress window's native id is its window handle.
quorla_owner_window module_owner(host::window& window) {
    return static_cast<HWND>(window.native_id());
}
