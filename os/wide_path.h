#pragma once
// Paths and texts as the Win32 wide calls take them: UTF-16 is wchar_t there, so the text is
// handed over as it is. Only Windows halves (and Windows-only tests) include this; the POSIX
// halves have their counterpart in os/posix_path.h.
#include <string>

namespace os {

inline const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace os
