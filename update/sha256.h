#pragma once
// SHA-256 of module files. MD5 decides whether an installed file is current (it is fast and
// the manifest's own); SHA-256 binds a downloaded file to a signed manifest, since MD5
// collisions can be made at will.
#include <string>
#include <string_view>

// 64 lower-case hexadecimal digits; "-1" when the file cannot be opened or read.
std::u16string file_sha256_hex(const std::u16string& path);
// True for 64 hexadecimal digits, either letter case.
bool is_sha256_hex(std::u16string_view text);
