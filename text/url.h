#pragma once
#include <string>
#include <string_view>

// Percent-encodes an address: mode 1 from system code page bytes, mode 2 from UTF-8,
// any other mode returns the text unchanged. Address punctuation stays.
std::u16string url_encode(std::u16string_view text, int mode);
// Appends the UTF-8 percent-encoded input to `out` (not cleared). Always true.
bool url_encode_component(std::u16string& out, std::u16string_view in);
// Decodes %XX escapes; reads the decoded bytes as UTF-8 when looks_like_utf8 says so.
std::u16string url_decode(std::u16string_view text);
bool looks_like_utf8(std::string_view bytes);
