#pragma once
// The program's pictures and icon: "IDB_BGD_PROG1_NOR", "IDB_BGD_PROG2_NOR" and
// "IDB_STT_PROG_NOR" (24-bit bitmaps) and "IDI_APP" (the application icon, PNG bytes).
// On POSIX they are embedded into the binary at build time (resources_posix.cpp); on Windows
// they are the executable's own resources (resources_win.cpp, quorla-launcher.rc.in), the
// bitmaps without the file header, which host::load_bmp reads as well.
#include <cstddef>
#include <string_view>

struct embedded_resource {
    const char* name;
    const unsigned char* data;
    size_t size;
};

// The resource of that name, or an entry with null data. The bytes live as long as the
// program.
embedded_resource find_resource(std::string_view name);
