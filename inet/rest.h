#pragma once
// The launcher's small REST client: one HTTP(S) GET per call, the outcome in a record.
// Nothing throws out of get / get_to_file.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "inet/cracked_url.h"
#include "inet/session.h"

namespace inet::rest {

// The platform browser's text composed into the launcher's user agent.
std::u16string default_user_agent();
// Composition rule: every " MSIE 7.0;" removed (the search resumes where a removal happened),
// "Mozilla/4.0 (compatible; Windows NT)" when nothing is left or given, then
// " WinInetRest/1.0" appended. POSIX passes "".
std::string compose_user_agent(std::string platform_text);

// The time-outs every default-built request_options starts from. The launcher never changes
// them; tests shorten them to bring a stalled server to an end quickly.
struct timeouts {
    int32_t connect = 60;    // seconds
    int32_t transfer = 600;  // seconds without progress, sending and receiving each
    // Seconds for a whole request whose body is kept in memory (documents of a few
    // kilobytes), counted from the connection on; a trickling server cannot hold the run.
    int32_t memory_total = 60;
    // Seconds over which a body must bring at least min_bytes_per_second on average, else
    // the request fails (0: no such bound). Far below any customer's line: only a server
    // that trickles meets it, and the no-progress limit never would.
    int32_t slow_window = 120;
    int32_t min_bytes_per_second = 1024;
};
timeouts& default_timeouts();

struct request_options {
    int32_t connect_timeout = default_timeouts().connect;    // seconds
    int32_t transfer_timeout = default_timeouts().transfer;  // seconds without progress
    // Seconds for the whole exchange once connected, 0 without limit; get() only.
    int32_t total_timeout = default_timeouts().memory_total;
    // Most body bytes the sink may take (-1: no limit of its own). A larger announced length
    // fails the request before the body is read; a body that grows past it fails as it does.
    int64_t max_body_bytes = -1;
    int32_t slow_window = default_timeouts().slow_window;  // seconds; see timeouts
    int32_t min_bytes_per_second = default_timeouts().min_bytes_per_second;
    std::u16string user_agent = default_user_agent();
};

struct _response {
    int32_t status = -1;        // -1: no status code, or the request failed
    double content_length = 0;  // -1 when the response had no Content-Length
    bool chunked = false;       // Transfer-Encoding contains "chunked"
    std::vector<uint8_t> body;  // memory sink only
    int32_t body_size = 0;      // bytes of body in use
    char error[256] = {};       // system code page, empty unless the request failed
    std::u16string final_url;   // where redirects ended; empty when none was followed
    // From the final head, for a download that may go on where it broke off.
    bool accepts_ranges = false;  // Accept-Ranges names "bytes"
    std::string validator;        // the strong ETag, else Last-Modified; empty without either
    std::string content_range;    // as sent; empty without one
    // The connection could not be made or broke off during the exchange (not a limit of ours
    // and not a refused answer).
    bool line_failed = false;
    bool resumed = false;  // a 206 continued the file get_to_file was asked to continue
    // With a 407: the proxy that wants credentials, as the user's settings name it (the server
    // that answered when they name none).
    std::u16string proxy;
};

// A proxy asked for credentials the launcher has none to give (407, the tunnel of an https
// request included): asking again brings the same answer, so callers do not retry.
bool proxy_refused(const _response& response);

// What a file holds of a body that broke off, and what tells whether the server still has
// the same body: a strong ETag, else Last-Modified.
struct partial_body {
    int64_t offset = 0;     // bytes in the file; 0: nothing to continue
    std::string validator;  // printable ASCII, no line breaks
    int64_t total = -1;     // length of the whole body, -1 when not known
};

// The start, end and total of "bytes START-END/TOTAL" (TOTAL -1 for "*"); false when the text
// is not of that form or END < START.
bool parse_content_range(std::string_view text, int64_t& start, int64_t& end, int64_t& total);
// Whether a validator may be sent back in If-Range: 1 to 256 printable ASCII characters.
bool validator_is_sendable(std::string_view validator);

// Receives body pieces: (bytes, element size, element count, target); returns bytes taken.
using body_sink = int64_t (*)(const void* data, int64_t size, int64_t count, void* target);
// Largest body kept in memory. Documents read into memory (startup document, manifest, cart
// answers) are a few kilobytes; a server that sends more is refused rather than let grow.
constexpr int32_t max_memory_body = 16 * 1024 * 1024;
// Target: the _response. Grows body to exactly what is needed; 0 (with the reason in the
// record's error) when memory runs out or the body would pass max_memory_body.
int64_t memory_sink(const void* data, int64_t size, int64_t count, void* target);
// Target: a std::FILE* opened for binary writing; 0 when it is null or the write fails.
int64_t file_sink(const void* data, int64_t size, int64_t count, void* target);

// How the error text of a request stopped by the slow-body bound begins.
constexpr char body_too_slow[] = "response body arrives too slowly";

// How the error text of a request stopped by max_body_bytes begins.
constexpr char body_over_limit[] = "response body larger than the bytes allowed here";

// Largest piece handed to a sink.
constexpr int32_t read_buffer_size = 8096;

// A session configured from the options: agent, 3 connect retries, time-outs in ms,
// connection limits. Check is_open() before use.
std::unique_ptr<CMyInternetSession> open_session(const request_options& options);

// Whether a body follows the head: a positive Content-Length, chunked coding, or no length at
// all (the body then ends when the server closes the connection), except for the statuses
// that never carry one (1xx, 204, 304). Content-Length 0 is an empty body.
bool body_follows(const _response& response);

// The exchange on an opened request: send, status, Content-Length, Transfer-Encoding, and the
// body into the sink when one follows (see body_follows). Transport
// failures, and a sink that does not take a whole piece (disk full, body too large), end
// the exchange with status -1 and error; bytes already delivered stay with the sink.
// `on_head`, when given, sees the answer's head before its body: it may change the bytes the
// body may take (`allowed`, -1 without limit) and returns false to end the exchange there.
using head_check = std::function<bool(_response& response, int64_t& allowed)>;
void execute_request(http_request& request, const request_options& options, const cracked_url& url,
                     body_sink sink, void* target, _response& response,
                     const head_check& on_head = nullptr);

// GET into memory. Never returns null.
std::shared_ptr<_response> get(const std::u16string& url, const request_options& options);
// GET into the file at `path`, created or truncated first whatever happens next. Never null.
std::shared_ptr<_response> get_to_file(const std::u16string& url, const request_options& options,
                                       const std::u16string& path);
// GET into the file at `path`, continuing it where `partial` says it holds the start of this
// body: the request asks for the rest ("Range: bytes=N-", "If-Range: validator"), and a 206
// whose Content-Range begins at N (and whose total agrees) is appended (`resumed`). Any other
// answer replaces the file from its start (a 206 for another range fails the request, its body
// unread). max_body_bytes limits the bytes added to the file by this request. Afterwards
// `partial` describes the file when the line broke off on a body that can be continued (the
// server named "bytes" ranges and a validator); offset 0 otherwise.
std::shared_ptr<_response> get_to_file(const std::u16string& url, const request_options& options,
                                       const std::u16string& path, partial_body& partial);

// Copies text into the record's error field, cut to 255 bytes on a character boundary.
void set_error(_response& response, std::string_view text);

}  // namespace inet::rest
