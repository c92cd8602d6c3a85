#pragma once
// The archive tests' fixture and entry builders, shared by the portable tests and the
// per-OS ones (archive_<os>_test.cpp).
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/archives.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/update_test_util.h"

namespace archive_test {
inline zip_entry_spec file_entry(const std::string& name, const std::string& data) {
    zip_entry_spec e;
    e.name = name;
    e.data = data;
    return e;
}
inline zip_entry_spec folder_entry(const std::string& name) {
    zip_entry_spec e;
    e.name = name;
    e.folder = true;
    e.deflate = false;
    return e;
}
// Every regular file under a folder, as relative paths.
inline std::vector<std::string> files_under(const std::string& folder) {
    std::vector<std::string> out;
    namespace fs = std::filesystem;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), folder).generic_string());
    std::sort(out.begin(), out.end());
    return out;
}
struct code_page_guard {
    explicit code_page_guard(const std::string& cp) { set_system_code_page(cp); }
    ~code_page_guard() { set_system_code_page(""); }
};
}  // namespace archive_test
using namespace archive_test;

class zip_test : public update_files_test {
  protected:
    // Builds an archive of the entries and extracts it into w/dest with no filter.
    int extract(const std::vector<zip_entry_spec>& entries, const std::u16string& filter = u"",
                const std::u16string& new_name = u"") {
        EXPECT_TRUE(make_zip(at("a.zip"), entries));
        return extract_zip(w("a.zip"), w("dest"), filter, new_name);
    }
    std::string dest(const std::string& rel = "") const { return at("dest/" + rel); }
};

class cab_test : public update_files_test {
  protected:
    std::string dest(const std::string& rel = "") const { return at("dest/" + rel); }
    void SetUp() override {
        update_files_test::SetUp();
        std::filesystem::create_directories(dest());
    }
};
