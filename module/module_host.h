#pragma once
// Runs the editor module: loads its library from the install folder, hands it the startup
// document's settings, calls the work export the work mode names, and takes its result text.
#include <string>

#include "host/window.h"
#include "os/library.h"
#include "startup/startup_file.h"

bool run_editor_module(host::window* window, const startup_file_xml& startup,
                       const std::u16string& module_file, std::u16string& result);

bool drive_editor_module(host::window* window, os::library* library,
                         const startup_file_xml& startup, std::u16string& result);

// Module libraries loaded and not yet released by this process (for the tests: every run
// releases its library, whatever the outcome).
int held_module_libraries();

// The text between the first "//" and the next "/" (or the end); empty without "//".
std::u16string config_host_of(const std::u16string& config_url);
