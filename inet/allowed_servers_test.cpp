#include "inet/allowed_servers.h"

#include <gtest/gtest.h>

#include <string>

#include "inet/rest.h"
#include "quorla_config.h"
#include "tests/support/http_server.h"

namespace {

struct allowed_list_guard {
    std::vector<std::u16string> saved = inet::allowed_servers();
    ~allowed_list_guard() { inet::set_allowed_servers(saved); }
};

TEST(inet_allowed_servers, default_build_allows_every_server) {
    EXPECT_TRUE(inet::built_in_allowed_servers().empty());
    EXPECT_TRUE(inet::server_allowed(u"http://anything.example/x"));
    EXPECT_TRUE(inet::server_allowed(u"not even an address"));
}

TEST(inet_allowed_servers, list_text_splits_on_semicolons_commas_and_spaces) {
    EXPECT_EQ(inet::parse_server_list(u" a.example;*.B.example, c.example.  ;;"),
              (std::vector<std::u16string>{u"a.example", u"*.b.example", u"c.example"}));
    EXPECT_TRUE(inet::parse_server_list(u"").empty());
}

TEST(inet_allowed_servers, host_matching_table) {
    const std::vector<std::u16string> list = {u"shop.example", u"*.cdn.example", u"127.0.0.1"};
    struct row {
        const char16_t* host;
        bool allowed;
    } rows[] = {
        {u"shop.example", true},       {u"SHOP.Example", true},  // host names ignore letter case
        {u"shop.example.", true},                                // the root dot names the same host
        {u"www.shop.example", false},                            // no wildcard for shop.example
        {u"shop.example.evil", false},  // a listed name as a prefix is not enough
        {u"evilshop.example", false},   // nor as a suffix without the dot
        {u"img.cdn.example", true},     // one level below the wildcard
        {u"a.b.cdn.example", true},     // and deeper
        {u"cdn.example", false},        // "*." means below, not the domain itself
        {u"xcdn.example", false},      {u"127.0.0.1", true},    {u"127.0.0.2", false}, {u"", false},
    };
    for (const row& r : rows)
        EXPECT_EQ(inet::host_matches(r.host, list), r.allowed)
            << std::string(r.host, r.host + std::char_traits<char16_t>::length(r.host));
}

TEST(inet_allowed_servers, addresses_are_judged_by_the_host_they_really_reach) {
    allowed_list_guard guard;
    inet::set_allowed_servers({u"shop.example"});
    struct row {
        const char16_t* url;
        bool allowed;
    } rows[] = {
        {u"https://shop.example/startup?key=1", true},
        {u"http://shop.example:8080/update/", true},
        {u"http://evil.example/?next=http://shop.example/", false},
        {u"http://shop.example@evil.example/", false},  // credentials, then the real host
        {u"http://evil.example#@shop.example/", false},
        {u"ftp://shop.example/", false},   // a scheme the launcher never speaks
        {u"shop.example/startup", false},  // no scheme: not an address at all
        {u"", false},
    };
    for (const row& r : rows) {
        const std::u16string url = r.url;
        EXPECT_EQ(inet::server_allowed(url), r.allowed) << std::string(url.begin(), url.end());
    }
}

}  // namespace

namespace {

using test_support::http_server;
using test_support::reply;

TEST(inet_allowed_servers, redirect_leaving_the_allowed_servers_is_not_followed) {
    allowed_list_guard guard;
    inet::set_allowed_servers({u"127.0.0.1"});
    http_server shop;
    const std::string port = std::to_string(shop.port());
    shop.serve_bytes("/x", "the answer");
    shop.serve("/relative", reply::redirect("/x"));
    shop.serve("/same-host", reply::redirect("http://127.0.0.1:" + port + "/x"));
    // The same server under another name: only the list decides, not where it really is.
    shop.serve("/other-host", reply::redirect("http://localhost:" + port + "/x"));
    shop.serve("/two-steps", reply::redirect("/other-host"));

    for (const char* path : {"/relative", "/same-host"}) {
        auto r = inet::rest::get(shop.url16(path), inet::rest::request_options());
        EXPECT_EQ(r->status, 200) << path << ": " << r->error;
    }
    const int answered = shop.request_count("/x");
    for (const char* path : {"/other-host", "/two-steps"}) {
        auto r = inet::rest::get(shop.url16(path), inet::rest::request_options());
        EXPECT_EQ(r->status, -1) << path;
        EXPECT_STREQ(r->error, "redirect to a server that is not allowed: localhost") << path;
        EXPECT_EQ(r->body_size, 0);
    }
    EXPECT_EQ(shop.request_count("/x"), answered);

    inet::set_allowed_servers({});
    EXPECT_EQ(inet::rest::get(shop.url16("/other-host"), inet::rest::request_options())->status,
              200);
}

TEST(inet_allowed_servers, https_only_build_refuses_plain_http_and_redirects_to_it) {
    EXPECT_EQ(inet::https_only(), QUORLA_HTTPS_ONLY != 0);
    struct restore {
        bool saved = inet::https_only();
        ~restore() { inet::set_https_only(saved); }
    } restored;
    inet::set_https_only(true);
    const struct {
        const char16_t* url;
        bool allowed;
    } rows[] = {{u"https://shop.example/x", true}, {u"HTTPS://shop.example/x", true},
                {u"http://shop.example/x", false}, {u"ftp://shop.example/x", false},
                {u"https:/shop.example", false},   {u"", false}};
    for (const auto& r : rows)
        EXPECT_EQ(inet::server_allowed(r.url), r.allowed) << std::u16string(r.url).size();

    http_server plain;
    http_server secure(true);
    plain.serve_bytes("/x", "plain");
    secure.serve_bytes("/y", "secure");
    secure.serve("/to-http", reply::redirect(plain.url("/x")));
    secure.serve("/to-https", reply::redirect("/y"));
    EXPECT_EQ(inet::rest::get(secure.url16("/to-https"), inet::rest::request_options())->status,
              200);
    const auto r = inet::rest::get(secure.url16("/to-http"), inet::rest::request_options());
    EXPECT_EQ(r->status, -1);
    EXPECT_STREQ(r->error,
                 ("redirect to an address that is not https: " + plain.url("/x")).c_str());
    EXPECT_EQ(plain.request_count("/x"), 0);
}

}  // namespace
