// A build made with QUORLA_ALLOWED_SERVERS: the list reaches the code and is in force at once.
#define QUORLA_ALLOWED_SERVERS "shop.example,*.CDN.example."
#include <gtest/gtest.h>

#include "inet/allowed_servers.cpp"  // NOLINT(bugprone-suspicious-include): the source itself, with a list

TEST(inet_allowed_build, list_given_to_the_build_is_in_force_from_the_start) {
    EXPECT_EQ(inet::allowed_servers(),
              (std::vector<std::u16string>{u"shop.example", u"*.cdn.example"}));
    EXPECT_TRUE(inet::server_allowed(u"https://SHOP.example/startup?key=1"));
    EXPECT_TRUE(inet::server_allowed(u"http://img.cdn.example:8080/update/"));
    EXPECT_FALSE(inet::server_allowed(u"http://127.0.0.1/startup"));
    EXPECT_FALSE(inet::server_allowed(u"http://cdn.example/"));
}
