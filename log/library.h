#pragma once
// Loading a dynamic library (dlopen; LoadLibraryExW in library_win.cpp). The handle stays opaque.
#include <string>

namespace dynamic_library {

struct handle;

// Loads with immediate binding; null on failure, with the system error set and the loader's
// own text in `detail`.
handle* load(const std::u16string& path, std::u16string& detail);
// The export's address, or null with the system error set.
void* symbol(handle* library, const char* name);
// Gives the handle back; the code stays mapped until the process ends (threads the library
// started may outlive the release).
void release(handle* library);

}  // namespace dynamic_library
