// The session seam over libcurl. One easy handle per session (per request); a multi handle
// lets the engine pull the exchange step by step (head first, then body reads), as the
// platform request objects of other systems do.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "inet/allowed_servers.h"
#include "inet/session.h"
#include "inet/session_half.h"
#include "inet/trust_settings.h"
#include "text/text.h"

namespace inet {

namespace {

// libcurl's texts are ASCII or UTF-8; callers want the system code page.
std::string to_acp(const char* text) {
    return to_narrow_acp(from_utf8(text ? text : ""));
}

bool global_init() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

bool equals_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return std::string(s.substr(b, e - b));
}


}  // namespace

// WinInet's defaults, so an option nobody sets means the same on both platforms.
struct CMyInternetSession::impl : session_common {
    impl() : session_common({5, 60000, 0, 0, 10, 10, 0}) {}
    CURL* easy = nullptr;
};

class curl_request final : public http_request {
  public:
    curl_request(CMyInternetSession::impl& session, CURLM* multi, const cracked_url& url)
        : session_(session), easy_(session.easy), multi_(multi), url_(url) {}

    ~curl_request() override {
        if (added_) curl_multi_remove_handle(multi_, easy_);
        if (header_list_) curl_slist_free_all(header_list_);
        curl_multi_cleanup(multi_);
    }

    void accept_any_certificate(bool accept) override { accept_any_ = accept; }

    void add_header(std::string_view name, std::string_view value) override {
        extra_headers_.push_back(std::string(name) + ": " + std::string(value));
    }

    bool send() override {
        if (!started_) {
            started_ = true;
            if (!configure()) return false;
            if (!start_attempt()) return false;
        }
        drive([this] { return head_done_; });
        if (head_done_) return true;
        if (result_ != CURLE_OK && tunnel_refused()) return true;
        if (result_ != CURLE_OK) {
            set_failure();
            return false;
        }
        return true;  // over without a final head: no status code
    }

    bool query_status(int32_t& status) override {
        if (!head_done_) return false;
        status = status_;
        return true;
    }

    bool query_header(std::string_view name, std::string& value) override {
        if (!head_done_) return false;
        for (const auto& [n, v] : final_headers_)
            if (equals_nocase(n, name)) {
                value = v;
                return true;
            }
        return false;
    }

    int32_t read(uint8_t* buffer, int32_t size) override {
        if (size <= 0) return 0;
        for (;;) {
            size_t avail = pending_.size() - pending_pos_;
            if (avail > 0) {
                size_t n = std::min(avail, static_cast<size_t>(size));
                std::memcpy(buffer, pending_.data() + pending_pos_, n);
                pending_pos_ += n;
                if (pending_pos_ == pending_.size()) {
                    pending_.clear();
                    pending_pos_ = 0;
                }
                return static_cast<int32_t>(n);
            }
            if (done_) {
                if (result_ == CURLE_OK || tunnel_refusal_) return 0;
                set_failure();
                return -1;
            }
            drive([this] { return pending_.size() > pending_pos_; });
        }
    }

    const std::string& error_text() const override { return error_; }
    int32_t connect_attempts() const override { return attempts_; }

