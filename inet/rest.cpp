#include "inet/rest.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "os/file_io.h"
#include "os/system_error.h"
#include "quorla_config.h"
#include "text/format.h"
#include "os/platform.h"
#include "text/text.h"

namespace inet::rest {

namespace {

constexpr char url_error[] = "url is empty or does not contain a known Internet service type.";

bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

// Content-Length as a number: its leading decimal digits; -1 when there are none.
double parse_content_length(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    double value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
        value = value * 10 + (text[i] - '0');
    return digits ? value : -1;
}

// Fails a body that brings less than its minimum rate over each window of the bound.
class slow_body_bound {
  public:
    explicit slow_body_bound(const request_options& options)
        : window_(std::chrono::seconds(std::max(0, options.slow_window))),
          wanted_(static_cast<int64_t>(std::max(0, options.min_bytes_per_second)) *
                  std::max(0, options.slow_window)),
          start_(std::chrono::steady_clock::now()) {}

    // Counts n bytes just read; true (with the reason) once a whole window brought too little.
    bool too_slow(int64_t n, std::string& reason) {
        if (window_.count() == 0) return false;
        got_ += n;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < window_) return false;
        if (got_ >= wanted_) {
            start_ = now;
            got_ = 0;
            return false;
        }
        reason = std::string(body_too_slow) + " (" + std::to_string(got_) + " bytes in the last " +
                 std::to_string(window_.count()) + " s, fewer than " +
                 std::to_string(wanted_ / window_.count()) + " bytes/s)";
        return true;
    }

