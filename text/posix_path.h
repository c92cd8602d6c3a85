#pragma once
// Paths as the POSIX calls take them: UTF-8 bytes. Only POSIX halves (and POSIX-only tools and
// tests) include this; portable code hands wide paths to the OS layer instead.
#include <string>
#include <string_view>

std::string native_path(std::u16string_view path);
std::u16string from_native_path(std::string_view path);