    std::u16string final_address() const override {
        long redirects = 0;
        char* address = nullptr;
        if (curl_easy_getinfo(easy_, CURLINFO_REDIRECT_COUNT, &redirects) != CURLE_OK ||
            redirects <= 0 ||
            curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &address) != CURLE_OK ||
            address == nullptr)
            return {};
        return from_utf8(address);
    }

    // libcurl names no proxy it used: these are the variables it reads, in its order, for the
    // scheme the request ended with (an empty one counts as unset, as libcurl counts it).
    std::u16string proxy() const override {
        char* address = nullptr;
        const bool https =
            curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &address) == CURLE_OK && address
                ? std::string_view(address).starts_with("https:")
                : url_.service == service_type::https;
        static constexpr const char* for_https[] = {"https_proxy", "HTTPS_PROXY", "all_proxy",
                                                    "ALL_PROXY"};
        // Never HTTP_PROXY: libcurl leaves it alone, as a CGI program's environment has it
        // from the request's own Proxy header.
        static constexpr const char* for_http[] = {"http_proxy", "all_proxy", "ALL_PROXY"};
        for (const char* name : https ? std::span<const char* const>(for_https)
                                      : std::span<const char* const>(for_http))
            if (const char* value = std::getenv(name); value && *value) return from_utf8(value);
        return {};
    }

  private:
    // A proxy that refused the tunnel of an https request (407 when it wants credentials):
    // its answer stands for the server's, as WinInet gives it, with no body (libcurl keeps the
    // proxy's to itself).
    bool tunnel_refused() {
        long code = 0;
        if (curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &code) != CURLE_OK || code < 300 ||
            code > 999)
            return false;
        final_headers_.clear();
        status_ = static_cast<int32_t>(code);
        head_done_ = tunnel_refusal_ = true;
        return true;
    }

    static size_t on_header(char* data, size_t size, size_t count, void* self) {
        size_t n = size * count;
        try {
            if (!static_cast<curl_request*>(self)->header_line(std::string_view(data, n)))
                return 0;  // libcurl aborts the transfer
        } catch (...) {
            return 0;  // out of memory: libcurl aborts the transfer
        }
        return n;
    }

    static size_t on_body(char* data, size_t size, size_t count, void* self) {
        size_t n = size * count;
        auto* r = static_cast<curl_request*>(self);
        try {
            r->pending_.append(data, n);
        } catch (...) {
            r->out_of_memory_ = true;
            return 0;
        }
        return n;
    }

    // False stops the transfer (a redirect to a server this build may not talk to).
    bool header_line(std::string_view line) {
        any_header_ = true;
        if (head_done_) return true;  // trailers of a chunked body are not the head
        if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
            // A new response head (an interim answer or a redirect came before).
            block_.clear();
            block_status_ = -1;
            size_t sp = line.find(' ');
            if (sp != std::string_view::npos && sp + 4 <= line.size()) {
                int code = 0;
                bool digits = true;
                for (size_t i = sp + 1; i < sp + 4; ++i) {
                    if (line[i] < '0' || line[i] > '9') digits = false;
                    code = code * 10 + (line[i] - '0');
                }
                if (digits) block_status_ = code;
            }
            return true;
        }
        if (line == "\r\n" || line == "\n") {
            if (block_status_ >= 100 && block_status_ < 200) return true;
            if (block_status_ >= 300 && block_status_ < 400 && has_location())
                return redirect_allowed();  // followed, if it stays with the allowed servers
            final_headers_ = std::move(block_);
            block_.clear();
            status_ = block_status_;
            head_done_ = block_status_ >= 0;
            block_status_ = -1;
            return true;
        }
        if ((line[0] == ' ' || line[0] == '\t') && !block_.empty()) {
            block_.back().second += ' ' + trim(line);
            return true;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) return true;
        block_.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        return true;
    }

    bool has_location() const { return !location().empty(); }

    std::string location() const {
        for (const auto& [n, v] : block_)
            if (equals_nocase(n, "Location") && !v.empty()) return v;
        return std::string();
    }

    // With a list of allowed servers, a redirect may only lead to one of them. The target is
    // resolved against the current address as libcurl itself will resolve it.
    bool redirect_allowed() {
        if (allowed_servers().empty() && !https_only()) return true;
        char* current = nullptr;
        curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &current);
        CURLU* u = ::curl_url();
        char* host = nullptr;
        char* scheme = nullptr;
        const bool resolved =
            u && current && curl_url_set(u, CURLUPART_URL, current, 0) == CURLUE_OK &&
            curl_url_set(u, CURLUPART_URL, location().c_str(), CURLU_URLENCODE) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK;
        std::string name = resolved && host ? host : "";
        // An https-only build follows no redirect to plain http.
        const bool scheme_ok =
            !https_only() || (resolved && scheme && std::string_view(scheme) == "https");
        curl_free(host);
        curl_free(scheme);
        curl_url_cleanup(u);
        if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
            name = name.substr(1, name.size() - 2);
        if (resolved && scheme_ok &&
            (allowed_servers().empty() || host_matches(from_utf8(name), allowed_servers())))
            return true;
        refused_redirect_ = scheme_ok ? "redirect to a server that is not allowed: " +
                                            (name.empty() ? location() : name)
                                      : "redirect to an address that is not https: " + location();
        return false;
    }

    std::string curl_url() const {
        std::string host = to_utf8(url_.host);
        if (host.find(':') != std::string::npos) host = '[' + host + ']';
        std::string scheme = url_.service == service_type::https ? "https" : "http";
        return scheme + "://" + host + ':' + std::to_string(url_.port) + to_utf8(url_.object);
    }

    bool configure() {
        const auto& o = session_.options;
        url_text_ = curl_url();
        agent_text_ = to_narrow_acp(session_.agent);
        // The platform adds Host; we add nothing but the user agent.
        header_list_ = curl_slist_append(nullptr, "Accept:");
        for (const std::string& line : extra_headers_) {
            if (!header_list_) break;
            curl_slist* longer = curl_slist_append(header_list_, line.c_str());
            if (!longer) {
                curl_slist_free_all(header_list_);
                header_list_ = nullptr;
            }
            header_list_ = longer;
        }
        if (!header_list_) {
            error_ = "out of memory";
            return false;
        }
        uint32_t connect_ms = o[static_cast<size_t>(session_option::connect_timeout_ms)];
        uint32_t idle_ms = std::max(o[static_cast<size_t>(session_option::send_timeout_ms)],
                                    o[static_cast<size_t>(session_option::receive_timeout_ms)]);
        long conns =
            static_cast<long>(o[static_cast<size_t>(session_option::max_conns_per_server)]);

        CURL* e = easy_;
        bool ok = curl_easy_setopt(e, CURLOPT_URL, url_text_.c_str()) == CURLE_OK;
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errbuf_);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        curl_easy_setopt(e, CURLOPT_USERAGENT, agent_text_.c_str());
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, header_list_);
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, 30L);
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        if (connect_ms > 0)
            curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_ms));
        if (idle_ms > 0) {
            // "No progress for that long" rather than a limit on the whole transfer.
            curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>((idle_ms + 999) / 1000));
        }
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, accept_any_ ? 0L : 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, accept_any_ ? 0L : 2L);
        // A test launcher's servers are signed by its own authority (trust_settings.h).
        const std::u16string& authority = builtin_trust_settings().extra_ca_file;
        if (!accept_any_ && !authority.empty())
            curl_easy_setopt(e, CURLOPT_CAINFO, to_utf8(authority).c_str());
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &curl_request::on_header);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &curl_request::on_body);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        if (conns > 0) curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, conns);
        if (!ok) {
            error_ = to_acp(curl_easy_strerror(CURLE_URL_MALFORMAT));
            return false;
        }
        return true;
    }

    bool start_attempt() {
        errbuf_[0] = 0;
        block_.clear();
        block_status_ = -1;
        any_header_ = false;
        done_ = false;
        result_ = CURLE_OK;
        ++attempts_;
        CURLMcode mc = curl_multi_add_handle(multi_, easy_);
        if (mc != CURLM_OK) {
            error_ = to_acp(curl_multi_strerror(mc));
            return false;
        }
        added_ = true;
        return true;
    }

    // A connect that failed before anything was exchanged is tried again, up to the
    // session's connect retries; nothing was sent, so this is always safe.
    bool retry_connect() {
        if (any_header_) return false;
        long tunnel = 0;  // a proxy that answered the tunnel was reached
        if (curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &tunnel) == CURLE_OK && tunnel != 0)
            return false;
        if (attempts_ >=
            static_cast<int32_t>(
                session_.options[static_cast<size_t>(session_option::connect_retries)]))
            return false;
        curl_off_t connected = 0;
        curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &connected);
        bool never_connected = result_ == CURLE_COULDNT_CONNECT ||
                               (result_ == CURLE_OPERATION_TIMEDOUT && connected == 0);
        if (!never_connected) return false;
        curl_multi_remove_handle(multi_, easy_);
        added_ = false;
        return start_attempt();
    }

    // Milliseconds left of the limit on the whole exchange, -1 without one (or before the
    // connection stands). At 0 the exchange is ended here, as a time-out of libcurl would.
    long total_left_ms() {
        const uint32_t total =
            session_.options[static_cast<size_t>(session_option::total_timeout_ms)];
        if (total == 0) return -1;
        const auto now = std::chrono::steady_clock::now();
        if (!connected_) {
            curl_off_t connected = 0;
            curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &connected);
            if (connected == 0 && !any_header_) return -1;
            connected_ = true;
            connected_at_ = now;
        }
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - connected_at_).count();
        return spent >= static_cast<long>(total) ? 0 : static_cast<long>(total) - spent;
    }

    template <class Pred>
    void drive(Pred ready) {
        while (!done_ && !ready()) {
            if (total_left_ms() == 0) {
                done_ = true;
                result_ = CURLE_OPERATION_TIMEDOUT;
                total_expired_ = true;
                break;
            }
            int running = 0;
            CURLMcode mc = curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
                if (m->msg == CURLMSG_DONE && m->easy_handle == easy_) {
                    done_ = true;
                    result_ = m->data.result;
                }
            }
            if (mc != CURLM_OK && !done_) {
                done_ = true;
                result_ = CURLE_RECV_ERROR;
                std::snprintf(errbuf_, sizeof(errbuf_), "%s", curl_multi_strerror(mc));
            }
            if (done_ && result_ != CURLE_OK && !head_done_ && retry_connect()) continue;
            if (done_ && result_ == CURLE_OK && !head_done_ && block_status_ >= 0) {
                // A head that looked like a redirect the platform then did not follow.
                final_headers_ = std::move(block_);
                status_ = block_status_;
                head_done_ = true;
            }
            if (done_ || ready()) break;
            const long remaining = total_left_ms();
            curl_multi_poll(multi_, nullptr, 0,
                            remaining >= 0 && remaining < 1000 ? static_cast<int>(remaining) : 1000,
                            nullptr);
        }
    }

    void set_failure() {
        if (total_expired_) {
            curl_off_t received = 0;
            curl_easy_getinfo(easy_, CURLINFO_SIZE_DOWNLOAD_T, &received);
            const uint32_t total =
                session_.options[static_cast<size_t>(session_option::total_timeout_ms)];
            error_ = "overall time limit reached (" + std::to_string(total) +
                     " ms after the connection, " + std::to_string(received) +
                     " body bytes received)";
        } else if (!refused_redirect_.empty())
            error_ = to_acp(refused_redirect_.c_str());
        else if (out_of_memory_)
            error_ = "std::bad_alloc";
        else if (errbuf_[0])
            error_ = to_acp(errbuf_);
        else
            error_ = to_acp(curl_easy_strerror(result_));
    }

    CMyInternetSession::impl& session_;
    CURL* easy_;
    CURLM* multi_;
    cracked_url url_;
    std::string url_text_, agent_text_;
    curl_slist* header_list_ = nullptr;
    std::vector<std::string> extra_headers_;
    char errbuf_[CURL_ERROR_SIZE] = {};
    std::string error_;
    bool accept_any_ = false;
    bool started_ = false, added_ = false, done_ = false, out_of_memory_ = false;
    bool connected_ = false, total_expired_ = false;
    std::chrono::steady_clock::time_point connected_at_;
    CURLcode result_ = CURLE_OK;
    int32_t attempts_ = 0;
    bool any_header_ = false, head_done_ = false, tunnel_refusal_ = false;
    int32_t block_status_ = -1, status_ = -1;
    std::vector<std::pair<std::string, std::string>> block_, final_headers_;
    std::string pending_;
    size_t pending_pos_ = 0;
    std::string refused_redirect_;
};

