#pragma once
// The application object: places the log, runs the progress window modally, and closes the
// log at exit.
#include <string>

class CQuorlaLauncherApp {
public:
    explicit CQuorlaLauncherApp(std::u16string command_line) : m_commandLine(std::move(command_line)) {}
    // The whole life of the launcher; always false, so that the process ends afterwards.
    bool InitInstance();
    // The process exit status: 0 after a successful run, 1 after a failed one.
    int ExitInstance();

private:
    std::u16string m_commandLine;
    int m_exitCode = 1;
};

// The OS half (process_posix.cpp, process_win.cpp) -----------------------------------------
// The process command line: on POSIX the arguments joined with single spaces, program path
// first; on Windows GetCommandLineW, whatever main was given.
std::u16string command_line_from(int argc, char** argv);

// Process-wide settings made once before anything else runs (signal dispositions on POSIX).
void prepare_process();
