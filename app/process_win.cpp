#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <ole2.h>

#include <cstdio>

#include "app/launcher_app.h"

void prepare_process() {
    // A missing DLL, an empty drive or a bad disk is a failure the launcher logs, never a
    // system dialog that waits for the customer (or for nobody, in an automated run).
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Lines written to standard error (headless message boxes, the failure hint) end in "\n"
    // as on every other platform, not "\r\n".
    if (_fileno(stderr) >= 0) _setmode(_fileno(stderr), _O_BINARY);
}

std::u16string command_line_from(int, char**) {
    // The command line as the browser gave it, whatever the C runtime made of it.
    return reinterpret_cast<const char16_t*>(GetCommandLineW());
}

bool start_ole() { return SUCCEEDED(OleInitialize(nullptr)); }

void end_ole() { OleUninitialize(); }
