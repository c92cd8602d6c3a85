// Loads the GTK host module on first use; see gtk_plugin.cpp for why it is separate.
#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "host/dialog_host.h"
#include "log/log_writer.h"
#include "text/text.h"

namespace host {

namespace {

using open_function = dialog_host* (*)(void (*)(dialog_host*));

std::string executable_folder() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return {};
    path.resize(static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

// The module sits in lib/ beside bin/ in the build tree, in the installed library folder
// relative to the installed executable, or beside the executable.
open_function load_module() {
    const std::string folder = executable_folder();
    std::string error;
    for (const std::string& candidate :
         {folder + "../lib/" QUORLA_GTK_HOST_MODULE,
          folder + "../" QUORLA_GTK_HOST_INSTALL_DIR "/" QUORLA_GTK_HOST_MODULE,
          folder + QUORLA_GTK_HOST_MODULE}) {
        // Never closed: GTK cannot be unloaded once initialised.
        void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            if (error.empty()) error = dlerror();
            continue;
        }
        if (auto open = reinterpret_cast<open_function>(dlsym(module, "quorla_gtk_host_open")))
            return open;
        error = candidate + ": no quorla_gtk_host_open";
    }
    LogWriter::Instance().Write(u"GTK host module not loaded, running without a window (%s)",
                                from_utf8(error));
    return nullptr;
}

}  // namespace

std::unique_ptr<dialog_host> make_gtk_host() {
    static const open_function open = load_module();
    if (open == nullptr) return nullptr;
    return std::unique_ptr<dialog_host>(open(&set_active_host));
}

}  // namespace host
