#include "xml/xml.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/test_log.h"

namespace {

std::string utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::vector<std::u16string> child_names(const xml::element& e) {
    std::vector<std::u16string> names;
    for (const xml::element* c : e.children()) names.push_back(c->name());
    return names;
}

TEST(xml_document, empty_or_markup_free_text_reports_failure) {
    const std::u16string cases[] = {u"", u"   \r\n\t", u"just text", u"<!-- only a comment -->",
                                    u"<?xml version=\"1.0\"?>", u"a < b", u"<", u"</a>"};
    for (const auto& text : cases) {
        xml::document doc;
        EXPECT_FALSE(doc.parse(text)) << utf8(text);
        EXPECT_EQ(doc.find_first(u"a"), nullptr) << utf8(text);
    }
}

TEST(xml_document, element_text_and_attributes_are_trimmed_of_xml_space_only) {
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"<r><a k=\" \t\r\nv w\n\">\r\n\t  x y \t\r\n</a><b>\u3000z\u3000</b></r>"));
    const xml::element* a = doc.find_first(u"a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), u"x y");
    EXPECT_EQ(a->attribute(u"k"), u"v w");
    // Only tab, LF, CR and space count as white space.
    EXPECT_EQ(doc.find_first(u"b")->text(), u"\u3000z\u3000");
}

TEST(xml_document, references_stay_unexpanded_and_plain_ampersand_is_kept) {
    struct row {
        std::u16string document, text, attribute;
    };
    const row rows[] = {
        {u"<a v=\"x?p=1&q=2\">http://s/?k=1&f=startup</a>", u"http://s/?k=1&f=startup", u"x?p=1&q=2"},
        {u"<a v=\"&amp;&lt;&#65;\">&amp;&lt;&#65;&#x41;</a>", u"&amp;&lt;&#65;&#x41;", u"&amp;&lt;&#65;"},
        {u"<a v='&'>&</a>", u"&", u"&"},
        {u"<a v=\"&unknown;\">&unknown; &</a>", u"&unknown; &", u"&unknown;"},
    };
    for (const auto& r : rows) {
        xml::document doc;
        ASSERT_TRUE(doc.parse(r.document)) << utf8(r.document);
        const xml::element* a = doc.find_first(u"a");
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), r.text) << utf8(r.document);
        EXPECT_EQ(a->attribute(u"v"), r.attribute) << utf8(r.document);
    }
}

TEST(xml_document, comments_processing_instructions_declaration_and_doctype_are_skipped) {
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"\uFEFF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                          u"<!DOCTYPE r [ <!ENTITY e \"<fake>\"> <!ELEMENT r ANY> ]>\r\n"
                          u"<!-- <fake/> -->\r\n"
                          u"<r><?pi <fake/> ?><!-- x --><a>t<!-- <fake/> --></a><!ANY thing></r>"));
    EXPECT_EQ(doc.find_first(u"fake"), nullptr);
    const xml::element* r = doc.find_first(u"r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(child_names(*r), std::vector<std::u16string>{u"a"});
    EXPECT_EQ(doc.find_first(u"a")->text(), u"t");
}

TEST(xml_document, cdata_counts_as_text_and_keeps_markup_characters) {
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"<r><a>  <![CDATA[ <b>&amp;</b> ]]>  </a><c><![CDATA[]]>later</c></r>"));
    EXPECT_EQ(doc.find_first(u"a")->text(), u"<b>&amp;</b>");
    EXPECT_EQ(doc.find_first(u"b"), nullptr);
    // The first text-like child wins, even an empty CDATA section.
    EXPECT_EQ(doc.find_first(u"c")->text(), u"");
}

TEST(xml_document, text_is_first_text_child_not_text_of_descendants) {
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"<r><a><b>inner</b></a><c>first<d/>second</c><e/><f></f></r>"));
    EXPECT_EQ(doc.find_first(u"a")->text(), u"");
    EXPECT_EQ(doc.find_first(u"c")->text(), u"first");
    EXPECT_EQ(doc.find_first(u"e")->text(), u"");
    EXPECT_EQ(doc.find_first(u"f")->text(), u"");
}

