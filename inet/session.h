#pragma once
// The platform's HTTP client behind one small seam: a session per request, the request it
// opens, and the exchange on that request pulled step by step (send, status, headers, body
// reads). session_curl.cpp implements it over libcurl, session_wininet.cpp over WinInet;
// session.cpp holds what both share (session_half.h).
// Nothing here throws: failures come back as return values with the platform's error text
// in the system code page.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "inet/cracked_url.h"

namespace inet {

enum class session_option {
    connect_retries,     // connect attempts per request
    connect_timeout_ms,  // one connect attempt, TLS handshake included
    send_timeout_ms,     // no progress while sending for that long fails the request
    receive_timeout_ms,  // no progress while receiving for that long fails the request
    max_conns_per_server,
    max_conns_per_1_0_server,
    // The whole exchange from the moment the connection stands to the last body byte; 0 is
    // no limit. Ends a server that keeps sending a little, slower than it should.
    total_timeout_ms,
};

class http_request;
struct session_common;

// One platform internet session. Lives for exactly one request.
class CMyInternetSession {
  public:
    // Opens the session with the user agent text; is_open() tells whether the platform agreed.
    explicit CMyInternetSession(const std::u16string& agent);
    ~CMyInternetSession();
    CMyInternetSession(const CMyInternetSession&) = delete;
    CMyInternetSession& operator=(const CMyInternetSession&) = delete;

    bool is_open() const;
    // The platform's text for why the session could not be opened.
    const std::string& error_text() const;

    // Values the platform does not take are ignored, as a refused option is.
    void set_option(session_option option, uint32_t value);
    uint32_t option(session_option option) const;
    const std::u16string& agent() const;

    // Connection and request for a cracked http or https address; null (with error_text())
    // when the platform cannot create them. The request must go before its session.
    std::unique_ptr<http_request> open_request(const cracked_url& url);

    struct impl;

  private:
    // The state both halves keep (session_half.h); each half's impl extends it.
    session_common& common() const;
    std::unique_ptr<impl> p;
};

// One GET on a session.
class http_request {
  public:
    virtual ~http_request() = default;

    // Certificate policy of an https request: true accepts any certificate and host name.
    virtual void accept_any_certificate(bool accept) = 0;
    // A header line the request carries besides the platform's own (before send(); kept on
    // every hop of a redirect). Name and value must hold no line breaks.
    virtual void add_header(std::string_view name, std::string_view value) = 0;
    // Sends the request and waits for the final response's head (redirects followed).
    // False on a transport failure, with error_text().
    virtual bool send() = 0;
    // False when no status code was received.
    virtual bool query_status(int32_t& status) = 0;
    // First value of the header `name` (letter case ignored) of the final response.
    virtual bool query_header(std::string_view name, std::string& value) = 0;
    // Up to `size` body bytes: the count, 0 at the end, -1 on a failure (error_text()).
    virtual int32_t read(uint8_t* buffer, int32_t size) = 0;
    virtual const std::string& error_text() const = 0;
    // Connect attempts made so far (the session's connect_retries bounds them).
    virtual int32_t connect_attempts() const = 0;
    // The address the answer came from when redirects led away from the requested one; empty
    // when none was followed.
    virtual std::u16string final_address() const { return {}; }
    // The proxy the user's settings send this request through, as they name it; empty when
    // they name none. Asked for when a proxy wants credentials, to say which one.
    virtual std::u16string proxy() const { return {}; }
};

// The platform browser's user agent text in the system code page; empty when it has none
// (always on POSIX).
std::string platform_user_agent_text();

// True when server certificates and host names are verified: as the build says
// (QUORLA_VERIFY_TLS), unless a test chose the other policy. Defined in session.cpp.
bool verifies_certificates();
// Tests only: the policy of the requests that follow.
void set_verifies_certificates(bool verify);

}  // namespace inet
