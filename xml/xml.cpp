#include "xml/xml.h"

#include <unordered_map>

#include "log/log_writer.h"

namespace xml {
namespace {

bool is_space(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Where a tag name may begin; anything else after "<" is taken as a literal "<" in text
// ("a < b", "<3").
bool is_name_start(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c >= 0x80;
}

// Ends a tag or attribute name.
bool ends_name(char16_t c) { return is_space(c) || c == u'/' || c == u'>' || c == u'<' || c == u'='; }

bool is_blank(std::u16string_view s) {
    for (char16_t c : s)
        if (!is_space(c)) return false;
    return true;
}

bool starts_with(std::u16string_view s, size_t at, std::u16string_view prefix) {
    return s.size() - at >= prefix.size() && s.compare(at, prefix.size(), prefix) == 0;
}

bool starts_with_nocase_ascii(std::u16string_view s, size_t at, std::u16string_view prefix) {
    if (s.size() - at < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = s[at + i];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

// Position just after `terminator` from `from`, or the end of the text when it never comes.
size_t skip_past(std::u16string_view s, size_t from, std::u16string_view terminator) {
    const size_t at = s.find(terminator, from);
    return at == std::u16string_view::npos ? s.size() : at + terminator.size();
}

// Skips "<!DOCTYPE ...>" with its internal subset, where ">" may stand inside brackets
// and quoted literals.
size_t skip_doctype(std::u16string_view s, size_t from) {
    size_t depth = 0;
    char16_t quote = 0;
    for (size_t i = from; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'[') {
            ++depth;
        } else if (c == u']') {
            if (depth > 0) --depth;
        } else if (c == u'>' && depth == 0) {
            return i + 1;
        }
    }
    return s.size();
}

}  // namespace

std::u16string_view trim_xml_space(std::u16string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && is_space(s[b])) ++b;
    while (e > b && is_space(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::u16string element::text() const {
    for (const element* child : children_)
        if (child->is_text()) return std::u16string(trim_xml_space(child->value_));
    return {};
}

std::u16string element::attribute(std::u16string_view name) const {
    return std::u16string(trim_xml_space(raw_attribute(name)));
}

std::u16string element::raw_attribute(std::u16string_view name) const {
    for (const auto& [key, value] : attributes_)
        if (key == name) return value;
    return {};
}

const element* element::find_first(std::u16string_view name) const {
    // Explicit stack: children pushed in reverse so they come off in document order.
    std::vector<const element*> pending{this};
    while (!pending.empty()) {
        const element* node = pending.back();
        pending.pop_back();
        if (node->is_element() && node->name_ == name) return node;
        for (auto it = node->children_.rbegin(); it != node->children_.rend(); ++it)
            if ((*it)->is_element()) pending.push_back(*it);
    }
    return nullptr;
}

document::document(limits bounds) : limits_(bounds) {
    nodes_.emplace_back(element::key());
    root_ = &nodes_.back();
}

document::~document() = default;

element* document::add_node(element* parent) {
    nodes_.emplace_back(element::key());
    element* node = &nodes_.back();
    parent->children_.push_back(node);
    return node;
}

bool document::parse(std::u16string_view s) {
    nodes_.resize(1, element(element::key()));
    root_->children_.clear();
    root_->children_.shrink_to_fit();

    // Nodes and attributes made so far; checked before each one is added.
    uint64_t made = 0;
    auto refuse = [&](std::u16string_view what, uint32_t limit) {
        nodes_.resize(1, element(element::key()));
        root_->children_.clear();
        root_->children_.shrink_to_fit();
        LogWriter::Instance().Write(u"* 오류: XML 문서가 한도를 넘었습니다. (%s > %u)", what, limit);
        return false;
    };

    // Open elements, innermost last, and how many of each name are open, so that a stray
    // closing tag is dismissed without walking the stack.
    std::vector<element*> open{root_};
    std::unordered_map<std::u16string, size_t> open_names;
    std::u16string pending_text;
    bool any_element = false;

    auto flush_text = [&] {
        if (!pending_text.empty() && !is_blank(pending_text)) {
            ++made;
            element* node = add_node(open.back());
            node->kind_ = element::kind::text;
            node->value_ = std::move(pending_text);
        }
        pending_text.clear();
    };

    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        if (s[i] != u'<') {
            const size_t next = s.find(u'<', i);
            const size_t end = next == std::u16string_view::npos ? n : next;
            pending_text.append(s.substr(i, end - i));
            i = end;
            continue;
        }
        // s[i] == '<'
        if (made > limits_.max_nodes) return refuse(u"nodes", limits_.max_nodes);
        if (starts_with(s, i, u"<!--")) {
            flush_text();
            i = skip_past(s, i + 4, u"-->");
        } else if (starts_with(s, i, u"<![CDATA[")) {
            flush_text();
            const size_t from = i + 9;
            const size_t close = s.find(u"]]>", from);
            const size_t end = close == std::u16string_view::npos ? n : close;
            ++made;
            element* node = add_node(open.back());
            node->kind_ = element::kind::cdata;
            node->value_ = std::u16string(s.substr(from, end - from));
            i = close == std::u16string_view::npos ? n : close + 3;
        } else if (starts_with_nocase_ascii(s, i, u"<!DOCTYPE")) {
            flush_text();
            i = skip_doctype(s, i + 9);
        } else if (starts_with(s, i, u"<!")) {
            flush_text();
            i = skip_past(s, i + 2, u">");
        } else if (starts_with(s, i, u"<?")) {
            // Processing instructions and the declaration.
            flush_text();
            i = skip_past(s, i + 2, u"?>");
        } else if (starts_with(s, i, u"</")) {
            flush_text();
            size_t j = i + 2;
            const size_t name_begin = j;
            while (j < n && !ends_name(s[j])) ++j;
            const std::u16string name(s.substr(name_begin, j - name_begin));
            while (j < n && s[j] != u'>' && s[j] != u'<') ++j;
            i = (j < n && s[j] == u'>') ? j + 1 : j;
            // Close the innermost open element of that name and whatever is still open
            // inside it; a closing tag that matches nothing open is ignored.
            auto found = open_names.find(name);
            if (found == open_names.end() || found->second == 0) continue;
            while (open.size() > 1) {
                element* top = open.back();
                open.pop_back();
                const bool match = top->name_ == name;
                --open_names[top->name_];
                if (match) break;
            }
        } else if (i + 1 < n && is_name_start(s[i + 1])) {
            flush_text();
            size_t j = i + 1;
            const size_t name_begin = j;
            while (j < n && !ends_name(s[j])) ++j;
            if (++made > limits_.max_nodes) return refuse(u"nodes", limits_.max_nodes);
            element* node = add_node(open.back());
            node->kind_ = element::kind::element;
            node->name_ = std::u16string(s.substr(name_begin, j - name_begin));
            any_element = true;

            bool self_closing = false;
            while (j < n) {
                const char16_t c = s[j];
                if (is_space(c)) {
                    ++j;
                } else if (c == u'>') {
                    ++j;
                    break;
                } else if (c == u'/') {
                    ++j;
                    if (j < n && s[j] == u'>') {
                        self_closing = true;
                        ++j;
                        break;
                    }
                } else if (c == u'<') {
                    break;  // unterminated tag: the next markup starts here
                } else if (c == u'=') {
                    ++j;  // a value without a name: dropped below with its value
                    while (j < n && is_space(s[j])) ++j;
                    if (j < n && (s[j] == u'"' || s[j] == u'\'')) {
                        const size_t close = s.find(s[j], j + 1);
                        j = close == std::u16string_view::npos ? n : close + 1;
                    }
                } else {
                    const size_t key_begin = j;
                    while (j < n && !ends_name(s[j])) ++j;
                    if (++made > limits_.max_nodes) return refuse(u"nodes", limits_.max_nodes);
                    std::u16string key(s.substr(key_begin, j - key_begin));
                    size_t k = j;
                    while (k < n && is_space(s[k])) ++k;
                    std::u16string value;
                    if (k < n && s[k] == u'=') {
                        ++k;
                        while (k < n && is_space(s[k])) ++k;
                        if (k < n && (s[k] == u'"' || s[k] == u'\'')) {
                            const size_t close = s.find(s[k], k + 1);
                            const size_t end = close == std::u16string_view::npos ? n : close;
                            value = std::u16string(s.substr(k + 1, end - k - 1));
                            k = close == std::u16string_view::npos ? n : close + 1;
                        } else {
                            const size_t vbegin = k;
                            while (k < n && !is_space(s[k]) && s[k] != u'>' && s[k] != u'<') ++k;
                            value = std::u16string(s.substr(vbegin, k - vbegin));
                        }
                        j = k;
                    }
                    node->attributes_.emplace_back(std::move(key), std::move(value));
                }
            }
            i = j;
            if (!self_closing) {
                if (open.size() > limits_.max_depth) return refuse(u"depth", limits_.max_depth);
                open.push_back(node);
                ++open_names[node->name_];
            }
        } else {
            pending_text.push_back(u'<');
            ++i;
        }
    }
    flush_text();
    if (made > limits_.max_nodes) return refuse(u"nodes", limits_.max_nodes);
    return any_element;
}

}  // namespace xml
