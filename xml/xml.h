#pragma once
// A small, forgiving XML reader over UTF-16 text for the documents the shop sends: the
// startup document, the update manifest and the cart key answer.
//
// What the documents rely on:
// - nothing is rejected: ill-formed input keeps whatever elements could be read;
// - character and entity references are left as written ("&amp;" stays "&amp;", a plain
//   "&" stays "&"), so addresses with query strings arrive exactly as written;
// - element text and attribute values are trimmed of tab, LF, CR and space;
// - comments, processing instructions, the declaration and DOCTYPE are skipped.
//
// Untrusted input: the parse and every walk over the tree are iterative (no recursion
// however deep the nesting), the work is linear in the input, and the tree is bounded: a
// text with more nodes or deeper nesting than the limits is refused as a whole (logged,
// parse false, empty tree), so a hostile server cannot make the tree eat the machine's memory.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xml {

class document;

// How large a tree may grow. The shop's documents hold a few dozen elements (a manifest a few
// per module file) and nest a handful deep.
struct limits {
    // Elements, text and CDATA nodes and attributes together.
    uint32_t max_nodes = 200000;
    uint32_t max_depth = 1000;
};

// One node of the tree: the document node, an element, or a text or CDATA node.
class element {
public:
    // Empty for the document node and for text/CDATA nodes.
    const std::u16string& name() const { return name_; }
    bool is_element() const { return kind_ == kind::element; }
    // True for plain-text and CDATA nodes.
    bool is_text() const { return kind_ == kind::text || kind_ == kind::cdata; }
    // Raw content of a text or CDATA node, untrimmed; empty for other nodes.
    const std::u16string& value() const { return value_; }

    // Direct children in document order, text/CDATA nodes included. White-space-only text
    // between tags is not kept as a node.
    const std::vector<const element*>& children() const { return children_; }
    // The first plain-text or CDATA child, trimmed; empty when there is none.
    std::u16string text() const;
    // Value of the first attribute with exactly this name, trimmed; empty when absent.
    std::u16string attribute(std::u16string_view name) const;
    // The same value exactly as written, for answers compared whole (a cart code " 0000" is
    // not "0000").
    std::u16string raw_attribute(std::u16string_view name) const;
    // First element with exactly this name, depth first in document order, this one included.
    const element* find_first(std::u16string_view name) const;

private:
    friend class document;
    enum class kind : unsigned char { document, element, text, cdata };
    // Only the document makes nodes (held in its deque, without a heap block each).
    class key {
        friend class document;
        key() = default;
    };

public:
    explicit element(key) {}

private:

    kind kind_ = kind::document;
    std::u16string name_;
    std::u16string value_;
    std::vector<std::pair<std::u16string, std::u16string>> attributes_;
    std::vector<const element*> children_;
};

class document {
public:
    explicit document(limits bounds = {});
    ~document();
    document(const document&) = delete;
    document& operator=(const document&) = delete;

    // Replaces the tree with what `text` holds. False when no element could be read (an
    // empty, blank or markup-free text); ill-formed input is never refused as such. A text
    // past the limits gives false, an empty tree and one log line naming the limit.
    bool parse(std::u16string_view text);
    // The document node: its children are the top-level nodes.
    const element* root() const { return root_; }
    const element* find_first(std::u16string_view name) const { return root_->find_first(name); }

private:
    element* add_node(element* parent);

    // Every node is owned here, flat, so destroying a deeply nested tree never recurses.
    std::deque<element> nodes_;
    element* root_ = nullptr;
    limits limits_;
};

// Tab, LF, CR and space removed from both ends.
std::u16string_view trim_xml_space(std::u16string_view s);

}  // namespace xml
