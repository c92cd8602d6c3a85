#include "tests/support/test_log.h"

#include <atomic>
#include <fstream>
#include <sstream>

#include "log/log_writer.h"
#include "tests/support/sandbox.h"
#include "text/text.h"

namespace test_support {

namespace {
// Removes a scratch folder, read-only files and folders included (tests make them, and on
// Windows they cannot be deleted as they are).
void remove_tree(const std::filesystem::path& folder) {
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) return;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ec);
    std::filesystem::remove_all(folder, ec);
}
}  // namespace

log_capture::log_capture() {
    static std::atomic<int> serial{0};
    folder_ = std::filesystem::temp_directory_path() /
              ("quorla-test-" + std::to_string(process_id()) + "-" + std::to_string(serial++));
    remove_tree(folder_);
    std::filesystem::create_directories(folder_);
    set_environment("XDG_DATA_HOME", folder_.string());
    set_system_code_page("UTF-8");
    LogWriter::Destroy();
    LogWriter::Instance().SetPath(from_utf8((folder_ / "test.log").string()));
}

log_capture::~log_capture() {
    LogWriter::Destroy();
    set_system_code_page("");
    remove_tree(folder_);
}

std::u16string log_capture::folder16() const { return from_utf8(folder_.string()); }

std::u16string log_capture::lines() const {
    std::ifstream in(folder_ / "test.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    // Drop the "HH:MM:SS " prefix of each line and turn "\r\n" into "\n".
    std::u16string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(u"\r\n", pos);
        if (end == std::u16string::npos) end = text.size();
        std::u16string line = text.substr(pos, end - pos);
        if (line.size() >= 9 && line[2] == u':' && line[5] == u':' && line[8] == u' ') line = line.substr(9);
        out += line + u"\n";
        pos = end + 2;
    }
    return out;
}

size_t log_capture::count_line(const std::u16string& line) const {
    const std::u16string all = u"\n" + lines();
    const std::u16string needle = u"\n" + line + u"\n";
    size_t count = 0;
    for (size_t p = all.find(needle); p != std::u16string::npos; p = all.find(needle, p + 1)) ++count;
    return count;
}

bool log_capture::has_line(const std::u16string& line) const { return count_line(line) > 0; }

std::string log_capture::lines_utf8() const { return to_utf8(lines()); }

}  // namespace test_support
