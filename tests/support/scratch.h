#pragma once
// A folder of the running test's own under the system's temporary folder, emptied and made:
// <tmp>/<prefix>-<pid>-<test name>. The caller removes it when done.
#include <filesystem>
#include <string>

namespace test_support {

std::filesystem::path fresh_test_folder(const std::string& prefix);

}  // namespace test_support
