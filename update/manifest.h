#pragma once
// The update manifest (activeupdate.xml): an XML wrapper whose `data` attribute carries the
// scrambled list of module files, grouped by the archive that carries them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xml {
class element;
}

struct update_file_entry {
    std::u16string path;     // relative to the install folder
    std::u16string archive;  // archive file name on the server and in the download folder
    std::u16string hash;     // expected MD5, 32 hexadecimal digits; empty: the version decides
    std::u16string version;  // expected file version "a.b.c.d"
    std::u16string sha256;   // expected SHA-256, 64 hexadecimal digits; empty when not listed
};

class update_file_xml {
  public:
    update_file_xml() = default;
    virtual ~update_file_xml() = default;
    update_file_xml(const update_file_xml&) = delete;
    update_file_xml& operator=(const update_file_xml&) = delete;

    bool load(const char* bytes, int32_t length);
    bool load_text(std::u16string text);
    bool parse(const xml::element& update);
    void clear();

    std::u16string module;
    std::vector<update_file_entry> files;
    // The inner `update` element's `serial`: grows with every packing, so that a launcher
    // with a key can refuse an older signed manifest served again. None when absent.
    std::optional<uint64_t> serial;
    // Base64 of the built-in key whose signature verified; empty without keys.
    std::u16string verified_key;
};

// The value of the `data` attribute in, the inner document out (changed only on success).
bool unscramble_update_data(std::u16string& text);

// A path the manifest may name: it stays inside the install or download folder it is joined
// to (text/confine.h).
bool manifest_path_is_safe(std::u16string_view path);
