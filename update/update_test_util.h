#pragma once
// Helpers shared by the tests of the update folder: a private scratch folder that catches the
// log (tests/support/test_log.h), with a work folder "w/" inside.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/test_log.h"
#include "text/text.h"

class update_files_test : public ::testing::Test {
  protected:
    void SetUp() override {
        capture = std::make_unique<test_support::log_capture>();
        root = capture->folder().string();
        log_path = native(root + "/test.log");
        std::filesystem::create_directory(root + "/w");
        base = native(root + "/w/");
    }
    void TearDown() override {
        // Tests may leave read-only folders behind.
        std::error_code ec;
        std::filesystem::permissions(root, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        capture.reset();
    }
    // Path under the work folder ("/" separates), and the same as wide text, with native
    // separators.
    static std::string native(std::string path) {
        for (char& c : path)
            if (c == '/') c = static_cast<char>(std::filesystem::path::preferred_separator);
        return path;
    }
    std::string at(const std::string& relative) const { return native(base + relative); }
    std::u16string w(const std::string& relative) const { return from_utf8(at(relative)); }

    // The log's lines written so far, without time stamps, each ending in "\n".
    std::u16string log_text() const { return capture->lines(); }
    bool logged(const std::u16string& message) const {
        return log_text().find(message) != std::u16string::npos;
    }
    bool log_empty() const { return log_text().empty(); }

    std::unique_ptr<test_support::log_capture> capture;
    std::string root, base, log_path;
};

inline std::string narrow(const std::u16string& s) {
    return to_utf8(s);
}
