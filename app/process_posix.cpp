#include <csignal>

#include "app/launcher_app.h"

void prepare_process() {
    // A write past a file size limit must fail like a full disk (and be logged as such), not
    // end the process in the middle of an update. A peer that closes early must not either.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}
