#pragma once
// What the log tests need of the OS, one half per platform (log_writer_<os>_test.cpp).
#include <string>

// The system's text for "that path leads through a file", as SystemErrorText gives it.
std::u16string not_a_folder_text();
// Runs `processes` other processes at once, each appending `lines` log lines to `path`, and
// waits for them all (test failures when one does not end well).
void run_appenders(const std::u16string& path, int processes, int lines);
