#include "startup/startup_file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_log.h"
#include "text/text.h"

namespace {

bool load(startup_file_xml& s, const std::string& bytes) {
    return s.load(bytes.data(), static_cast<int32_t>(bytes.size()));
}

TEST(startup_file, minimal_document_loads) {
    test_support::log_capture log;
    startup_file_xml s;
    ASSERT_TRUE(load(s, "<?xml version=\"1.0\" encoding=\"utf-8\"?><startup><todo>new</todo></startup>"));
    EXPECT_EQ(s.todo, u"new");
}

}  // namespace
