#pragma once
// The application object: places the log, runs the progress window modally, and closes the
// log at exit.
#include <string>

class CQuorlaLauncherApp {
public:
    explicit CQuorlaLauncherApp(std::u16string command_line) : m_commandLine(std::move(command_line)) {}
    // The whole life of the launcher; always false, so that the process ends afterwards.
    bool InitInstance();
    int ExitInstance();

private:
    std::u16string m_commandLine;
};

// The arguments joined with single spaces, program path first: the process command line.
std::u16string command_line_from(int argc, char** argv);

// Process-wide settings made once before anything else runs (signal dispositions on POSIX).
void prepare_process();
