// Fuzzes the decoders and encoders with arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/text.h"
#include "text/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    looks_like_utf8(bytes);
    const std::u16string wide = from_utf8(bytes);
    url_decode(wide);
    url_encode(wide, 1);
    url_encode(wide, 2);
    std::u16string out;
    url_encode_component(out, wide);
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i + 1 < size; i += 2) units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    url_decode(units);
    to_utf8(units);
    to_narrow_acp(units);
    return 0;
}
