#pragma once
// The sample editor's OS half: its one window, and files named in UTF-8.
#include <cstdio>
#include <string>

#include "module/editor_module.h"

// Whether a window can be shown with that owner (a display that opens, a window that exists).
bool can_show_window(quorla_owner_window owner);
// Asks the customer to finish or cancel, in a small modal window above the launcher's (owned
// by it); `text` is UTF-8. True for "finish".
bool customer_finishes(quorla_owner_window owner, const std::string& text);
// Opens the file of that UTF-8 name for appending bytes; null when it cannot.
std::FILE* open_for_append(const std::string& path);
