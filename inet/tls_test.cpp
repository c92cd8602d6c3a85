// Certificate policy: every case runs with both policies against the self-signed test server.
#include <gtest/gtest.h>

#include "inet/rest.h"
#include "inet/session.h"
#include "quorla_config.h"
#include "tests/support/http_server.h"
#include "text/text.h"

namespace {

using inet::rest::request_options;
using test_support::http_server;
using test_support::reply;

std::string body_of(const inet::rest::_response& r) {
    return std::string(r.body.begin(), r.body.begin() + std::max(0, r.body_size));
}

class inet_tls : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { inet::set_verifies_certificates(GetParam()); }
    void TearDown() override { inet::set_verifies_certificates(saved_); }

  private:
    bool saved_ = inet::verifies_certificates();
};

TEST_P(inet_tls, https_with_self_signed_expired_certificate_for_another_host_follows_the_policy) {
    http_server secure(true);
    secure.serve_bytes("/startup.xml", "secret");
    auto r = inet::rest::get(secure.url16("/startup.xml"), request_options());
    if (inet::verifies_certificates()) {
        EXPECT_EQ(r->status, -1);
        EXPECT_STRNE(r->error, "");
        EXPECT_EQ(r->body_size, 0);
        EXPECT_EQ(secure.request_count("/startup.xml"), 0);
    } else {
        EXPECT_EQ(r->status, 200) << r->error;
        EXPECT_EQ(body_of(*r), "secret");
    }
}

TEST(inet_build, verification_follows_the_quorla_verify_tls_definition) {
    EXPECT_EQ(inet::verifies_certificates(), QUORLA_VERIFY_TLS != 0);
}

TEST_P(inet_tls, redirects_are_followed_between_http_and_https) {
    http_server plain;
    http_server secure(true);
    plain.serve("/to-https", reply::redirect(secure.url("/landing?x=1")));
    secure.serve_bytes("/landing", "over tls");
    secure.serve("/to-http", reply::redirect(plain.url("/back"), 301));
    plain.serve_bytes("/back", "plain again");

    auto r1 = inet::rest::get(plain.url16("/to-https"), request_options());
    std::string landing_line = secure.last_request().request_line;
    auto r2 = inet::rest::get(secure.url16("/to-http"), request_options());
    if (inet::verifies_certificates()) {
        EXPECT_EQ(r1->status, -1);
        EXPECT_EQ(r2->status, -1);
        return;
    }
    EXPECT_EQ(r1->status, 200) << r1->error;
    EXPECT_EQ(body_of(*r1), "over tls");
    EXPECT_EQ(landing_line, "GET /landing?x=1 HTTP/1.0");
    EXPECT_EQ(r2->status, 200) << r2->error;
    EXPECT_EQ(body_of(*r2), "plain again");
    EXPECT_EQ(plain.request_count("/back"), 1);
    EXPECT_EQ(plain.last_request().header("User-Agent"),
              to_narrow_acp(inet::rest::default_user_agent()));
}

INSTANTIATE_TEST_SUITE_P(policy, inet_tls, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "verifying" : "accepting";
                         });

}  // namespace
