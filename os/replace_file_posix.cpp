#include <cstdio>

#include "os/posix_path.h"
#include "os/replace_file.h"

namespace os {

bool replace_file(const std::u16string& from, const std::u16string& to) {
    return std::rename(native_path(from).c_str(), native_path(to).c_str()) == 0;
}

}  // namespace os
