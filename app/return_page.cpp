#include "app/return_page.h"

#include "text/text.h"

namespace {

std::function<bool(const std::u16string&, const std::u16string&)> test_launcher;

// The default handler for web addresses.
const char16_t kDefaultHandler[] = u"xdg-open";

launch_plan open_address(const std::u16string& url) {
    return {launch_plan::kind::open_address, {kDefaultHandler}, url};
}

launch_plan start(std::vector<std::u16string> programs, const std::u16string& url) {
    return {launch_plan::kind::start_executable, std::move(programs), url};
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
        if (agent.size() >= 4 && ends_with_nocase(agent, u".exe")) return start({agent}, url);
        return open_address(url);
    }
    // Named browsers, by their commands here. Browsers that have no build for this system
    // ("ie", "safari") get the default handler, and so does a named browser that is not
    // installed, so that the customer always gets the shop page back.
    if (equals_nocase(agent, u"chrome") || equals_nocase(agent, u"chorme"))
        return start({u"google-chrome", u"chromium", u"chromium-browser"}, url);
    if (equals_nocase(agent, u"firefox")) return start({u"firefox"}, url);
    if (equals_nocase(agent, u"opera")) return start({u"opera"}, url);
    // "microsoft-edge:" means nothing here; Edge opens the address itself.
    if (equals_nocase(agent, u"edge") || equals_nocase(agent, u"edg")) return start({u"microsoft-edge"}, url);
    return open_address(url);
}

void open_return_page(const std::u16string& return_url, const std::u16string& agent,
                      const std::u16string& agent_type) {
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
            if (named) launch(kDefaultHandler, plan.argument);
            return;
        }
    }
}
