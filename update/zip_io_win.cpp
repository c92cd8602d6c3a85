// minizip's own Win32 file functions with wide names: the archive's path reaches
// CreateFileW as it is.
#include "update/zip_io.h"

// Newer zlib headers no longer define the old prototype macro this header still uses.
#ifndef OF
#define OF(args) args
#endif
#include <iowin32.h>

void fill_zip_file_functions(zlib_filefunc64_def* functions) {
    fill_win32_filefunc64W(functions);
}
