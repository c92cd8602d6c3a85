// Fuzzes the edit result processing with arbitrary JSON text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "log/log_writer.h"
#include "result/edit_result.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        LogWriter::Instance().SetPath(u"/dev/null");
        return true;
    }();
    (void)quiet;
    startup_file_xml startup;
    startup.return_url = u"http://shop/return";
    startup.return2_url = u"http://shop/cart";
    std::u16string return_url, cart_url;
    process_edit_result(return_url, u"key=K&svr=http://shop/s", startup,
                        from_utf8(std::string(reinterpret_cast<const char*>(data), size)), cart_url);
    return 0;
}
