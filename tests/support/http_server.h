#pragma once
// Loopback HTTP and HTTPS test server shared by every test that talks to a "shop".
//
//   test_support::http_server shop;                 // http://127.0.0.1:<ephemeral port>
//   test_support::http_server secure(true);         // https, self-signed certificate
//   shop.serve_bytes("/startup.xml", xml);          // 200 with Content-Length
//   shop.serve_folder("/update/", dir);             // /update/a/b.zip -> dir/a/b.zip
//   shop.serve_sequence("/cart", {test_support::reply::text(busy),    // first answer,
//                                 test_support::reply::text(busy),    // second,
//                                 test_support::reply::text(done)});  // then this one forever
//   shop.handle("/x", [](const recorded_request& r) { return reply::text(r.target); });
//   shop.serve_raw("/cut", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");  // exact bytes
//   inet::rest::get(shop.url16("/startup.xml?key=K"), {});
//   shop.serve_ranged("/a.zip", {.body = zip, .cuts = {1000}});  // a static file, cut once
//   EXPECT_EQ(shop.request_count("/cart"), 3);
//   EXPECT_EQ(shop.last_request().request_line, "GET /cart HTTP/1.0");
//
// Routes match the request path without its query. An unknown path gets 404 "not found".
// Every connection answers one request and is closed. Requests are recorded before they are
// answered, so a stalled answer still counts. The server starts in the constructor and stops
// in the destructor (stalled answers are let go then). Starting a server also makes sure the
// loopback addresses bypass any proxy the environment configures (no_proxy / NO_PROXY).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace test_support {

struct recorded_request {
    std::string raw_head;      // request line and headers, up to and including the blank line
    std::string request_line;  // "GET /a?b=c HTTP/1.0" (without CR LF)
    std::string method, target, path, version;                 // path: the target without its query
    std::vector<std::pair<std::string, std::string>> headers;  // as received, in order

    // First value of a header, letter case of the name ignored; "" when absent.
    std::string header(std::string_view name) const;
    bool has_header(std::string_view name) const;
};

// What the server does after writing the exact bytes of a raw answer.
enum class raw_end {
    close,    // orderly close: the client sees the end of the stream
    stall,    // keep the connection open and silent until the client gives up or the server stops
    reset,    // abort the connection (TCP reset)
    endless,  // keep sending filler bytes ('x') until the client goes away or the server stops
    trickle,  // one filler byte every 200 ms, as long as the client reads and the server runs
    endless_head,  // header lines ("X-Filler: yyy...") as fast as the client takes them, never a
                   // blank one
};

// An ordinary answer. The server adds the status line, "Connection: close" and, unless
// content_length is false, "Content-Length"; `headers` follow as given.
struct reply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool content_length = true;

    static reply text(std::string body, int status = 200);
    static reply redirect(std::string location, int status = 302);
    // `body` sent with "Transfer-Encoding: chunked" in pieces of `piece` bytes.
    static reply chunked(const std::string& body, size_t piece = 1000);
    // Exactly these bytes, nothing added, then `after` (as serve_raw, but usable in sequences
    // and handlers).
    static reply raw(std::string bytes, raw_end after = raw_end::close);

    bool is_raw = false;
    raw_end after = raw_end::close;
};

// A file served as static file servers serve one: "Accept-Ranges: bytes", a validator, and
// "Range: bytes=N-" answered with 206 and "Content-Range: bytes N-END/TOTAL" (with If-Range only
// while the validator is the file's; else 200 with the whole body; 416 past the end). Scripted
// faults make the lines that break off.
struct ranged_file {
    std::string body{};
    std::string etag = "\"q1\"";  // sent when not empty; If-Range compares with it
    std::string last_modified{};   // sent when not empty; compared when there is no etag
    bool accept_ranges = true;     // "Accept-Ranges: bytes" in every answer
    bool honour_range = true;      // false: Range is ignored, every answer is 200 with all
    int64_t shift_start = 0;       // a 206 begins this many bytes before the start asked for
    // Offsets into the body, ascending: the answer that reaches one ends there (the line is
    // cut after that byte). Each is used once; one behind the start of an answer counts as used.
    std::vector<int64_t> cuts{};
    raw_end cut_with = raw_end::close;  // close or reset
    int64_t bytes_per_second = 0;       // 0: as fast as the client takes them
};

// An https server's certificate: wrong in every way (test_certificate()), or one that the
// tests' own authority signed for 127.0.0.1 and localhost (test_authority_certificate()).
enum class server_certificate { wrong_in_every_way, signed_by_test_authority };

class http_server {
  public:
    explicit http_server(bool tls = false,
                         server_certificate which = server_certificate::wrong_in_every_way);
    ~http_server();
    http_server(const http_server&) = delete;
    http_server& operator=(const http_server&) = delete;

    bool tls() const;
    uint16_t port() const;
    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT", no trailing slash.
    std::string base_url() const;
    std::string url(std::string_view path) const;       // base_url() + path
    std::u16string url16(std::string_view path) const;  // the same as wide text

    void serve(const std::string& path, const reply& answer);
    void serve_bytes(const std::string& path, std::string bytes);
    // Answers in order; the last one repeats.
    void serve_sequence(const std::string& path, std::vector<reply> answers);
    // Every path below `prefix` (which ends with "/") maps to the file of that relative name
    // in `folder`; missing files and names with ".." get 404.
    void serve_folder(const std::string& prefix, const std::filesystem::path& folder);
    // Exactly these bytes, no status line or header added, then `after`.
    void serve_raw(const std::string& path, const std::string& bytes,
                   raw_end after = raw_end::close);
    void handle(const std::string& path,
                const std::function<reply(const recorded_request&)>& handler);
    // A file with ranges (see ranged_file); serving the path again starts its cuts afresh.
    void serve_ranged(const std::string& path, ranged_file file);

    // Bytes written on the connections of requests for a path (query ignored): heads, bodies
    // and raw bytes, whatever the client did with them.
    int64_t bytes_sent(std::string_view path) const;

    // Requests received so far for a path (query ignored) and for all paths, in order.
    int request_count(std::string_view path) const;
    std::vector<recorded_request> requests() const;
    recorded_request last_request() const;  // default-constructed when there was none

    // Stops accepting, lets stalled connections go and waits for every connection thread.
    void stop();

    struct impl;

  private:
    std::unique_ptr<impl> p;
};

// "http://127.0.0.1:PORT" of a loopback port where nothing listens (connection refused).
// Like a server start, it makes loopback addresses bypass proxies.
std::string closed_port_url();

// Adds 127.0.0.1, localhost and ::1 to no_proxy and NO_PROXY, so that a proxy configured in
// the environment never sees test traffic. Servers and closed_port_url() call it.
void bypass_proxies_for_loopback();

// Paths of the certificate and key of the https servers, made once per process with the
// openssl command: self-signed, issued for "quorla-test.invalid" (not 127.0.0.1) and valid
// only on 1 January 2020, so a client that checks anything refuses it.
std::filesystem::path test_certificate();
std::filesystem::path test_private_key();
// The tests' own certificate authority (PEM): trusted, it makes the certificate of a
// signed_by_test_authority server pass every check.
std::filesystem::path test_authority_certificate();

}  // namespace test_support
