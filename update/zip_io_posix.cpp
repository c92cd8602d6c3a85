// minizip's stdio file functions, opening the file through the OS layer.
#include <string>

#include "os/file_io.h"
#include "update/zip_io.h"

namespace {

voidpf ZCALLBACK open_wide(voidpf, const void* filename, int mode) {
    if (filename == nullptr) return nullptr;
    const char* how = nullptr;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ)
        how = "rb";
    else if (mode & ZLIB_FILEFUNC_MODE_EXISTING)
        how = "r+b";
    else if (mode & ZLIB_FILEFUNC_MODE_CREATE)
        how = "wb";
    if (how == nullptr) return nullptr;
    return os::open_file(std::u16string(static_cast<const char16_t*>(filename)), how);
}

}  // namespace

void fill_zip_file_functions(zlib_filefunc64_def* functions) {
    fill_fopen64_filefunc(functions);
    functions->zopen64_file = open_wide;
}
