#pragma once
// The vector cores behind files_md5_hex, one file per lane. Defined per processor family
// (md5_lanes_x86.cpp, md5_lanes_generic.cpp); CMake picks the file.
#include <cstddef>
#include <cstdint>

#include "update/md5.h"

struct md5_lane_core {
    size_t lanes = 0;  // 0: this processor cannot run the core
    // Runs `blocks` 64-byte blocks in every lane. `state` holds word w of lane i at
    // state[w * lanes + i]; lane i reads its blocks one after another from base + offset[i].
    void (*run)(uint32_t* state, const uint8_t* base, const uint32_t* offset,
                size_t blocks) = nullptr;
};

// The core for sse2, avx2 or avx512 when the processor (and the system) can run it.
md5_lane_core md5_lane_core_for(md5_lanes lanes);
