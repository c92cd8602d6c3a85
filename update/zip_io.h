#pragma once
// minizip opens archives through this file-function table, given the archive's wide path
// (a zero-terminated char16_t string) as its file name, so that no narrow path is involved.
// One half per OS: zip_io_posix.cpp (stdio), zip_io_win.cpp (minizip's wide Win32 functions).
#include <ioapi.h>

void fill_zip_file_functions(zlib_filefunc64_def* functions);
