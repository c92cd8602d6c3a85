#pragma once
// The OS half of the log writer (log_writer_posix.cpp, later log_writer_win.cpp).
#include <string>

namespace logfile {
// Appends the UTF-16 line to the file, with a byte-order mark first when the file is empty.
// Failures are silent: the line is dropped.
void append_line(const std::u16string& path, const std::u16string& line);
bool is_folder(const std::u16string& path);
// One level; the result is not needed by callers that ignore it.
bool create_one_folder(const std::u16string& path);
// Every missing level; false with the system error set when the folder cannot be made.
bool create_folder_levels(const std::u16string& path);
// Value of an environment variable, empty when unset.
std::u16string environment(const char* name);
}  // namespace logfile
