#pragma once
// Opening files by their wide (UTF-16) path. Every file the launcher reads or writes whole is
// opened here, so that no portable file needs a narrow path: on Windows a narrow path would
// be read in the ANSI code page. One half per OS (file_io_posix.cpp, file_io_win.cpp).
#include <cstdio>
#include <string>
#include <string_view>

namespace os {

// A C stdio stream; `mode` is fopen's ("rb", "wb", "ab", "r"). Null with the system error set.
std::FILE* open_file(const std::u16string& path, const char* mode);
// Creates a new file that only the user may read and write; null when it exists already.
std::FILE* create_private_file(const std::u16string& path);
// Appends `bytes` to the file (created when missing), with `first` before them when the file
// is empty, under an exclusive lock that other processes appending the same way respect, so
// two appends never interleave. False when the file cannot be opened or written.
bool append_locked(const std::u16string& path, std::string_view first, std::string_view bytes);

}  // namespace os
