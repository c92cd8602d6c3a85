#pragma once
// Puts a finished file in place of another in one step (rename, MoveFileExW with
// MOVEFILE_REPLACE_EXISTING): a reader finds the old file or the new one, never half of
// either. One half per OS (replace_file_posix.cpp, replace_file_win.cpp).
#include <string>

namespace os {

// Moves `from` onto `to` on the same volume, replacing a file there; false with the system
// error set when it cannot.
bool replace_file(const std::u16string& from, const std::u16string& to);

}  // namespace os
