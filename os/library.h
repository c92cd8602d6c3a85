#pragma once
// Loading a dynamic library (dlopen in library_posix.cpp; LoadLibraryExW in library_win.cpp).
// The handle stays opaque.
#include <string>

namespace os {

struct library;

// Loads with immediate binding; null on failure, with the system error set and the loader's
// own text in `detail`.
library* load_library(const std::u16string& path, std::u16string& detail);
// The export's address, or null with the system error set.
void* library_symbol(library* loaded, const char* name);
// Gives the handle back; the code stays mapped until the process ends (threads the library
// started may outlive the release).
void release_library(library* loaded);

}  // namespace os
