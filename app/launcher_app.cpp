#include "app/launcher_app.h"

#include <cstdio>

#include "app/launcher_dlg.h"
#include "inet/trust_settings.h"
#include "log/log_writer.h"
#include "os/clock.h"
#include "os/platform.h"
#include "text/text.h"
#include "update/files.h"

namespace {

// The application's default caption: the executable's file name without folder and extension.
std::u16string application_name() { return os::executable_base_name(); }

}  // namespace

bool CQuorlaLauncherApp::InitInstance() {
    // COM for the thread (the shell's execute service may hand the return page to a shell
    // extension); POSIX has nothing to start. Nothing is logged: the log is not placed yet.
    if (!start_ole()) {
        host::make_dialog_host()->message_box(u"AfxOleInit Error!", application_name(),
                                              host::box_style::ok_exclamation);
        return false;
    }
    m_oleStarted = true;
    const std::u16string separator(1, os::path_separator());
    const std::u16string log_folder =
        LocalLowFolder() + separator + u"QuorlaLauncher" + separator + u"log" + separator;
    EnsureDirectory(log_folder);
    const os::local_time today = os::local_now();
    auto& log = LogWriter::Instance();
    log.SetName(u"QuorlaLauncher");
    log.SetPath(format16(u"%s%04d%02d%02d.log", log_folder, today.year, today.month, today.day));
    log.Write(u" ");
    log.Write(u" ");
    log.Write(u"* 런처 시작 ********************");
    // An open package for demos says so in every log it writes.
    if (inet::builtin_trust_settings().insecure_package)
        log.Write(
            u"*경고 : 보안 설정이 없는 데모용 런처입니다. (insecure demo build: any server, "
            u"unsigned updates)");

    auto host = host::make_dialog_host();
    int end_code = host::dialog_cancel;
    {
        CQuorlaLauncherDlg dialog(*host, m_commandLine);
        end_code = dialog.DoModal();
    }
    // The browser ignores the status; scripts and shop developers running the launcher rely
    // on it, and without a window the log is the only place that says what went wrong.
    m_exitCode = end_code == host::dialog_ok ? 0 : 1;
    if (m_exitCode != 0 && host->headless()) {
        const std::u16string log_path = log.Path();
        const bool logged = file_exists(log_path);
        std::fprintf(stderr, "quorla-launcher: the run failed; %s: %s\n",
                     logged ? "the log says why" : "its log could not be written", to_utf8(log_path).c_str());
        if (m_commandLine.find(u"://") == std::u16string::npos)
            std::fputs("quorla-launcher: no link on the command line; see quorla-launcher --help\n", stderr);
    }
    return false;
}

int CQuorlaLauncherApp::ExitInstance() {
    LogWriter::Destroy();
    if (m_oleStarted) end_ole();
    return m_exitCode;
}
