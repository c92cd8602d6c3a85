#pragma once
// Small OS facts the portable code needs. One implementation per OS (platform_posix.cpp).
#include <string>
#include <string_view>

// The native path separator ('/' on POSIX); every path rule that speaks of a backslash
// speaks of this character.
char16_t path_separator();
// Full path of the running executable; empty when it cannot be learnt.
std::u16string executable_path();
// True when the user's language is Korean (LC_ALL / LC_MESSAGES / LANG begins with "ko").
bool user_language_is_korean();
// Value of an environment variable, empty when unset.
std::u16string environment_variable(std::u16string_view name);
