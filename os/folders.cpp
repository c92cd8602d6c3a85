// The walk over a path's folder levels, shared by every platform.
#include "os/folders.h"

#include "os/platform.h"

namespace os {

uint32_t make_each_level(const std::u16string& path) {
    const char16_t sep = path_separator();
    uint32_t err = make_folder(u"");  // the "not found" code of an empty path
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != sep) continue;
        if (path[i - 1] == sep) continue;
        err = make_folder(path.substr(0, i));
    }
    return err;
}

}  // namespace os
