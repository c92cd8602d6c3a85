// The shared test server itself: routes, sequences, folders and the request record that
// other tests build on.
#include "tests/support/http_server.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "inet/rest.h"
#include "tests/support/loopback_socket.h"
#include "tests/support/sandbox.h"

namespace {

using test_support::http_server;
using test_support::reply;
namespace loopback = test_support::loopback;

std::string body_of(const inet::rest::_response& r) {
    return std::string(r.body.begin(), r.body.begin() + r.body_size);
}

// Sends exactly `request` and returns everything the server answers.
std::string raw_exchange(uint16_t port, const std::string& request) {
    loopback::socket_id fd = loopback::connect_to(port);
    if (fd == loopback::no_socket) return "";
    loopback::send_some(fd, request.data(), request.size());
    std::string out;
    char buf[4096];
    long n;
    while ((n = loopback::receive_some(fd, buf, sizeof(buf))) > 0)
        out.append(buf, static_cast<size_t>(n));
    loopback::close_socket(fd);
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
    loopback::socket_id fd = loopback::connect_to(shop.port());
    ASSERT_NE(fd, loopback::no_socket);
    std::string req = "GET /hang HTTP/1.0\r\n\r\n";
    loopback::send_some(fd, req.data(), req.size());
    while (shop.request_count("/hang") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    shop.stop();  // returns although the client still holds the connection
    char buf[256];
    std::string got;
    long n;
    while ((n = loopback::receive_some(fd, buf, sizeof(buf))) > 0)
        got.append(buf, static_cast<size_t>(n));
    loopback::close_socket(fd);
    EXPECT_NE(got.find("\r\n\r\nab"), std::string::npos);
}

// A client that stopped reading (a sink that refused the rest of a large body, with the
// connection still open) leaves the server blocked in a send: stop() must not wait for it.
TEST(test_http_server, stop_lets_a_client_that_stopped_reading_go) {
    http_server shop;
    shop.serve_bytes("/big", std::string(64 << 20, 'x'));
    loopback::socket_id fd = loopback::connect_to(shop.port());
    ASSERT_NE(fd, loopback::no_socket);
    std::string req = "GET /big HTTP/1.0\r\n\r\n";
    loopback::send_some(fd, req.data(), req.size());
    while (shop.request_count("/big") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // both buffers fill up
    shop.stop();
    loopback::close_socket(fd);
}

TEST(test_http_server, closed_port_refuses_connections) {
    std::string url = test_support::closed_port_url();
    uint16_t port = static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
    EXPECT_EQ(raw_exchange(port, "GET / HTTP/1.0\r\n\r\n"), "");
}

TEST(test_http_server, certificate_is_self_signed_expired_and_for_another_host) {
    std::ifstream in(test_support::test_certificate(), std::ios::binary);
    std::ostringstream pem;
    pem << in.rdbuf();
    const std::string text = pem.str();
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)), 0);
    EXPECT_LT(X509_cmp_current_time(X509_get0_notAfter(cert)), 0);  // in the past
    char cn[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof(cn));
    EXPECT_STREQ(cn, "quorla-test.invalid");
    X509_free(cert);
}

}  // namespace