  private:
    std::chrono::seconds window_;
    int64_t wanted_, got_ = 0;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace

bool proxy_refused(const _response& response) {
    return response.status == 407;
}

bool body_follows(const _response& response) {
    if (response.content_length > 0 || response.chunked) return true;
    if (response.content_length == 0) return false;
    // Without a length the body runs to the close of the connection, as most shop stacks send
    // a page they write as they go (we ask with HTTP/1.0, so the server must close). Answers
    // that never carry a body are not waited for.
    const int32_t s = response.status;
    return !(s < 200 || s == 204 || s == 304);
}

std::string compose_user_agent(std::string text) {
    static constexpr std::string_view msie = " MSIE 7.0;";
    if (!text.empty()) {
        size_t pos = 0;
        while ((pos = text.find(msie, pos)) != std::string::npos) text.erase(pos, msie.size());
    }
    if (text.empty()) text = "Mozilla/4.0 (compatible; Windows NT)";
    text += " WinInetRest/1.0";
    return text;
}

std::u16string default_user_agent() {
    return to_wide_acp(compose_user_agent(platform_user_agent_text()));
}

void set_error(_response& response, std::string_view text) {
    std::memset(response.error, 0, sizeof(response.error));
    constexpr size_t room = sizeof(response.error) - 1;
    std::string cut(text.substr(0, text.find('\0')));
    if (cut.size() > room) {
        // Cut whole characters of the system code page, never half of one.
        std::u16string wide = to_wide_acp(cut);
        std::string narrow = to_narrow_acp(wide);
        while (narrow.size() > room && !wide.empty()) {
            wide.pop_back();
            if (!wide.empty() && wide.back() >= 0xD800 && wide.back() < 0xDC00) wide.pop_back();
            if (narrow.size() - room > 8 && wide.size() > room) wide.resize(room);
            narrow = to_narrow_acp(wide);
        }
        cut = narrow.size() > room ? narrow.substr(0, room) : narrow;
    }
    std::memcpy(response.error, cut.data(), cut.size());
}

timeouts& default_timeouts() {
    static timeouts values;
    return values;
}

int64_t memory_sink(const void* data, int64_t size, int64_t count, void* target) {
    int64_t n = size * count;
    if (n <= 0) return n;
    auto* r = static_cast<_response*>(target);
    // body_size is 32 bits: a body past 2 GiB cannot be counted, so it is not stored either.
    if (n > INT32_MAX - static_cast<int64_t>(r->body_size)) return 0;
    if (r->body_size + n > max_memory_body) {
        set_error(*r, "response body larger than " + std::to_string(max_memory_body) + " bytes");
        return 0;
    }
    try {
        if (static_cast<int64_t>(r->body.size()) <= r->body_size + n)
            r->body.resize(static_cast<size_t>(r->body_size + n));
        std::memcpy(r->body.data() + r->body_size, data, static_cast<size_t>(n));
        r->body_size += static_cast<int32_t>(n);
        return n;
    } catch (...) {
        return 0;
    }
}

int64_t file_sink(const void* data, int64_t size, int64_t count, void* target) {
    int64_t n = size * count;
    if (n <= 0) return n;
    auto* out = static_cast<std::FILE*>(target);
    if (out == nullptr) return 0;
    return std::fwrite(data, 1, static_cast<size_t>(n), out) == static_cast<size_t>(n) ? n : 0;
}

std::unique_ptr<CMyInternetSession> open_session(const request_options& options) {
    auto session = std::make_unique<CMyInternetSession>(options.user_agent);
    if (!session->is_open()) return session;
    // Seconds to milliseconds; a value of 0 or less leaves the platform's own limit.
    auto ms = [](int32_t seconds) -> uint32_t {
        if (seconds <= 0) return 0;
        return seconds >= 4294967 ? UINT32_MAX : static_cast<uint32_t>(seconds) * 1000u;
    };
    session->set_option(session_option::connect_retries, 3);
    session->set_option(session_option::connect_timeout_ms, ms(options.connect_timeout));
    session->set_option(session_option::send_timeout_ms, ms(options.transfer_timeout));
    session->set_option(session_option::receive_timeout_ms, ms(options.transfer_timeout));
    session->set_option(session_option::max_conns_per_server, 10);
    session->set_option(session_option::max_conns_per_1_0_server, 10);
    session->set_option(session_option::total_timeout_ms, ms(options.total_timeout));
    return session;
}

void execute_request(http_request& request, const request_options& options, const cracked_url& url,
                     body_sink sink, void* target, _response& response) {
    // Shops rely on self-signed certificates; a QUORLA_VERIFY_TLS build checks them. The
    // policy is set on plain http requests too, because a redirect may lead to https.
    request.accept_any_certificate(!verifies_certificates());

    if (!request.send()) {
        response.status = -1;
        set_error(response, request.error_text());
        return;
    }
    int32_t status = -1;
    if (!request.query_status(status)) return;
    response.status = status;
    response.final_url = request.final_address();
    if (proxy_refused(response)) {
        response.proxy = request.proxy();
        // No proxy set up: something on the way (an office's transparent proxy) answered in
        // the server's place.
        if (response.proxy.empty()) {
            const bool ipv6 = url.host.find(u':') != std::u16string::npos;
            response.proxy = (ipv6 ? u'[' + url.host + u']' : url.host) + u':' +
                             from_utf8(std::to_string(url.port));
        }
    }

    std::string value;
    response.content_length =
        request.query_header("Content-Length", value) ? parse_content_length(value) : -1;
    if (request.query_header("Transfer-Encoding", value) && contains(value, "chunked"))
        response.chunked = true;

    if (!body_follows(response)) return;
    const int64_t allowed = options.max_body_bytes;
    auto refuse_size = [&] {
        response.status = -1;
        set_error(response, std::string(body_over_limit) + " (" + std::to_string(allowed) + ")");
    };
    if (allowed >= 0 && response.content_length > double(allowed)) return refuse_size();
    // Room for the announced length at once, not grown and copied piece by piece; only the
    // pages the body fills are ever touched, so an announced length never read costs nothing.
    if (sink == memory_sink && response.content_length > 0) {
        try {
            auto* r = static_cast<_response*>(target);
            r->body.reserve(static_cast<size_t>(
                std::min<double>(response.content_length, double(max_memory_body))));
        } catch (...) {
        }
    }

    uint8_t buffer[read_buffer_size];
    int64_t delivered = 0;
    slow_body_bound slow(options);
    std::string too_slow;
    for (;;) {
        int32_t n = request.read(buffer, read_buffer_size);
        if (n < 0) {
            response.status = -1;
            set_error(response, request.error_text());
            return;
        }
        if (n == 0) break;
        if (slow.too_slow(n, too_slow)) {
            response.status = -1;
            set_error(response, too_slow);
            return;
        }
        delivered += n;
        if (allowed >= 0 && delivered > allowed) return refuse_size();
        // A piece the sink could not keep makes the body incomplete: an answer with a hole in
        // it must not pass for a good one, and reading on would only waste time.
        if (sink(buffer, 1, n, target) != n) {
            response.status = -1;
            if (response.error[0] == '\0')
                set_error(response, "response body could not be stored (" + std::to_string(n) +
                                        " bytes refused)");
            return;
        }
    }
}

namespace {

// The one failure guard around address, session, request and exchange.
void run_guarded(const std::u16string& address, const request_options& options, body_sink sink,
                 void* target, _response& response) {
    try {
        cracked_url url = crack_url(address);
        if (!url.ok) {
            set_error(response, url_error);  // no traffic at all
            return;
        }
        std::unique_ptr<CMyInternetSession> session = open_session(options);
        if (!session->is_open()) {
            response.status = -1;
            set_error(response, session->error_text());
            return;
        }
        std::unique_ptr<http_request> request = session->open_request(url);
        if (!request) {
            response.status = -1;
            set_error(response, session->error_text());
            return;
        }
        execute_request(*request, options, url, sink, target, response);
    } catch (const std::exception& e) {
        response.status = -1;
        set_error(response, e.what());
    } catch (...) {
        response.status = -1;
        set_error(response,
                  to_narrow_acp(format16(u"httprest unknown error 0x%08x", os::last_system_error())));
    }
}

// The record of one request. Even when memory runs out the caller gets a record, never null.
std::shared_ptr<_response> make_response() {
    try {
        return std::make_shared<_response>();
    } catch (...) {
        static _response out_of_memory;
        out_of_memory = _response();
        set_error(out_of_memory, "std::bad_alloc");
        return std::shared_ptr<_response>(std::shared_ptr<_response>(), &out_of_memory);
    }
}

}  // namespace

std::shared_ptr<_response> get(const std::u16string& url, const request_options& options) {
    std::shared_ptr<_response> response = make_response();
    if (response->error[0]) return response;
    run_guarded(url, options, memory_sink, response.get(), *response);
    return response;
}

std::shared_ptr<_response> get_to_file(const std::u16string& url, const request_options& options,
                                       const std::u16string& path) {
    std::shared_ptr<_response> response = make_response();
    // The file comes first: even a request that fails at once leaves an empty file.
    std::FILE* file = os::open_file(path, "wb");
    // Archives are large and limited by the no-progress time-out alone.
    request_options file_options = options;
    file_options.total_timeout = 0;
    if (!response->error[0]) run_guarded(url, file_options, file_sink, file, *response);
    // The last piece sits in the stream's buffer until the close: a full disk shows only there.
    if (file != nullptr && std::fclose(file) != 0 && response->status != -1) {
        response->status = -1;
        set_error(*response, "response body could not be stored (the file could not be completed)");
    }
    return response;
}

}  // namespace inet::rest
