// Replays the fuzz corpora and every input that once broke a fuzz target.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/archives.h"
#include "tests/support/sandbox.h"
#include "update/fuzz_checks.h"

namespace fs = std::filesystem;

namespace {
using check = bool (*)(const uint8_t*, size_t);

size_t replay(const std::string& folder, check fn) {
    const char* src = std::getenv("QUORLA_SOURCE_DIR");
    const fs::path dir = fs::path(src ? src : ".") / "update" / folder;
    size_t count = 0;
    if (!fs::is_directory(dir)) return 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        const std::string bytes = read_file_bytes(e.path().string());
        EXPECT_TRUE(fn(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) << e.path();
        ++count;
    }
    return count;
}
}  // namespace

TEST(fuzz_regressions, ZipNameInputsKeepNamesConfined) {
    EXPECT_GT(replay("fuzz_corpus/zip_name_fuzz", check_zip_name), 0u);
    EXPECT_GT(replay("fuzz_regressions/zip_name_fuzz", check_zip_name), 0u);
}

TEST(fuzz_regressions, PeVersionInputsStayInBounds) {
    EXPECT_GT(replay("fuzz_corpus/pe_version_fuzz", check_pe_version), 0u);
    replay("fuzz_regressions/pe_version_fuzz", check_pe_version);
}

TEST(fuzz_regressions, ArchiveInputsExtractOnlyIntoTheDestination) {
    test_support::set_environment("XDG_DATA_HOME", "/tmp", false);
    EXPECT_GT(replay("fuzz_corpus/archive_open_fuzz", check_archive_open), 0u);
    replay("fuzz_regressions/archive_open_fuzz", check_archive_open);
}
