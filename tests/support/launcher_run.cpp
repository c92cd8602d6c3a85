#include "tests/support/launcher_run.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "os/clock.h"
#include "tests/support/archives.h"
#include "text/text.h"

namespace fs = std::filesystem;

namespace test_support {

fs::path built_program(const std::string& name) {
    const char* build = std::getenv("QUORLA_BINARY_DIR");
    return fs::path(build ? build : ".") / "bin" / name;
}

const launcher_target& launcher_under_test() {
    static const launcher_target target = [] {
        launcher_target t;
        const char* windows = std::getenv("QUORLA_WINDOWS_BINARY_DIR");
        if (windows == nullptr || *windows == 0) return t;
        t.windows = true;
        t.windows_build = windows;
        t.wine_prefix = t.windows_build / "wine-e2e";
        return t;
    }();
    return target;
}

fs::path launcher_target::data_folder(const fs::path& data) const {
    if (!windows) return data;
    const char* user = std::getenv("USER");
    return wine_prefix / "drive_c" / "users" / (user != nullptr && *user != 0 ? user : "root") / "AppData" /
           "LocalLow";
}

std::string launcher_target::module_file() const {
    return windows ? "quorla_sample_editor.dll" : "libquorla_sample_editor.so";
}

fs::path launcher_target::built_module() const {
    return (windows ? windows_build : built_program("").parent_path().parent_path()) / "lib" / module_file();
}

std::string launcher_target::native_path(const fs::path& path) const {
    if (!windows) return path.string();
    // wine's drive Z: is the root of the build machine's file system.
    std::string name = "Z:" + fs::absolute(path).string();
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

fs::path launcher_target::make_browser(const fs::path& program) const {
    if (windows) {
        fs::copy_file(windows_build / "bin" / "browser-recorder.exe", program, fs::copy_options::overwrite_existing);
        return fs::path(program).replace_extension(".txt");
    }
    fs::path record = fs::path(program).replace_extension(".txt");
    std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << record.string() << "'\n";
    fs::permissions(program, fs::perms::owner_all);
    return record;
}

std::vector<std::string> launcher_target::command(const std::vector<std::string>& arguments,
                                                  const std::string& test_launcher) const {
    std::vector<std::string> argv;
    if (windows)
        argv = {(fs::path(std::getenv("QUORLA_SOURCE_DIR")) / "scripts" / "wine-run").string(),
                wine_prefix.string(),
                (test_launcher.empty() ? windows_build / "bin" / "quorla-launcher.exe"
                                       : windows_build / "tests" / (test_launcher + ".exe"))
                    .string()};
    else
        argv = {(test_launcher.empty()
                     ? built_program("quorla-launcher")
                     : built_program("").parent_path().parent_path() / "tests" / test_launcher)
                    .string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

std::string read_text(const fs::path& path) {
    return read_file_bytes(path.string());
}

size_t count_of(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

std::string percent_encode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string launcher_link(const std::string& startup_url, const std::string& key) {
    return "quorla://key=" + key + "&svr=" + percent_encode(startup_url);
}

run_result run_launcher(const fs::path& data, const std::string& link,
                        std::map<std::string, std::string> env, int seconds) {
    run_options options;
    options.seconds = seconds;
    return run_launcher(data, link, std::move(env), options);
}

run_result run_launcher(const fs::path& data, const std::string& link,
                        std::map<std::string, std::string> env, const run_options& options) {
    const launcher_target& target = launcher_under_test();
    env.emplace("XDG_DATA_HOME", data.string());
    env.emplace("QUORLA_HEADLESS", "1");
    env.emplace("LANG", "C.UTF-8");
    // Under wine a window needs a display the test gives; without one, none is tried.
    if (target.windows) env.emplace("DISPLAY", "");
    return run_program(target.command({link}), env, options);
}

std::string launcher_log(const fs::path& data) {
    const os::local_time t = os::local_now();
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d.log", t.year, t.month, t.day);
    const std::string bytes =
        read_text(launcher_under_test().data_folder(data) / "QuorlaLauncher" / "log" / name);
    std::u16string wide;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        wide.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                             (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return to_utf8(wide);
}

}  // namespace test_support
