#include <dlfcn.h>

#include <cerrno>

#include "log/library.h"
#include "text/platform.h"
#include "text/posix_path.h"
#include "text/text.h"

namespace dynamic_library {

handle* load(const std::u16string& path, std::u16string& detail) {
    errno = 0;
    void* library = ::dlopen(native_path(path).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const int error = errno != 0 ? errno : ENOENT;
        const char* text = ::dlerror();
        detail = text ? to_wide_acp(text) : std::u16string();
        errno = error;
    }
    return static_cast<handle*>(library);
}

void* symbol(handle* library, const char* name) {
    ::dlerror();
    void* address = ::dlsym(library, name);
    if (address == nullptr) errno = ENOENT;
    return address;
}

void release(handle* library) {
    if (library != nullptr) ::dlclose(library);
}

}  // namespace dynamic_library
