#include "tests/support/launcher_run.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "log/clock.h"
#include "tests/support/archives.h"
#include "text/text.h"

namespace fs = std::filesystem;

namespace test_support {

fs::path built_program(const std::string& name) {
    const char* build = std::getenv("QUORLA_BINARY_DIR");
    return fs::path(build ? build : ".") / "bin" / name;
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
    env.emplace("XDG_DATA_HOME", data.string());
    env.emplace("QUORLA_HEADLESS", "1");
    env.emplace("LANG", "C.UTF-8");
    return run_program({built_program("quorla-launcher").string(), link}, env, options);
}

std::string launcher_log(const fs::path& data) {
    const local_time t = local_now();
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d.log", t.year, t.month, t.day);
    const std::string bytes = read_text(data / "QuorlaLauncher" / "log" / name);
    std::u16string wide;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        wide.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                             (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return to_utf8(wide);
}

}  // namespace test_support
