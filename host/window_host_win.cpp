// The window host on Windows. Until the Win32 dialog host is written, there is no window: the
// headless host runs the job sequence instead (make_dialog_host falls back to it).
#include "host/dialog_host.h"
#include "log/log_writer.h"

namespace host {

std::unique_ptr<dialog_host> make_gtk_host() { return nullptr; }

std::unique_ptr<dialog_host> make_window_host() {
    LogWriter::Instance().Write(u"Win32 window host not built, running without a window");
    return nullptr;
}

}  // namespace host
