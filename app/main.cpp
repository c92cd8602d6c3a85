// quorla-launcher: started by the browser with the shop's protocol link.
#include "app/launcher_app.h"

int main(int argc, char** argv) {
    prepare_process();
    CQuorlaLauncherApp app(command_line_from(argc, argv));
    app.InitInstance();
    return app.ExitInstance();
}
