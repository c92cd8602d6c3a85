#pragma once
// Helpers shared by the tests of the update folder: a private temporary folder and the log.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "log/log_writer.h"
#include "text/platform.h"
#include "text/posix_path.h"
#include "text/text.h"

class update_files_test : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quorla-files-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        setenv("XDG_DATA_HOME", root.c_str(), 1);
        log_path = root + "/test.log";
        LogWriter::Instance().SetPath(from_native_path(log_path));
        std::filesystem::create_directory(root + "/w");
        base = root + "/w/";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(root, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(root, ec);
    }
    // Native path under the work folder, and the same as wide text.
    std::string at(const std::string& relative) const { return base + relative; }
    std::u16string w(const std::string& relative) const {
        return from_native_path(base + relative);
    }

    // The log's lines written so far, without time stamps, joined by "\n".
    std::u16string log_text() const {
        std::ifstream in(log_path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        const std::string bytes = s.str();
        std::u16string text;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text.push_back(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
        if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);
        std::u16string out;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(u"\r\n", start);
            if (end == std::u16string::npos) end = text.size();
            std::u16string line = text.substr(start, end - start);
            if (line.size() >= 9) line.erase(0, 9);  // "HH:MM:SS "
            out += line + u"\n";
            start = end + 2;
        }
        return out;
    }
    bool logged(const std::u16string& message) const {
        return log_text().find(message) != std::u16string::npos;
    }
    bool log_empty() const { return log_text().empty(); }

    std::string root, base, log_path;
};

inline std::string narrow(const std::u16string& s) {
    return to_utf8(s);
}
