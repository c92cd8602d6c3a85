#pragma once
// The one rule for names that must stay inside a folder: a module file, a manifest path, an
// archive entry or name, a startup document's module and install folder. Windows folds some
// spellings into others, so the rule refuses them on every platform: a path written for one
// system must not escape on the other.
#include <string_view>

// True when `relative`, joined below a folder, names that folder or something inside it:
// - not absolute: no leading separator (also UNC "\\server\share" and device paths
//   "\\?\", "\\.\"), no drive prefix ("C:x", "C:\x");
// - no step that leads up or is read as another name: "..", a step ending in a dot or a space
//   ("...", ". .", "x.", "x ", which Windows reads without them), and no device name ("CON",
//   "nul.txt", "COM1", "LPT9.log").
// Both "/" and "\" separate steps. An empty path and "." steps stay inside.
bool path_stays_inside(std::u16string_view relative);
// The first half of that rule: a leading separator or a drive prefix.
bool path_is_absolute(std::u16string_view path);
