#include "inet/rest.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

bool parse_content_range(std::string_view text, int64_t& start, int64_t& end, int64_t& total) {
    size_t i = 0;
    auto skip_blanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    // Decimal digits at i; false when there are none or they would not fit.
    auto number = [&](int64_t& value) {
        const size_t first = i;
        value = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (value > (INT64_MAX - 9) / 10) return false;
            value = value * 10 + (text[i] - '0');
        }
        return i > first;
    };
    skip_blanks();
    if (text.substr(i, 5) != "bytes") return false;
    i += 5;
    skip_blanks();
    if (!number(start) || i >= text.size() || text[i++] != '-' || !number(end)) return false;
    if (i >= text.size() || text[i++] != '/') return false;
    if (i < text.size() && text[i] == '*') {
        total = -1;
        ++i;
    } else if (!number(total)) {
        return false;
    }
    skip_blanks();
    return i == text.size() && end >= start && (total < 0 || end < total);
}

bool validator_is_sendable(std::string_view validator) {
    if (validator.empty() || validator.size() > 256) return false;
    for (char c : validator)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

void execute_request(http_request& request, const request_options& options, const cracked_url& url,
                     body_sink sink, void* target, _response& response, const head_check& on_head) {
    // Shops rely on self-signed certificates; a QUORLA_VERIFY_TLS build checks them. The
    // policy is set on plain http requests too, because a redirect may lead to https.
    request.accept_any_certificate(!verifies_certificates());

    if (!request.send()) {
        response.status = -1;
        response.line_failed = true;
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
    response.accepts_ranges = request.query_header("Accept-Ranges", value) && contains(value, "bytes");
    // If-Range takes only a strong entity tag; a weak one ("W/...") leaves the date.
    const bool strong_tag = request.query_header("ETag", value) && !value.starts_with("W/") &&
                            validator_is_sendable(value);
    if (strong_tag || (request.query_header("Last-Modified", value) && validator_is_sendable(value)))
        response.validator = value;
    if (request.query_header("Content-Range", value)) response.content_range = value;

    int64_t allowed = options.max_body_bytes;
    if (on_head && !on_head(response, allowed)) return;
    if (!body_follows(response)) return;
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
            response.line_failed = true;
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
                 void* target, _response& response,
                 const std::vector<std::pair<std::string, std::string>>& headers = {},
                 const head_check& on_head = nullptr) {
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
        for (const auto& [name, value] : headers) request->add_header(name, value);
        execute_request(*request, options, url, sink, target, response, on_head);
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
    partial_body nothing;
    return get_to_file(url, options, path, nothing);
}

namespace {

// The file a body goes to, and how much of it this request wrote.
struct file_target {
    std::FILE* file = nullptr;
    int64_t written = 0;
};

int64_t counting_file_sink(const void* data, int64_t size, int64_t count, void* target) {
    auto* t = static_cast<file_target*>(target);
    const int64_t n = file_sink(data, size, count, t->file);
    if (n > 0) t->written += n;
    return n;
}

}  // namespace

std::shared_ptr<_response> get_to_file(const std::u16string& url, const request_options& options,
                                       const std::u16string& path, partial_body& partial) {
    std::shared_ptr<_response> response = make_response();
    const partial_body before = partial;
    partial = partial_body();
    bool asking = before.offset > 0 && validator_is_sendable(before.validator);
    // The file comes first: even a request that fails at once leaves a file (the part it was
    // asked to continue, or an empty one).
    file_target out;
    if (asking) {
        out.file = os::open_file(path, "r+b");
        if (out.file != nullptr && std::fseek(out.file, 0, SEEK_END) != 0) {
            std::fclose(out.file);
            out.file = nullptr;
        }
        asking = out.file != nullptr;
    }
    if (!asking) out.file = os::open_file(path, "wb");
    int64_t kept = asking ? before.offset : 0;  // bytes of the file before this body
    std::vector<std::pair<std::string, std::string>> headers;
    if (asking)
        headers = {{"Range", "bytes=" + std::to_string(before.offset) + "-"},
                   {"If-Range", before.validator}};
    int32_t head_status = -1;
    int64_t range_total = -1;
    const head_check check = [&](_response& r, int64_t& allowed) {
        head_status = r.status;
        if (!asking) return true;
        int64_t start = 0, end = 0, total = -1;
        if (r.status == 206 && parse_content_range(r.content_range, start, end, total) &&
            start == before.offset && (total < 0 || end + 1 == total) &&
            (before.total < 0 || (end + 1 == before.total && (total < 0 || total == before.total))) &&
            (r.content_length < 0 || r.content_length == double(end - start + 1))) {
            r.resumed = true;
            range_total = total >= 0 ? total : before.total;
            return true;
        }
        // Any other answer starts the file over; the space its old part took is free again.
        if (out.file != nullptr) std::fclose(out.file);
        out.file = os::open_file(path, "wb");
        kept = 0;
        if (allowed >= 0) allowed += before.offset;
        if (r.status != 206) return true;
        r.status = -1;
        set_error(r, "the server answered with another range than the one asked for (" +
                         (r.content_range.empty() ? std::string("no Content-Range")
                                                  : r.content_range) +
                         "); the file starts over");
        return false;
    };
    // Archives are large and limited by the no-progress time-out alone.
    request_options file_options = options;
    file_options.total_timeout = 0;
    if (!response->error[0])
        run_guarded(url, file_options, counting_file_sink, &out, *response, headers, check);
    // The last piece sits in the stream's buffer until the close: a full disk shows only there.
    const bool closed = out.file == nullptr || std::fclose(out.file) == 0;
    if (!closed && response->status != -1) {
        response->status = -1;
        set_error(*response, "response body could not be stored (the file could not be completed)");
    }
    // A body that broke off may be continued when the server said how to ask for the rest.
    const bool broke_off =
        response->status == -1 &&
        (response->line_failed || std::string_view(response->error).starts_with(body_too_slow));
    const std::string& validator =
        response->validator.empty() && response->resumed ? before.validator : response->validator;
    if (closed && out.file != nullptr && broke_off && kept + out.written > 0 &&
        validator_is_sendable(validator) &&
        ((head_status == 200 && response->accepts_ranges) || response->resumed)) {
        partial.offset = kept + out.written;
        partial.validator = validator;
        partial.total = response->resumed
                            ? range_total
                            : (response->content_length > 0 && !response->chunked
                                   ? static_cast<int64_t>(response->content_length)
                                   : -1);
    }
    return response;
}

}  // namespace inet::rest
