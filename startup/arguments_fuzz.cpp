// Feeds arbitrary link text through the argument grammar and the request address composition.
#include <cstddef>
#include <cstdint>
#include <string>

#include "log/log_writer.h"
#include "startup/arguments.h"
#include "text/text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LogWriter::Instance().SetPath(u"/dev/null");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    const std::u16string arguments =
        from_utf8(std::string(reinterpret_cast<const char*>(data), size));
    std::u16string key = u"unchanged";
    std::u16string server = u"unchanged";
    if (parse_invocation_arguments(key, arguments, server)) {
        for (int mode = 0; mode <= 2; ++mode) compose_request_url(u"&startup=1", mode, server, key);
    } else if (key != u"unchanged" || server != u"unchanged") {
        __builtin_trap();  // a refused link must leave the outputs alone
    }
    return 0;
}