TEST(xml_document, find_first_is_depth_first_in_document_order_and_exact) {
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"<r><x><b id=\"deep\"/></x><b id=\"shallow\"/><B id=\"caps\"/></r>"));
    EXPECT_EQ(doc.find_first(u"b")->attribute(u"id"), u"deep");
    EXPECT_EQ(doc.find_first(u"B")->attribute(u"id"), u"caps");
    EXPECT_EQ(doc.find_first(u"R"), nullptr);
    EXPECT_EQ(doc.find_first(u""), nullptr);
    const xml::element* r = doc.find_first(u"r");
    EXPECT_EQ(r->find_first(u"r"), r);  // the element itself counts
    const xml::element* x = r->find_first(u"x");
    EXPECT_EQ(x->find_first(u"B"), nullptr);  // only its own subtree
}

TEST(xml_document, children_are_direct_in_order_with_text_nodes_unnamed) {
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"<r>\n  <one/>\n  mid\n  <Two><inner/></Two>\n  <three>3</three>\n</r>"));
    const xml::element* r = doc.find_first(u"r");
    const std::vector<std::u16string> expected{u"one", u"", u"Two", u"three"};
    EXPECT_EQ(child_names(*r), expected);
    EXPECT_FALSE(r->children()[1]->is_element());
    EXPECT_TRUE(r->children()[1]->is_text());
    EXPECT_TRUE(r->children()[1]->children().empty());
    EXPECT_EQ(r->children()[1]->attribute(u"x"), u"");
    EXPECT_TRUE(r->children()[2]->is_element());
    // The document node holds the top-level nodes.
    EXPECT_EQ(child_names(*doc.root()), std::vector<std::u16string>{u"r"});
    EXPECT_FALSE(doc.root()->is_element());
}

TEST(xml_document, attribute_forms_and_lookup_by_exact_name) {
    struct row {
        std::u16string name, value;
    };
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"<a d=\"dq\" s='s\"q' u=bare sp = \"spaced\" flag id=\"1\" id=\"2\" "
                          u"Ssl=\"caps\" gt=\"a>b\"/>"));
    const xml::element* a = doc.find_first(u"a");
    ASSERT_NE(a, nullptr);
    const row rows[] = {{u"d", u"dq"},   {u"s", u"s\"q"},  {u"u", u"bare"},   {u"sp", u"spaced"},
                        {u"flag", u""},  {u"id", u"1"},    {u"Ssl", u"caps"}, {u"ssl", u""},
                        {u"gt", u"a>b"}, {u"missing", u""}};
    for (const auto& r : rows) EXPECT_EQ(a->attribute(r.name), r.value) << utf8(r.name);
    EXPECT_TRUE(a->children().empty());
}

TEST(xml_document, ill_formed_input_keeps_what_was_read) {
    struct row {
        std::u16string document, name, text;
    };
    const row rows[] = {
        {u"<r><a>unclosed", u"a", u"unclosed"},
        {u"<r><a v=\"open quote>text", u"a", u""},
        {u"<r></stray><a>kept</a></r>", u"a", u"kept"},
        {u"<r><a>x</r><b>after</b>", u"b", u"after"},
        {u"<r><a>1 < 2</a></r>", u"a", u"1 < 2"},
        {u"<r><a>in<!-- unterminated", u"a", u"in"},
        {u"<r><a><![CDATA[unterminated", u"a", u"unterminated"},
        {u"<r><a<b>t</b></r>", u"b", u"t"},
        {u"<r><a =\"x\" k=v>t</a>", u"a", u"t"},
        {u"<r><a/ >t</a>", u"a", u"t"},
    };
    for (const auto& r : rows) {
        xml::document doc;
        EXPECT_TRUE(doc.parse(r.document)) << utf8(r.document);
        const xml::element* e = doc.find_first(r.name);
        ASSERT_NE(e, nullptr) << utf8(r.document);
        EXPECT_EQ(e->text(), r.text) << utf8(r.document);
    }
}

