// The portable version reader agrees with the system's GetFileVersionInfoW/VerQueryValueW on
// the test images and on the test modules this build makes.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "text/format.h"
#include "text/text.h"
#include "update/pe_version.h"

namespace {

// The system's "%d.%d.%d.%d", or "" when it finds no version.
std::u16string system_version(const std::filesystem::path& file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr) return {};
    return format16(u"%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                    static_cast<int>(LOWORD(info->dwFileVersionMS)), static_cast<int>(HIWORD(info->dwFileVersionLS)),
                    static_cast<int>(LOWORD(info->dwFileVersionLS)));
}

TEST(pe_version, AgreesWithTheSystemOnEveryTestImage) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(QUORLA_TEST_SOURCE_DIR) / "update/testdata"))
        if (e.path().extension() == ".dll") files.push_back(e.path());
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(QUORLA_TEST_BINARY_DIR) / "tests/modules"))
        if (e.path().extension() == ".dll") files.push_back(e.path());
    ASSERT_GE(files.size(), 5u);
    size_t versioned = 0;
    for (const auto& file : files) {
        const std::u16string ours = file_version_text(file.u16string());
        EXPECT_EQ(ours, system_version(file)) << file.string();
        if (!ours.empty()) ++versioned;
    }
    EXPECT_GE(versioned, 3u) << "the test images with versions were read";
}

}  // namespace
