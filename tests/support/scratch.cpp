#include "tests/support/scratch.h"

#include <gtest/gtest.h>

#include "tests/support/sandbox.h"

namespace test_support {

std::filesystem::path fresh_test_folder(const std::string& prefix) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        (prefix + "-" + std::to_string(process_id()) + "-" + (test ? test->name() : "none"));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace test_support
