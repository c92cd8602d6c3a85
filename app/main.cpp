// quorla-launcher: started by the browser with the shop's protocol link.
#include <cstdio>
#include <cstring>

#include "app/launcher_app.h"
#include "quorla_config.h"

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

}  // namespace

int main(int argc, char** argv) {
    // Options only as the sole argument: any other command line is a link, whatever it holds.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quorla-launcher %s\n", QUORLA_VERSION);
        return 0;
    }
    prepare_process();
    CQuorlaLauncherApp app(command_line_from(argc, argv));
    app.InitInstance();
    return app.ExitInstance();
}