CMyInternetSession::CMyInternetSession(const std::u16string& agent) : p(std::make_unique<impl>()) {
    p->agent = agent;
    if (!global_init()) {
        p->error = to_acp(curl_easy_strerror(CURLE_FAILED_INIT));
        return;
    }
    p->easy = curl_easy_init();
    if (!p->easy) p->error = to_acp(curl_easy_strerror(CURLE_FAILED_INIT));
}

CMyInternetSession::~CMyInternetSession() {
    if (p->easy) curl_easy_cleanup(p->easy);
}

bool CMyInternetSession::is_open() const {
    return p->easy != nullptr;
}
session_common& CMyInternetSession::common() const {
    return *p;
}

// libcurl takes the options per request (curl_request reads them from the session).
void apply_platform_option(CMyInternetSession::impl&, session_option, uint32_t) {}
bool query_platform_option(const CMyInternetSession::impl&, session_option, uint32_t&) {
    return false;
}

std::unique_ptr<http_request> CMyInternetSession::open_request(const cracked_url& url) {
    if (!p->easy || !url.ok) {
        p->error = to_acp(curl_easy_strerror(CURLE_URL_MALFORMAT));
        return nullptr;
    }
    CURLM* multi = curl_multi_init();
    if (!multi) {
        p->error = to_acp(curl_easy_strerror(CURLE_OUT_OF_MEMORY));
        return nullptr;
    }
    return std::make_unique<curl_request>(*p, multi, url);
}

std::string platform_user_agent_text() {
    return std::string();
}

}  // namespace inet
