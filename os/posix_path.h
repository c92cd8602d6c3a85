#pragma once
// Paths as the POSIX calls take them: UTF-8 bytes. Only POSIX halves (and POSIX-only tools and
// tests) include this; portable code hands wide paths to the OS layer instead. The Windows
// halves have their counterpart in os/wide_path.h.
#include <string>
#include <string_view>

#include "text/text.h"

namespace os {

inline std::string native_path(std::u16string_view path) {
    return to_utf8(path);
}
inline std::u16string from_native_path(std::string_view path) {
    return from_utf8(path);
}

}  // namespace os
