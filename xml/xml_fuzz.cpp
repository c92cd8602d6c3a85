// Feeds arbitrary UTF-16 text to the reader and walks the whole tree it builds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "xml/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The bytes read two ways: as UTF-16LE units, and one byte per unit, where the markup
    // characters of a seed stay intact under byte-level mutation.
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i + 1 < size; i += 2)
        text[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    const std::u16string narrow(data, data + size);

    for (const std::u16string* input : {static_cast<const std::u16string*>(&text), &narrow}) {
        xml::document doc;
        doc.parse(*input);
        // Every node once, without recursion.
        std::vector<const xml::element*> pending{doc.root()};
        size_t visited = 0;
        while (!pending.empty()) {
            const xml::element* e = pending.back();
            pending.pop_back();
            ++visited;
            e->text();
            e->attribute(u"id");
            e->is_element();
            if (visited < 16 && !e->name().empty() && doc.find_first(e->name()) == nullptr) __builtin_trap();
            for (const xml::element* c : e->children()) pending.push_back(c);
        }
        doc.find_first(u"startup");
        doc.find_first(u"a");
    }
    return 0;
}