TEST(xml_document, closing_tag_closes_inner_open_elements_and_later_siblings_move_up) {
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"<r><a><b><c></a><d/></r><e/>"));
    const xml::element* r = doc.find_first(u"r");
    EXPECT_EQ(child_names(*r), (std::vector<std::u16string>{u"a", u"d"}));
    EXPECT_EQ(child_names(*doc.root()), (std::vector<std::u16string>{u"r", u"e"}));
    EXPECT_EQ(child_names(*doc.find_first(u"b")), std::vector<std::u16string>{u"c"});
}

TEST(xml_document, reparse_replaces_the_previous_tree) {
    xml::document doc;
    ASSERT_TRUE(doc.parse(u"<old><x/></old>"));
    ASSERT_TRUE(doc.parse(u"<new/>"));
    EXPECT_EQ(doc.find_first(u"old"), nullptr);
    EXPECT_EQ(doc.find_first(u"x"), nullptr);
    EXPECT_NE(doc.find_first(u"new"), nullptr);
    EXPECT_FALSE(doc.parse(u""));
    EXPECT_EQ(doc.find_first(u"new"), nullptr);
    EXPECT_TRUE(doc.root()->children().empty());
}

TEST(xml_document, zero_units_and_non_ascii_names_are_ordinary_characters) {
    const std::u16string text(u"<\uD55C\uAE00 \uC18D=\"\uAC12\">a\0b</\uD55C\uAE00>", 17);
    xml::document doc;
    ASSERT_TRUE(doc.parse(text));
    const xml::element* e = doc.find_first(u"\uD55C\uAE00");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->attribute(u"\uC18D"), u"\uAC12");
    EXPECT_EQ(e->text(), std::u16string(u"a\0b", 3));
}

// Nesting deep enough to overflow the stack of any recursive parse, search or destruction
// (limits raised past the defaults, which refuse such a document).
TEST(xml_document, very_deep_nesting_does_not_overflow_the_stack) {
    const size_t depth = 300000;
    const xml::limits roomy{1000000, 1000000};
    std::u16string text;
    for (size_t i = 0; i < depth; ++i) text += u"<a>";
    text += u"<leaf>x</leaf>";
    {
        xml::document doc(roomy);
        ASSERT_TRUE(doc.parse(text));
        const xml::element* leaf = doc.find_first(u"leaf");
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(leaf->text(), u"x");
        EXPECT_EQ(doc.find_first(u"missing"), nullptr);
    }
    // Closed again, the other way round.
    for (size_t i = 0; i < depth; ++i) text += u"</a>";
    xml::document doc(roomy);
    ASSERT_TRUE(doc.parse(text));
    EXPECT_EQ(doc.root()->children().size(), 1u);
}

// Many closing tags that match nothing open under a deep stack: each must be dismissed
// without disturbing the open elements.
TEST(xml_document, stray_closing_tags_under_deep_nesting_are_ignored) {
    std::u16string text;
    for (int i = 0; i < 50000; ++i) text += u"<a>";
    for (int i = 0; i < 50000; ++i) text += u"</b>";
    text += u"<tail/>";
    xml::document doc(xml::limits{1000000, 1000000});
    ASSERT_TRUE(doc.parse(text));
    const xml::element* tail = doc.find_first(u"tail");
    ASSERT_NE(tail, nullptr);
    // Still nested inside the innermost <a>.
    const xml::element* a = doc.find_first(u"a");
    size_t levels = 0;
    while (a != nullptr && !a->children().empty() && a->children()[0]->name() == u"a") {
        a = a->children()[0];
        ++levels;
    }
    EXPECT_EQ(levels, 49999u);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->children().size(), 1u);
    EXPECT_EQ(a->children()[0], tail);
}

