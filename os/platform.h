#pragma once
// Small OS facts the portable code needs: the path separator, the running executable, the
// user's language and the environment. One half per OS (platform_posix.cpp, platform_win.cpp).
#include <string>
#include <string_view>

namespace os {

// The native path separator ('/' on POSIX); every path rule that speaks of a backslash
// speaks of this character.
char16_t path_separator();
// Full path of the running executable; empty when it cannot be learnt.
std::u16string executable_path();
// The executable's folder with a trailing separator; empty when unknown.
std::u16string executable_folder();
// The executable's file name without folder and extension; empty when unknown.
std::u16string executable_base_name();
// True when the user's language is Korean (POSIX: LC_ALL / LC_MESSAGES / LANG begins with
// "ko"; Windows: the user default language).
bool user_language_is_korean();
// Value of an environment variable, empty when unset.
std::u16string environment_variable(std::u16string_view name);

}  // namespace os
