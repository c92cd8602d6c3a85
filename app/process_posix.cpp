#include <csignal>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/launcher_app.h"
#include "os/posix_path.h"

void prepare_process() {
    // A write past a file size limit must fail like a full disk (and be logged as such), not
    // end the process in the middle of an update. A peer that closes early must not either.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
#if defined(__GLIBC__)
    // Documents up to 16 MiB are fetched and decoded again on every attempt (the cart answer
    // up to eleven times). Blocks of that size are kept for reuse instead of being handed back
    // and faulted in afresh each time: half the CPU time on hostile answers, the same peak.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
#endif
}

std::u16string command_line_from(int argc, char** argv) {
    std::u16string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) line += u' ';
        line += os::from_native_path(argv[i]);
    }
    return line;
}

bool start_ole() { return true; }

void end_ole() {}
