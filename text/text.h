#pragma once
// Wide text is UTF-16 code units (std::u16string), as on Windows; never std::wstring.
// The four conversions read their input up to its first zero unit, as the platform
// conversions do with terminated input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// System code page ("ANSI") bytes to wide text.
std::u16string to_wide_acp(std::string_view bytes);
// Wide text to system code page bytes; unrepresentable characters become "?".
std::string to_narrow_acp(std::u16string_view text);
// Wide text to UTF-8; a lone surrogate becomes U+FFFD.
std::string to_utf8(std::u16string_view text);
// UTF-8 to wide text; invalid sequences become U+FFFD.
std::u16string from_utf8(std::string_view bytes);

// The character set that stands for the system code page: the locale's LC_CTYPE
// character set, where the C/POSIX locale counts as UTF-8. Tests pin it with
// set_system_code_page("WINDOWS-1252") or ("CP949"); an empty name goes back to the locale.
void set_system_code_page(const std::string& charset);
std::string system_code_page();
bool system_code_page_is_utf8();

// Small ASCII-only helpers used everywhere text is compared "without regard to letter case".
char16_t to_lower_ascii(char16_t c);
std::u16string to_lower_ascii(std::u16string_view s);
bool equals_nocase(std::u16string_view a, std::u16string_view b);
bool starts_with_nocase(std::u16string_view s, std::u16string_view prefix);
bool ends_with_nocase(std::u16string_view s, std::u16string_view suffix);
// Plain ASCII text to wide text (for names and numbers; not for arbitrary bytes).
std::u16string ascii_to_wide(std::string_view s);
// Replaces every occurrence of `from` (not empty) by `to`, left to right without overlap.
std::u16string replace_all(std::u16string s, std::u16string_view from, std::u16string_view to);
// Decimal digits that fit 64 bits (at most 19, nothing else); false for anything else.
bool parse_decimal(std::u16string_view text, uint64_t& value);
