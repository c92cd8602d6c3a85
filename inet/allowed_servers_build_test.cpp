// The list a build is made with (QUORLA_ALLOWED_SERVERS, in the generated quorla_config.h).
#include <gtest/gtest.h>

#include "inet/allowed_servers.h"
#include "quorla_config.h"
#include "text/text.h"

namespace {

TEST(inet_allowed_build, list_given_to_the_build_is_in_force_from_the_start) {
    const auto built = inet::parse_server_list(from_utf8(QUORLA_ALLOWED_SERVERS));
    EXPECT_EQ(inet::built_in_allowed_servers(), built);
    EXPECT_EQ(inet::allowed_servers(), built);
}

// A list as a shop writes it for its build: names, a wildcard, any letter case, a final dot.
TEST(inet_allowed_build, list_text_of_a_build_is_in_force_as_written) {
    // A copy: the list in force changes below, and this puts it back.
    const std::vector<std::u16string> saved = inet::allowed_servers();  // NOLINT(performance-unnecessary-copy-initialization)
    inet::set_allowed_servers(inet::parse_server_list(u"shop.example,*.CDN.example."));
    EXPECT_EQ(inet::allowed_servers(),
              (std::vector<std::u16string>{u"shop.example", u"*.cdn.example"}));
    EXPECT_TRUE(inet::server_allowed(u"https://SHOP.example/startup?key=1"));
    EXPECT_TRUE(inet::server_allowed(u"http://img.cdn.example:8080/update/"));
    EXPECT_FALSE(inet::server_allowed(u"http://127.0.0.1/startup"));
    EXPECT_FALSE(inet::server_allowed(u"http://cdn.example/"));
    inet::set_allowed_servers(saved);
}

}  // namespace
