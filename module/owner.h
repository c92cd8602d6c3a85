#pragma once
// The owner handed to the editor module's Initialize: the progress window's native id in the
// module header's own type (void* on POSIX, HWND on Windows). One half per OS
// (owner_posix.cpp, owner_win.cpp), so that the core never casts it.
#include "host/window.h"
#include "module/editor_module.h"

quorla_owner_window module_owner(host::window& window);
