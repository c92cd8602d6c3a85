// The window host on POSIX: the GTK host module, loaded on first use (see
// dialog_host_gtk_module.cpp for why it is separate).
#include <string>

#include "host/dialog_host.h"
#include "os/library.h"
#include "log/log_writer.h"
#include "quorla_config.h"
#include "os/platform.h"
#include "text/text.h"

namespace host {

namespace {

using open_function = dialog_host* (*)(void (*)(dialog_host*));

// The module sits in lib/ beside bin/ in the build tree, in the installed library folder
// relative to the installed executable, or beside the executable.
open_function load_module() {
    const std::u16string folder = os::executable_folder();
    const std::u16string module = from_utf8(QUORLA_GTK_HOST_MODULE);
    std::u16string error;
    for (const std::u16string& candidate :
         {folder + u"../lib/" + module,
          folder + u"../" + from_utf8(QUORLA_GTK_HOST_INSTALL_DIR) + u"/" + module,
          folder + module}) {
        // Never released: GTK cannot be unloaded once initialised.
        std::u16string detail;
        os::library* library = os::load_library(candidate, detail);
        if (library == nullptr) {
            if (error.empty()) error = detail;
            continue;
        }
        if (auto open = reinterpret_cast<open_function>(
                os::library_symbol(library, "quorla_gtk_host_open")))
            return open;
        error = candidate + u": no quorla_gtk_host_open";
    }
    LogWriter::Instance().Write(u"GTK host module not loaded, running without a window (%s)",
                                error);
    return nullptr;
}

}  // namespace

std::unique_ptr<dialog_host> make_window_host() {
    static const open_function open = load_module();
    if (open == nullptr) return nullptr;
    return std::unique_ptr<dialog_host>(open(&set_active_host));
}

}  // namespace host
