// Windows side of dynamic libraries: LoadLibraryExW, GetProcAddress, FreeLibrary.
#include <windows.h>

#include "os/library.h"
#include "os/system_error.h"
#include "os/wide_path.h"

namespace os {

library* load_library(const std::u16string& path, std::u16string& detail) {
    // The module's own folder is searched first for the DLLs it imports.
    HMODULE module = LoadLibraryExW(wide(path), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        const DWORD error = GetLastError();
        detail = system_error_message(error);
        SetLastError(error);
        return nullptr;
    }
    // A module may leave threads or callbacks behind after it is released; it stays mapped
    // until the process ends, as a released library's code may still be running.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(module), &pinned);
    return reinterpret_cast<library*>(module);
}

void* library_symbol(library* loaded, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(loaded), name));
}

void release_library(library* loaded) {
    if (loaded != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(loaded));
}

}  // namespace os
