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
    bool m_oleStarted = false;
};

// The life of the process after its entry point (main.cpp): --help or --version when it is the
// sole argument (null when there is not exactly one argument), otherwise the launcher's run on
// the command line. Returns the exit status.
int launcher_main(const std::u16string* sole_argument, const std::u16string& command_line);

// The OS half (process_posix.cpp, process_win.cpp) -----------------------------------------
// The process command line: on POSIX the arguments joined with single spaces, program path
// first; on Windows GetCommandLineW, whatever main was given.
std::u16string command_line_from(int argc, char** argv);

// Process-wide settings made once before anything else runs (signal dispositions on POSIX,
// no system error boxes on Windows).
void prepare_process();

// COM/OLE for the user-interface thread (OleInitialize on Windows; nothing to do on POSIX);
// false when it cannot be started. end_ole undoes a successful start.
bool start_ole();
void end_ole();

// The entry point's OS half (entry_posix.cpp, entry_win.cpp) --------------------------------
// Shows the text of --help or --version: standard output on POSIX; on Windows the console of
// the caller when there is one, otherwise a message box.
void show_text(const std::string& text);
