#pragma once
// Brings the customer back to the shop: opens the return address in the browser that the
// startup document names.
#include <functional>
#include <string>
#include <vector>

// How the address is to be opened.
struct launch_plan {
    enum class kind { nothing, start_executable, open_address } what = kind::nothing;
    // start_executable: the programs to try in order (a name found on PATH, or a full path),
    // each started with the address as its one argument.
    std::vector<std::u16string> programs;
    std::u16string argument;
};

// The portable choice, from the address, `agent` and `agent_type`.
launch_plan choose_launch(const std::u16string& return_url, const std::u16string& agent,
                          const std::u16string& agent_type);

// Chooses and launches; the outcome is not looked at.
void open_return_page(const std::u16string& return_url, const std::u16string& agent,
                      const std::u16string& agent_type);

// The OS half (return_page_posix.cpp, return_page_win.cpp) --------------------------------
// The program that opens a web address in the user's default browser.
std::u16string default_address_handler();
// The programs that stand for a named browser (`agent` "chrome", "firefox", ...) on this
// system, in order of preference; empty when the name has none here.
std::vector<std::u16string> named_browser_programs(const std::u16string& agent);
// Starts `program` detached with one argument; false when it cannot be started.
bool start_detached(const std::u16string& program, const std::u16string& argument);
// Whether a program name can be found (on PATH, or as a path to an executable file).
bool program_available(const std::u16string& program);

// Tests only: receives every launch instead of the OS (an empty function restores it).
void set_launcher_for_tests(std::function<bool(const std::u16string&, const std::u16string&)> launcher);