// A server's document may not grow the tree without bound: past a limit the whole document
// is refused, with a line naming the limit; at the limit it is read as usual.
TEST(xml_document, documents_past_the_node_or_depth_limit_are_refused_whole) {
    test_support::log_capture log;
    auto repeat = [](std::u16string_view piece, size_t times) {
        std::u16string out;
        for (size_t i = 0; i < times; ++i) out += piece;
        return out;
    };
    const xml::limits small{100, 10};
    struct row {
        const char* name;
        std::u16string text;
        bool parsed;
        const char16_t* line;
    } rows[] = {
        {"100 flat elements", repeat(u"<a/>", 100), true, nullptr},
        {"101 flat elements", repeat(u"<a/>", 101), false, u"* 오류: XML 문서가 한도를 넘었습니다. (nodes > 100)"},
        {"text nodes count", u"<r>" + repeat(u"x<a/>", 50) + u"</r>", false, u"* 오류: XML 문서가 한도를 넘었습니다. (nodes > 100)"},
        {"attributes count", u"<r" + repeat(u" b", 100) + u"/>", false, u"* 오류: XML 문서가 한도를 넘었습니다. (nodes > 100)"},
        {"10 deep", repeat(u"<a>", 10) + u"<leaf/>", true, nullptr},
        {"11 deep", repeat(u"<a>", 11), false, u"* 오류: XML 문서가 한도를 넘었습니다. (depth > 10)"},
        {"unterminated tags nest", repeat(u"<a", 11), false, u"* 오류: XML 문서가 한도를 넘었습니다. (depth > 10)"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        xml::document doc(small);
        EXPECT_EQ(doc.parse(r.text), r.parsed);
        EXPECT_EQ(doc.find_first(u"a") != nullptr, r.parsed);
        if (r.line) {
            EXPECT_TRUE(log.has_line(r.line)) << log.lines_utf8();
        }
    }
    // The defaults: a 4 MiB text of nested tags (a few seconds and a gigabyte unbounded).
    xml::document doc;
    EXPECT_FALSE(doc.parse(repeat(u"<a>", (4u << 20) / 3)));
    EXPECT_TRUE(log.has_line(u"* 오류: XML 문서가 한도를 넘었습니다. (depth > 1000)")) << log.lines_utf8();
}

// Seeds and any input the fuzzer once found a fault with are replayed here.
std::vector<std::filesystem::path> files_in(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(folder))
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            if (entry.is_regular_file()) files.push_back(entry.path());
    return files;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path source_dir() {
    const char* dir = std::getenv("QUORLA_SOURCE_DIR");
    return dir ? std::filesystem::path(dir) : std::filesystem::path(QUORLA_XML_SOURCE_DIR) / "..";
}

TEST(xml_document, seed_corpus_documents_parse_and_fuzz_regressions_stay_safe) {
    // The documents we wrote (*.xml); what the fuzzer kept beside them is replayed by
    // xml_fuzz_replay, and need not parse.
    std::vector<std::filesystem::path> seeds;
    for (const auto& path : files_in(source_dir() / "xml" / "fuzz_corpus"))
        if (path.extension() == ".xml") seeds.push_back(path);
    ASSERT_FALSE(seeds.empty());
    for (const auto& path : seeds) {
        const std::string bytes = read_file(path);
        const std::u16string narrow(bytes.begin(), bytes.end());
        xml::document doc;
        EXPECT_TRUE(doc.parse(narrow)) << path;
        EXPECT_FALSE(doc.root()->children().empty()) << path;
    }
    for (const auto& path : files_in(source_dir() / "xml" / "fuzz_regressions")) {
        const std::string bytes = read_file(path);
        std::u16string units(bytes.size() / 2, u'\0');
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            units[i / 2] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
        for (const std::u16string& text : {units, std::u16string(bytes.begin(), bytes.end())}) {
            xml::document doc;
            doc.parse(text);
            doc.find_first(u"startup");
        }
    }
}

}  // namespace
