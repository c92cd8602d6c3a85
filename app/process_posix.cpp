#include <csignal>

#include "app/launcher_app.h"
#include "text/posix_path.h"

void prepare_process() {
    // A write past a file size limit must fail like a full disk (and be logged as such), not
    // end the process in the middle of an update. A peer that closes early must not either.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

std::u16string command_line_from(int argc, char** argv) {
    std::u16string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) line += u' ';
        line += from_native_path(argv[i]);
    }
    return line;
}
