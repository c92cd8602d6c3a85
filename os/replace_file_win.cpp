#include <windows.h>

#include "os/replace_file.h"
#include "os/wide_path.h"

namespace os {

bool replace_file(const std::u16string& from, const std::u16string& to) {
    return MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           0;
}

}  // namespace os
