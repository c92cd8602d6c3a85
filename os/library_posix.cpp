#include <dlfcn.h>

#include <cerrno>

#include "os/library.h"
#include "os/platform.h"
#include "os/posix_path.h"
#include "text/text.h"

namespace os {

library* load_library(const std::u16string& path, std::u16string& detail) {
    errno = 0;
    void* handle = ::dlopen(native_path(path).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const int error = errno != 0 ? errno : ENOENT;
        const char* text = ::dlerror();
        detail = text ? to_wide_acp(text) : std::u16string();
        errno = error;
    }
    return static_cast<library*>(handle);
}

void* library_symbol(library* loaded, const char* name) {
    ::dlerror();
    void* address = ::dlsym(loaded, name);
    if (address == nullptr) errno = ENOENT;
    return address;
}

void release_library(library* loaded) {
    if (loaded != nullptr) ::dlclose(loaded);
}

}  // namespace os
