// The shared test server itself: routes, sequences, folders and the request record that
// other tests build on.
#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "inet/rest.h"
#include "tests/support/sandbox.h"

namespace {

using test_support::http_server;
using test_support::reply;

std::string body_of(const inet::rest::_response& r) {
    return std::string(r.body.begin(), r.body.begin() + r.body_size);
}

// Sends exactly `request` and returns everything the server answers.
std::string raw_exchange(uint16_t port, const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return "";
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof(buf), 0)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

TEST(test_http_server, sequence_answers_in_order_then_repeats_the_last) {
    http_server shop;
    shop.serve_sequence("/cart", {reply::text("busy"), reply::text("busy"), reply::text("done")});
    std::vector<std::string> got;
    for (int i = 0; i < 4; ++i)
        got.push_back(body_of(*inet::rest::get(shop.url16("/cart?key=" + std::to_string(i)), {})));
    EXPECT_EQ(got, (std::vector<std::string>{"busy", "busy", "done", "done"}));
    EXPECT_EQ(shop.request_count("/cart"), 4);
    EXPECT_EQ(shop.request_count("/other"), 0);
    EXPECT_EQ(shop.last_request().target, "/cart?key=3");
    EXPECT_EQ(shop.last_request().path, "/cart");
}

TEST(test_http_server, folder_serves_files_and_refuses_escapes) {
    std::filesystem::path dir = test_support::make_temporary_folder("quorla-srv");
    std::filesystem::create_directories(dir / "pub" / "sub");
    std::ofstream(dir / "pub" / "sub" / "a.zip", std::ios::binary) << "zipbytes";
    std::ofstream(dir / "secret") << "secret";
    http_server shop;
    shop.serve_folder("/update/", dir / "pub");

    auto ok = inet::rest::get(shop.url16("/update/sub/a.zip"), {});
    EXPECT_EQ(ok->status, 200);
    EXPECT_EQ(body_of(*ok), "zipbytes");
    EXPECT_EQ(inet::rest::get(shop.url16("/update/missing"), {})->status, 404);
    EXPECT_EQ(inet::rest::get(shop.url16("/elsewhere"), {})->status, 404);
    std::string escaped = raw_exchange(shop.port(), "GET /update/../secret HTTP/1.0\r\n\r\n");
    EXPECT_EQ(escaped.rfind("HTTP/1.1 404", 0), 0u) << escaped;
    EXPECT_EQ(escaped.find("secret"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(test_http_server, records_the_raw_request_as_received) {
    http_server shop;
    shop.handle("/echo", [](const test_support::recorded_request& r) {
        return reply::text(r.method + " " + r.header("x-probe"));
    });
    std::string answer = raw_exchange(
        shop.port(), "GET /echo?a=1 HTTP/1.1\r\nHost: here\r\nX-Probe:  value \r\n\r\n");
    EXPECT_NE(answer.find("Content-Length: 9\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\r\n\r\nGET value"), std::string::npos) << answer;
    auto r = shop.last_request();
    EXPECT_EQ(r.request_line, "GET /echo?a=1 HTTP/1.1");
    EXPECT_EQ(r.raw_head, "GET /echo?a=1 HTTP/1.1\r\nHost: here\r\nX-Probe:  value \r\n\r\n");
    EXPECT_EQ(r.version, "HTTP/1.1");
    ASSERT_EQ(r.headers.size(), 2u);
    EXPECT_EQ(r.headers[1].first, "X-Probe");
    EXPECT_TRUE(r.has_header("HOST"));
    EXPECT_FALSE(r.has_header("User-Agent"));
}

TEST(test_http_server, stop_lets_a_stalled_client_go) {
    http_server shop;
    shop.serve_raw("/hang", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab",
                   test_support::raw_end::stall);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(shop.port());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    std::string req = "GET /hang HTTP/1.0\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    while (shop.request_count("/hang") == 0) usleep(10000);
    shop.stop();  // returns although the client still holds the connection
    char buf[256];
    std::string got;
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof(buf), 0)) > 0) got.append(buf, static_cast<size_t>(n));
    ::close(fd);
    EXPECT_NE(got.find("\r\n\r\nab"), std::string::npos);
}

TEST(test_http_server, closed_port_refuses_connections) {
    std::string url = test_support::closed_port_url();
    uint16_t port = static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
    EXPECT_EQ(raw_exchange(port, "GET / HTTP/1.0\r\n\r\n"), "");
}

TEST(test_http_server, certificate_is_self_signed_expired_and_for_another_host) {
    FILE* in = std::fopen(test_support::test_certificate().c_str(), "r");
    ASSERT_NE(in, nullptr);
    X509* cert = PEM_read_X509(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)), 0);
    EXPECT_LT(X509_cmp_current_time(X509_get0_notAfter(cert)), 0);  // in the past
    char cn[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof(cn));
    EXPECT_STREQ(cn, "quorla-test.invalid");
    X509_free(cert);
}

}  // namespace
