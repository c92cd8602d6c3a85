// quorla-launcher: started by the browser with the shop's protocol link. The entry point is the
// OS's (entry_posix.cpp, entry_win.cpp); what the process does is decided here, once.
#include <string>

#include "app/launcher_app.h"
#include "os/platform.h"
#include "update/launcher_identity.h"

namespace {

const char kUsage[] =
    "Usage: quorla-launcher 'SCHEME://key=KEY&svr=SERVER'\n"
    "       quorla-launcher --help | --version\n"
    "\n"
    "Opens a web shop's editor from one of the shop's links. The browser starts the launcher\n"
    "with the link; SERVER is the percent-encoded address of the shop's startup document,\n"
    "which the launcher asks for as SERVER?key=KEY&field=startup. It then brings the editor\n"
    "module up to date, runs it, delivers the cart key and opens the shop's return page.\n"
    "\n"
    "Without a display, or with QUORLA_HEADLESS=1, no window is shown and message boxes go\n"
    "to standard error. Every step and every failure is written to the log:\n"
    "  ${XDG_DATA_HOME:-~/.local/share}/QuorlaLauncher/log/YYYYMMDD.log (UTF-16), read with\n"
    "  iconv -f UTF-16 -t UTF-8 ~/.local/share/QuorlaLauncher/log/$(date +%Y%m%d).log\n"
    "\n"
    "Exit status: 0 when the run succeeded, 1 when it failed.\n"
    "See quorla-launcher(1).\n";

const char kWindowsUsage[] =
    "Usage: quorla-launcher.exe \"SCHEME://key=KEY&svr=SERVER\"\n"
    "       quorla-launcher.exe --help | --version\n"
    "\n"
    "Opens a web shop's editor from one of the shop's links. The browser starts the launcher\n"
    "with the link; SERVER is the percent-encoded address of the shop's startup document,\n"
    "which the launcher asks for as SERVER?key=KEY&field=startup. It then brings the editor\n"
    "module up to date, runs it, delivers the cart key and opens the shop's return page.\n"
    "\n"
    "With QUORLA_HEADLESS=1 no window is shown and message boxes go to standard error.\n"
    "Every step and every failure is written to the log (UTF-16):\n"
    "  %USERPROFILE%\\AppData\\LocalLow\\QuorlaLauncher\\log\\YYYYMMDD.log\n"
    "\n"
    "Exit status: 0 when the run succeeded, 1 when it failed.\n";

}  // namespace

int launcher_main(const std::u16string* sole_argument, const std::u16string& command_line) {
    // Options only as the sole argument: any other command line is a link, whatever it holds.
    if (sole_argument != nullptr && *sole_argument == u"--help") {
        // Each build names its own log place.
        show_text(os::path_separator() == u'\\' ? kWindowsUsage : kUsage);
        return 0;
    }
    if (sole_argument != nullptr && *sole_argument == u"--version") {
        show_text(std::string("quorla-launcher ") + launcher_version() + "\n");
        return 0;
    }
    prepare_process();
    CQuorlaLauncherApp app(command_line);
    app.InitInstance();
    return app.ExitInstance();
}
