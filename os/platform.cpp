// What every platform derives from the executable's path.
#include "os/platform.h"

namespace os {

std::u16string executable_folder() {
    const std::u16string path = executable_path();
    const size_t cut = path.rfind(path_separator());
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
}

std::u16string executable_base_name() {
    const std::u16string path = executable_path();
    const size_t cut = path.rfind(path_separator());
    std::u16string name = cut == std::u16string::npos ? path : path.substr(cut + 1);
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace os
