#pragma once
// The OS half of the log writer (log_writer_posix.cpp, later log_writer_win.cpp). It also
// defines LocalLowFolder (log_writer.h): the per-user data folder is an OS fact.
#include <string>

namespace logfile {
// Appends the UTF-16 line to the file, with a byte-order mark first when the file is empty.
// Failures are silent: the line is dropped.
void append_line(const std::u16string& path, const std::u16string& line);
}  // namespace logfile
