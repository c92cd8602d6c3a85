#include "app/return_page.h"

#include "inet/allowed_servers.h"
#include "log/log_writer.h"
#include "os/platform.h"
#include "text/text.h"

namespace {

std::function<bool(const std::u16string&, const std::u16string&)> test_launcher;

launch_plan open_address(const std::u16string& url) {
    return {launch_plan::kind::open_address, {default_address_handler()}, url};
}

launch_plan start(std::vector<std::u16string> programs, const std::u16string& url) {
    return {launch_plan::kind::start_executable, std::move(programs), url};
}

// A program the shop may name for its page: an absolute path on this machine ("/..." on
// POSIX, "X:\\..." on Windows). A relative path would be looked up wherever the launcher
// happens to run, and a network path ("\\\\server\\share\\...") runs a program from elsewhere.
bool is_absolute_local_path(const std::u16string& path) {
    const auto separator = [](char16_t c) { return c == u'/' || c == u'\\'; };
    if (path.size() >= 2 && separator(path[0]) && separator(path[1])) return false;
    if (os::path_separator() == u'/') return !path.empty() && path[0] == u'/';
    const char16_t drive = path.empty() ? u'\0' : static_cast<char16_t>(path[0] | 0x20);
    return path.size() >= 3 && drive >= u'a' && drive <= u'z' && path[1] == u':' &&
           separator(path[2]);
}

bool launch(const std::u16string& program, const std::u16string& argument) {
    if (test_launcher) return test_launcher(program, argument);
    return start_detached(program, argument);
}

}  // namespace

void set_launcher_for_tests(std::function<bool(const std::u16string&, const std::u16string&)> launcher) {
    test_launcher = std::move(launcher);
}

launch_plan choose_launch(const std::u16string& url, const std::u16string& agent,
                          const std::u16string& agent_type) {
    if (url.empty()) return {};
    if (!agent_type.empty() && !equals_nocase(agent_type, u"id")) {
        if (!equals_nocase(agent_type, u"file")) return {};
        if (agent.size() >= 4 && ends_with_nocase(agent, u".exe")) {
            if (is_absolute_local_path(agent)) return start({agent}, url);
            LogWriter::Instance().Write(
                u"* 오류: 브라우저 파일은 이 컴퓨터의 절대 경로여야 합니다. (agent:%s)", agent);
        }
        return open_address(url);
    }
    // Named browsers, by their programs on this system. A name with none gets the default
    // handler, and so does a named browser that is not installed, so that the customer always
    // gets the shop page back.
    std::vector<std::u16string> programs = named_browser_programs(agent);
    if (!programs.empty()) return start(std::move(programs), url);
    return open_address(url);
}

void open_return_page(const std::u16string& return_url, const std::u16string& agent,
                      const std::u16string& agent_type) {
    if (!return_url.empty() && !inet::server_allowed(return_url)) {
        LogWriter::Instance().Write(u"* 오류: 허용되지 않은 서버입니다. (url:%s)", return_url);
        return;
    }
    const launch_plan plan = choose_launch(return_url, agent, agent_type);
    switch (plan.what) {
        case launch_plan::kind::nothing:
            return;
        case launch_plan::kind::open_address:
            launch(plan.programs.front(), plan.argument);
            return;
        case launch_plan::kind::start_executable: {
            const bool named = !equals_nocase(agent_type, u"file");
            for (const auto& program : plan.programs)
                if ((test_launcher || !named || program_available(program)) && launch(program, plan.argument))
                    return;
            if (named) launch(default_address_handler(), plan.argument);
            return;
        }
    }
}
