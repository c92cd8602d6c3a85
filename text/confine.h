#pragma once
// The one rule for names that must stay inside a folder: a module file, a manifest path, an
// archive entry or name, a startup document's module and install folder. Windows folds some
// spellings into others, so the rule refuses them on every platform: a path written for one
// system must not escape on the other.
#include <string_view>

// True when `relative`, joined below a folder, names that folder or something inside it:
// - not absolute: no leading separator (also UNC "\\server\share" and device paths
//   "\\?\", "\\.\"), no drive prefix ("C:x", "C:\x");
// - no step that leads up: "..", or any step of dots and spaces with at least two dots
//   ("...", ". .", ".. "), which Windows folds into ".." by dropping trailing dots and spaces
//   ("x.." only folds into "x", which stays inside);
// - no device name, which Windows opens whatever the folder: "CON", "nul.txt", "COM1", "LPT9.log".
// Both "/" and "\" separate steps. An empty path and "." steps stay inside.
bool path_stays_inside(std::u16string_view relative);
// The first half of that rule: a leading separator or a drive prefix.
bool path_is_absolute(std::u16string_view path);
