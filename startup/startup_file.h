#pragma once
// The parsed startup document of one work key: which editor module to run, where it lives,
// where its updates come from, the work mode and the shop's callback addresses.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace xml {
class element;
}

// Converts a downloaded XML document's bytes to wide text: UTF-8 with a BOM, UTF-16LE with
// a BOM, a declaration naming utf-8, else the system code page. False when nothing results.
bool decode_xml_text(const char* bytes, int32_t length, std::u16string& out);

// The two update addresses of an `update_url` text (ending with "/") and its `ssl` value
// (lower case). The written scheme is replaced by the one `ssl` names, except that a build
// that verifies certificates (`verifying`) keeps a written https for both addresses.
// False when the text holds no "://".
bool update_addresses(const std::u16string& text, const std::u16string& ssl, bool verifying,
                      std::u16string& update_url, std::u16string& update_file_url);

class startup_file_xml {
public:
    startup_file_xml() = default;
    virtual ~startup_file_xml() = default;
    startup_file_xml(const startup_file_xml&) = delete;
    startup_file_xml& operator=(const startup_file_xml&) = delete;

    bool load(const char* bytes, int32_t length);
    void clear();
    bool parse(const xml::element& startup);

    std::u16string module;
    std::u16string install_path;
    std::u16string update_url;
    std::u16string update_file_url;
    std::u16string todo;
    std::u16string editor_id;
    std::u16string config_url;
    std::u16string storage_url;
    std::u16string rsid;
    std::u16string lsid;
    std::u16string return_url;
    std::u16string return2_url;
    std::u16string setkey_url;
    std::u16string cookie;
    std::u16string user_id;
    std::u16string agent;
    std::u16string agent_type;
    std::u16string app_title;
    std::u16string app_icon;
    int32_t count = 0;
    std::vector<std::pair<std::u16string, std::u16string>> internal_calls;
    // The log line that says which check refused the last document load() was given; empty
    // after a good one, or when the refusing check wrote its own line.
    std::u16string refusal;
};
