#pragma once
// A scratch folder per test that also catches the log: XDG_DATA_HOME points into it, the
// system code page is pinned to UTF-8, and the log writer appends to its test.log.
#include <filesystem>
#include <string>

namespace test_support {

class log_capture {
public:
    log_capture();
    ~log_capture();
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    std::u16string folder16() const;
    // The log's lines without their time prefix, each ending in "\n".
    std::u16string lines() const;
    // Whole line match, without the time prefix.
    bool has_line(const std::u16string& line) const;
    size_t count_line(const std::u16string& line) const;
    // For failure messages.
    std::string lines_utf8() const;

private:
    std::filesystem::path folder_;
};

}  // namespace test_support
