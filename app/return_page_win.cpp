// The browser launch through the shell's execute service, in the three forms the shop's
// browsers are reached by: a browser executable with the address as its one parameter, the
// address itself opened with "open" (the default browser), and Edge's "microsoft-edge:" link.
#include <windows.h>
#include <shellapi.h>

#include "app/return_page.h"
#include "text/text.h"
#include "os/wide_path.h"

namespace {

// A program that ends in ':' is the prefix of a link that the shell opens ("microsoft-edge:").
bool is_link_prefix(const std::u16string& program) { return !program.empty() && program.back() == u':'; }

}  // namespace

// The empty program: the address is opened by the shell itself, with the handler registered for
// its scheme.
std::u16string default_address_handler() { return {}; }

std::vector<std::u16string> named_browser_programs(const std::u16string& agent) {
    if (equals_nocase(agent, u"ie") || equals_nocase(agent, u"explore")) return {u"iexplore.exe"};
    if (equals_nocase(agent, u"chrome") || equals_nocase(agent, u"chorme")) return {u"chrome.exe"};
    if (equals_nocase(agent, u"firefox")) return {u"firefox.exe"};
    if (equals_nocase(agent, u"safari") || equals_nocase(agent, u"sapari")) return {u"safari.exe"};
    if (equals_nocase(agent, u"opera")) return {u"opera.exe"};
    if (equals_nocase(agent, u"edge")) return {u"microsoft-edge:"};
    if (equals_nocase(agent, u"edg")) return {u"msedge.exe"};
    return {};
}

// Whether the shell can start it is known only by trying: it finds executables through the
// registered application paths as well as the search path.
bool program_available(const std::u16string&) { return true; }

// ShellExecuteExW is the service ShellExecuteW wraps, with the same verb, file, parameters, no
// owner, no working folder and SW_SHOWNORMAL; SEE_MASK_FLAG_NO_UI keeps the shell from showing
// an error box of its own when the browser is not there, so that the launcher can fall back to
// the default browser instead.
bool start_detached(const std::u16string& program, const std::u16string& argument) {
    std::u16string file, parameters;
    const wchar_t* verb = nullptr;
    if (program.empty()) {
        verb = L"open";
        file = argument;
    } else if (is_link_prefix(program)) {
        verb = L"open";
        file = program + argument;
    } else {
        file = program;
        parameters = argument;
    }
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = nullptr;
    info.lpVerb = verb;
    info.lpFile = os::wide(file);
    info.lpParameters = parameters.empty() ? nullptr : os::wide(parameters);
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}
