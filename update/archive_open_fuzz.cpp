#include <cstddef>
#include <cstdint>

#include "update/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!check_archive_open(data, size)) __builtin_trap();
    return 0;
}
