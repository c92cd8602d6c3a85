#include "app/launcher_app.h"

#include "app/launcher_dlg.h"
#include "log/clock.h"
#include "log/log_writer.h"
#include "text/platform.h"

bool CQuorlaLauncherApp::InitInstance() {
    // There is no COM to start on this platform, so the start-up has no failure of its own
    // before the log is placed.
    const std::u16string separator(1, path_separator());
    const std::u16string log_folder =
        LocalLowFolder() + separator + u"QuorlaLauncher" + separator + u"log" + separator;
    EnsureDirectory(log_folder);
    const local_time today = local_now();
    auto& log = LogWriter::Instance();
    log.SetName(u"QuorlaLauncher");
    log.SetPath(format16(u"%s%04d%02d%02d.log", log_folder, today.year, today.month, today.day));
    log.Write(u" ");
    log.Write(u" ");
    log.Write(u"* 런처 시작 ********************");

    auto host = host::make_dialog_host();
    {
        CQuorlaLauncherDlg dialog(*host, m_commandLine);
        dialog.DoModal();
    }
    return false;
}

int CQuorlaLauncherApp::ExitInstance() {
    LogWriter::Destroy();
    return 0;
}
