#include <cstdio>
#include <string>

#include "app/launcher_app.h"
#include "os/posix_path.h"

void show_text(const std::string& text) { std::fputs(text.c_str(), stdout); }

int main(int argc, char** argv) {
    const std::u16string sole = argc == 2 ? os::from_native_path(argv[1]) : std::u16string();
    return launcher_main(argc == 2 ? &sole : nullptr, command_line_from(argc, argv));
}
