// The session seam over WinInet: one internet handle per session (per request), a connection
// and request handle per hop. Redirects are followed here rather than by WinInet, so that a
// hop to a server outside the allowed list is never requested and the certificate policy
// applies to every hop.
// Winsock before windows.h, which would bring in the old winsock.h otherwise.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <psapi.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "inet/allowed_servers.h"
#include "inet/session.h"
#include "inet/session_half.h"
#include "inet/trust_settings.h"
#include "os/file_io.h"
#include "os/wide_path.h"
#include "text/text.h"

namespace inet {

namespace {

constexpr DWORD_PTR request_context = 1;
constexpr int max_redirects = 30;
// Revocation, unknown issuer, wrong host name, outside the validity dates, and the
// HTTP <-> HTTPS redirect warnings.
constexpr DWORD accept_any_security_flags = 0xF180;

// A test launcher's own certificate authority (trust_settings.h). WinInet trusts only the
// system's, so such a launcher lets the unknown-issuer error through (and the revocation
// check, which a test's authority publishes nothing for) and then requires the chain the
// server showed to end in that authority, with no other fault; host names and dates stay
// WinInet's to check. The request has been sent by then, its answer not yet read.
constexpr DWORD unknown_issuer_flag =
    0x0100 | 0x0080;                        // SECURITY_FLAG_IGNORE_UNKNOWN_CA, _REVOCATION
constexpr DWORD server_chain_option = 105;  // INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT

std::vector<BYTE> authority_der(const std::u16string& pem_file) {
    std::string pem;
    if (FILE* f = os::open_file(pem_file, "rb")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) pem.append(buffer, n);
        std::fclose(f);
    }
    DWORD size = 0;
    if (pem.empty() ||
        !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

bool chain_ends_in_authority(HINTERNET request, const std::u16string& pem_file) {
    static const std::vector<BYTE> authority = authority_der(pem_file);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD size = sizeof(chain);
    if (authority.empty() || !InternetQueryOptionW(request, server_chain_option, &chain, &size) ||
        chain == nullptr)
        return false;
    // The system knows no such authority, so the chain may stop below it (a partial chain):
    // then its last certificate must be one the authority signed.
    constexpr DWORD tolerated = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION;
    bool ok = chain->cChain > 0 && chain->rgpChain[0]->cElement > 0 &&
              (chain->TrustStatus.dwErrorStatus & ~tolerated) == 0;
    if (ok) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        const CERT_CONTEXT* last = simple->rgpElement[simple->cElement - 1]->pCertContext;
        const bool is_authority =
            last->cbCertEncoded == authority.size() &&
            std::equal(authority.begin(), authority.end(), last->pbCertEncoded);
        if (!is_authority) {
            const CERT_CONTEXT* issuer = CertCreateCertificateContext(
                X509_ASN_ENCODING, authority.data(), static_cast<DWORD>(authority.size()));
            ok = issuer != nullptr &&
                 CertCompareCertificateName(X509_ASN_ENCODING, &last->pCertInfo->Issuer,
                                            &issuer->pCertInfo->Subject) &&
                 CryptVerifyCertificateSignatureEx(
                     0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                     const_cast<CERT_CONTEXT*>(last), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                     const_cast<CERT_CONTEXT*>(issuer), 0, nullptr);
            if (issuer != nullptr) CertFreeCertificateContext(issuer);
        }
    }
    CertFreeCertificateChain(chain);
    return ok;
}

std::u16string from_wide(const wchar_t* s, size_t n) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

// What the common WinInet codes mean, for a wininet.dll whose message table lacks them (wine's
// has only a few): the code alone tells a shop nothing.
std::string wininet_fallback_text(DWORD code) {
    static const std::pair<DWORD, const char*> known[] = {
        {ERROR_INTERNET_OUT_OF_HANDLES, "No more handles could be generated at this time."},
        {ERROR_INTERNET_TIMEOUT, "The request has timed out."},
        {ERROR_INTERNET_INTERNAL_ERROR, "An internal error has occurred."},
        {ERROR_INTERNET_INVALID_URL, "The URL is invalid."},
        {ERROR_INTERNET_UNRECOGNIZED_SCHEME,
         "The URL scheme could not be recognized, or is not supported."},
        {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name or address could not be resolved."},
        {ERROR_INTERNET_INCORRECT_HANDLE_STATE,
         "The operation is not valid in the handle's current state."},
        {ERROR_INTERNET_OPERATION_CANCELLED, "The operation was canceled."},
        {ERROR_INTERNET_CANNOT_CONNECT, "The attempt to connect to the server failed."},
        {ERROR_INTERNET_CONNECTION_ABORTED, "The connection with the server has been terminated."},
        {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server has been reset."},
        {ERROR_INTERNET_SEC_CERT_DATE_INVALID, "The SSL certificate date is invalid."},
        {ERROR_INTERNET_SEC_CERT_CN_INVALID,
         "The SSL certificate common name (host name) does not match."},
        {ERROR_INTERNET_SEC_INVALID_CERT, "The SSL certificate is invalid."},
        {ERROR_INTERNET_INVALID_CA, "The certificate authority is invalid or incorrect."},
        {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "An error occurred in the secure channel support."},
        {ERROR_HTTP_HEADER_NOT_FOUND, "The requested header could not be located."},
        {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server response could not be parsed."},
        {ERROR_HTTP_INVALID_HEADER, "The supplied header is invalid."},
        {ERROR_HTTP_REDIRECT_FAILED,
         "The redirection failed, because either the scheme changed or all attempts made to "
         "redirect failed."},
    };
    std::string text = "WinInet error " + std::to_string(code);
    for (const auto& [known_code, meaning] : known)
        if (known_code == code) text = std::string(meaning) + " (" + text + ")";
    return text;
}

// WinInet's text for an error code (its own message table in wininet.dll, else the system's),
// in the system code page. An extended error carries the server's last response text instead.
std::string wininet_message(DWORD code) {
    std::u16string text;
    if (code == ERROR_INTERNET_EXTENDED_ERROR) {
        DWORD detail = 0;
        std::vector<wchar_t> buffer(256);
        DWORD size = static_cast<DWORD>(buffer.size());
        if (InternetGetLastResponseInfoW(&detail, buffer.data(), &size) ||
            GetLastError() == ERROR_INSUFFICIENT_BUFFER)
            text = from_wide(buffer.data(), std::min<size_t>(size, buffer.size() - 1));
    }
    if (text.empty()) {
        wchar_t buffer[256] = {};
        DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 GetModuleHandleW(L"wininet.dll"), code, 0, buffer, 256, nullptr);
        if (n == 0)
            n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               code, 0, buffer, 256, nullptr);
        text = from_wide(buffer, std::min<DWORD>(n, 255));
    }
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    if (text.empty()) text = from_utf8(wininet_fallback_text(code));
    return to_narrow_acp(text);
}

// Closes a WinInet handle however the scope is left.
class handle {
  public:
    handle() = default;
    explicit handle(HINTERNET h) : h_(h) {}
    ~handle() { reset(); }
    handle(const handle&) = delete;
    handle& operator=(const handle&) = delete;
    void reset(HINTERNET h = nullptr) {
        if (h_) InternetCloseHandle(h_);
        h_ = h;
    }
    HINTERNET get() const { return h_; }
    HINTERNET release() { return std::exchange(h_, nullptr); }
    explicit operator bool() const { return h_ != nullptr; }

  private:
    HINTERNET h_ = nullptr;
};

DWORD platform_option(session_option option) {
    switch (option) {
        case session_option::connect_retries:
            return INTERNET_OPTION_CONNECT_RETRIES;
        case session_option::connect_timeout_ms:
            return INTERNET_OPTION_CONNECT_TIMEOUT;
        case session_option::send_timeout_ms:
            return INTERNET_OPTION_SEND_TIMEOUT;
        case session_option::receive_timeout_ms:
            return INTERNET_OPTION_RECEIVE_TIMEOUT;
        case session_option::max_conns_per_server:
            return INTERNET_OPTION_MAX_CONNS_PER_SERVER;
        case session_option::max_conns_per_1_0_server:
            return INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER;
        case session_option::total_timeout_ms:
            return 0;  // kept by the engine: WinInet has no such limit
    }
    return 0;
}

// One HttpSendRequestW, run on a thread of its own: WinInet does not always keep to its
// connect time-out (a server whose accept queue is full holds the connect for minutes), so the
// caller waits for the connection itself and closes the handles when it is late, which ends
// the blocked call. Plain Win32 threads and events: under wine, a detached thread of the MinGW
// thread library now and then never ran its function (or crashed as it started), and the caller
// sat out the whole connect time-out. The caller watches the thread too: one that has not begun
// within a few seconds is given up (it leaves the handles alone when it does begin), and the
// hop is tried again.
struct send_call {
    send_call()
        : connected(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~send_call() {
        for (HANDLE h : {connected, done})
            if (h) CloseHandle(h);
    }
    send_call(const send_call&) = delete;
    send_call& operator=(const send_call&) = delete;

    HANDLE connected, done;  // manual-reset; connected: a failure after it is no connect failure
    HINTERNET request = nullptr;
    SRWLOCK lock = SRWLOCK_INIT;
    bool started = false, given_up = false;  // under `lock`
    BOOL sent = FALSE;                       // written before `done` is set, read after it
    DWORD code = ERROR_SUCCESS;

    bool is_set(HANDLE event) const { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
};

// The send running on this thread, for the status callback.
thread_local send_call* current_send = nullptr;

void CALLBACK on_status(HINTERNET, DWORD_PTR, DWORD status, LPVOID, DWORD) {
    if (current_send == nullptr) return;
    if (status == INTERNET_STATUS_CONNECTED_TO_SERVER ||
        status == INTERNET_STATUS_SENDING_REQUEST || status == INTERNET_STATUS_REQUEST_SENT ||
        status == INTERNET_STATUS_RECEIVING_RESPONSE)
        SetEvent(current_send->connected);
}

// The thread owns one reference to the call.
DWORD WINAPI send_thread(void* parameter) {
    const std::unique_ptr<std::shared_ptr<send_call>> owned(
        static_cast<std::shared_ptr<send_call>*>(parameter));
    send_call& call = **owned;
    AcquireSRWLockExclusive(&call.lock);
    const bool go = !call.given_up;
    call.started = go;
    ReleaseSRWLockExclusive(&call.lock);
    if (!go) return 0;
    current_send = &call;
    call.sent = HttpSendRequestW(call.request, nullptr, 0, nullptr, 0);
    call.code = call.sent ? ERROR_SUCCESS : GetLastError();
    current_send = nullptr;
    SetEvent(call.done);
    return 0;
}

// Most a send thread may take to begin before its hop is tried again.
constexpr DWORD thread_start_ms = 3000;

// Waits for the first of `events` within `ms` (INFINITE for no limit); true when one came.
bool wait_any(std::initializer_list<HANDLE> events, DWORD ms) {
    const std::vector<HANDLE> list(events);
    return WaitForMultipleObjects(static_cast<DWORD>(list.size()), list.data(), FALSE, ms) <
           WAIT_OBJECT_0 + list.size();
}

// Closes handles, children first, away from the caller: WinInet reads what is left of a body
// before it lets a connection go, and a server that never stops sending would hold the caller
// for ever.
void close_all(const std::vector<HINTERNET>& handles) {
    for (HINTERNET h : handles)
        if (h) InternetCloseHandle(h);
}

DWORD WINAPI close_thread(void* parameter) {
    const std::unique_ptr<std::vector<HINTERNET>> handles(
        static_cast<std::vector<HINTERNET>*>(parameter));
    close_all(*handles);
    return 0;
}

void close_in_background(std::vector<HINTERNET> handles) {
    std::unique_ptr<std::vector<HINTERNET>> owned;
    try {
        owned = std::make_unique<std::vector<HINTERNET>>(std::move(handles));
    } catch (...) {
        close_all(handles);
        return;
    }
    const HANDLE thread = CreateThread(nullptr, 0, close_thread, owned.get(), 0, nullptr);
    if (!thread) {
        close_all(*owned);
        return;
    }
    (void)owned.release();  // the thread's now
    CloseHandle(thread);
}

// Largest response head taken, as libcurl takes: a server that never ends its head is refused.
constexpr uint64_t max_head_bytes = 300 * 1024;
// WinInet shows nothing of a head while it reads it, but what it keeps of one shows in the
// process's memory. A head that has grown the launcher by this much, and goes on growing, is
// far past the bound above (a real head costs WinInet a few hundred kilobytes at most).
constexpr uint64_t head_memory_bound = 256ull << 20;
constexpr uint64_t head_growth_per_second = 2ull << 20;
// How often the caller looks at a head that is still arriving.
constexpr DWORD head_watch_ms = 50;

uint64_t process_memory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? counters.PagefileUsage
               : 0;
}

// Ends every connection of this process to `port`. A call reading on a connection does not
// end when its handles are closed everywhere (not under wine), and WinInet keeps its sockets
// to itself, so they are found by their peer. The launcher has one request at a time; a test's
// own server in the process is never the peer of its accepted connections.
void shut_down_connections_to(uint16_t port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    for (UINT_PTR value = 4; value < 0x10000; value += 4) {
        const SOCKET s = static_cast<SOCKET>(value);
        int type = 0, size = sizeof type;
        if (getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) != 0 ||
            type != SOCK_STREAM)
            continue;
        sockaddr_storage peer{};
        int length = sizeof peer;
        if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
        uint16_t peer_port = 0;
        if (peer.ss_family == AF_INET)
            peer_port = ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
        else if (peer.ss_family == AF_INET6)
            peer_port = ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port);
        if (peer_port == port) shutdown(s, SD_BOTH);
    }
    WSACleanup();
}

bool is_redirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::u16string url_text(const cracked_url& url) {
    std::u16string host = url.host;
    if (host.find(u':') != std::u16string::npos) host = u'[' + host + u']';
    std::u16string scheme = url.service == service_type::https ? u"https" : u"http";
    return scheme + u"://" + host + u':' + from_utf8(std::to_string(url.port)) + url.object;
}

}  // namespace

// WinInet's defaults, so an option nobody sets still means something.
struct CMyInternetSession::impl : session_common {
    impl() : session_common({5, 60000, 30000, 30000, 10, 10, 0}) {}
    handle internet;
};

class wininet_request final : public http_request {
  public:
    wininet_request(CMyInternetSession::impl& session, const cracked_url& url)
        : session_(session), url_(url) {}

    // Request before connection: the order WinInet's handle tree wants.
    ~wininet_request() override {
        if (abandoned_ || body_left()) {
            // A body left unread (refused by its announced length, too large, too slow, the
            // sink refused it) or a head given up: WinInet would read out the rest before it
            // closed, so the connection is ended and the handles go away from the caller, the
            // session with them, as nothing else may use it any more.
            shut_down_connections_to(url_.port);
            close_in_background(
                {request_.release(), connection_.release(), session_.internet.release()});
            return;
        }
        close_hop();
    }

    void accept_any_certificate(bool accept) override { accept_any_ = accept; }

    void add_header(std::string_view name, std::string_view value) override {
        extra_headers_ += from_utf8(std::string(name)) + u": " + from_utf8(std::string(value)) +
                          u"\r\n";
    }

    bool send() override {
        if (started_) return head_done_;
        started_ = true;
        for (int hop = 0;; ++hop) {
            if (!send_hop()) return false;
            if (head_too_large()) return false;
            DWORD status = 0;
            if (!query_number(HTTP_QUERY_STATUS_CODE, status)) return true;  // no status code
            std::string location;
            if (!is_redirect(status) || !query_header("Location", location) || location.empty())
                break;
            if (hop == max_redirects) return fail(ERROR_HTTP_REDIRECT_FAILED);
            cracked_url next;
            if (!resolve(location, next)) return fail(ERROR_HTTP_REDIRECT_FAILED);
            if (!allowed_servers().empty() && !host_matches(next.host, allowed_servers())) {
                error_ = to_narrow_acp(u"redirect to a server that is not allowed: " + next.host);
                return false;
            }
            // An https-only build follows no redirect to plain http.
            if (https_only() && next.service != service_type::https) {
                error_ = "redirect to an address that is not https: " + location;
                return false;
            }
            close_hop();
            url_ = next;
            redirected_ = true;
        }
        head_done_ = true;
        std::string length;
        if (query_header("Content-Length", length)) {
            announced_ = 0;
            for (char c : length) {
                if (c < '0' || c > '9') break;
                announced_ = announced_ * 10 + (c - '0');
            }
        }
        std::string coding;
        chunked_ = query_header("Transfer-Encoding", coding) && !coding.empty();
        return true;
    }

    bool query_status(int32_t& status) override {
        DWORD value = 0;
        if (!head_done_ || !query_number(HTTP_QUERY_STATUS_CODE, value) || !valid_status_line())
            return false;
        status = static_cast<int32_t>(value);
        return true;
    }

    bool query_header(std::string_view name, std::string& value) override {
        if (!request_) return false;
        std::u16string wanted = from_utf8(std::string(name));
        std::vector<wchar_t> buffer(std::max<size_t>(256, wanted.size() + 1));
        for (;;) {
            std::copy(wanted.begin(), wanted.end(), buffer.begin());
            buffer[wanted.size()] = 0;
            DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
            DWORD index = 0;
            if (HttpQueryInfoW(request_.get(), HTTP_QUERY_CUSTOM, buffer.data(), &size, &index)) {
                value = to_narrow_acp(from_wide(buffer.data(), size / sizeof(wchar_t)));
                return true;
            }
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size / sizeof(wchar_t) > 1 << 20)
                return false;
            buffer.resize(size / sizeof(wchar_t) + 1);
        }
    }

    int32_t read(uint8_t* buffer, int32_t size) override {
        if (size <= 0 || !request_) return 0;
        DWORD n = 0;
        reading_ = true;
        if (total_expired()) return -1;  // the rest is left to the background close
        // Only what has arrived: a read for more waits for all of it, and a time-out then
        // loses the bytes that did arrive.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0)) {
            body_over_ = true;
            fail(GetLastError());
            return -1;
        }
        if (available == 0) available = 1;  // the end, or WinInet does not know: a read tells
        if (!InternetReadFile(request_.get(), buffer, std::min(available, static_cast<DWORD>(size)),
                              &n)) {
            body_over_ = true;
            fail(GetLastError());
            return -1;
        }
        received_ += n;
        if (n == 0) body_over_ = true;
        // WinInet ends a body quietly when the server closes the connection early; fewer bytes
        // than announced is a cut connection, as on every other platform.
        if (n == 0 && !chunked_ && announced_ >= 0 && received_ < announced_) {
            fail(ERROR_INTERNET_CONNECTION_ABORTED);
            return -1;
        }
        return static_cast<int32_t>(n);
    }

    const std::string& error_text() const override { return error_; }
    int32_t connect_attempts() const override { return attempts_; }

    std::u16string final_address() const override {
        if (!redirected_) return {};
        // As a shop writes it: the port only where it is not the scheme's own.
        const bool https = url_.service == service_type::https;
        std::u16string host = url_.host;
        if (host.find(u':') != std::u16string::npos) host = u'[' + host + u']';
        const bool default_port = url_.port == (https ? 443 : 80);
        return (https ? u"https://" : u"http://") + host +
               (default_port ? std::u16string() : u':' + from_utf8(std::to_string(url_.port))) +
               url_.object;
    }

    // The session's proxy as the Internet Settings give it: one for every scheme, or a list
    // such as "http=a:3128;https=b:3128" with one per scheme (wine gives only the http one).
    std::u16string proxy() const override {
        struct proxy_info {  // INTERNET_PROXY_INFO as the wide call fills it
            DWORD access;
            const wchar_t* proxy;
            const wchar_t* bypass;
        };
        std::vector<unsigned char> buffer(1024);
        DWORD size = static_cast<DWORD>(buffer.size());
        if (!InternetQueryOptionW(session_.internet.get(), INTERNET_OPTION_PROXY, buffer.data(),
                                  &size)) {
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > 1 << 16) return {};
            buffer.resize(size);
            if (!InternetQueryOptionW(session_.internet.get(), INTERNET_OPTION_PROXY, buffer.data(),
                                      &size))
                return {};
        }
        const auto* info = reinterpret_cast<const proxy_info*>(buffer.data());
        if (info->access != INTERNET_OPEN_TYPE_PROXY || info->proxy == nullptr) return {};
        const std::u16string list = from_wide(info->proxy, wcslen(info->proxy));
        if (list.find(u'=') == std::u16string::npos) return list;
        const std::u16string wanted = url_.service == service_type::https ? u"https=" : u"http=";
        for (size_t at = 0; at < list.size();) {
            size_t end = list.find_first_of(u"; ", at);
            if (end == std::u16string::npos) end = list.size();
            if (list.compare(at, wanted.size(), wanted) == 0)
                return list.substr(at + wanted.size(), end - at - wanted.size());
            at = end + 1;
        }
        return {};
    }

  private:
    // A body was announced and not read to its end.
    bool body_left() const {
        return !body_over_ && (reading_ || (head_done_ && (chunked_ || announced_ > 0)));
    }

    // A head larger than libcurl takes is refused, in libcurl's words; sets the error text.
    bool head_too_large() {
        DWORD size = 0, index = 0;
        if (HttpQueryInfoW(request_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, &index) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER || size / sizeof(wchar_t) <= max_head_bytes)
            return false;
        abandoned_ = true;
        error_ = "Too large response headers: " + std::to_string(size / sizeof(wchar_t)) + " > " +
                 std::to_string(max_head_bytes);
        return true;
    }

    // Waits for the head once the server took the connection: as long as WinInet's own
    // send and receive time-outs let it run, but no longer than the limit on the whole
    // exchange, and not for a head that never ends. True when the send call ended; false,
    // with the error text set, when the hop was given up.
    bool wait_for_head(send_call& call, HANDLE thread) {
        const uint64_t memory_before = process_memory();
        uint64_t memory_at_mark = memory_before;
        auto mark = std::chrono::steady_clock::now();
        int growing_seconds = 0;  // in a row, each by head_growth_per_second at least
        for (;;) {
            if (wait_any({call.done, thread}, head_watch_ms)) return true;
            const auto now = std::chrono::steady_clock::now();
            if (!connected_ && call.is_set(call.connected)) {
                connected_ = true;
                connected_at_ = now;
            }
            if (total_expired()) return false;
            const uint64_t memory = process_memory();
            if (now - mark >= std::chrono::seconds(1)) {
                growing_seconds =
                    memory >= memory_at_mark + head_growth_per_second ? growing_seconds + 1 : 0;
                memory_at_mark = memory;
                mark = now;
            }
            // Growth that goes on, not one burst (another part of the process may allocate
            // once while the head is awaited).
            if (memory_before != 0 && memory > memory_before + head_memory_bound &&
                growing_seconds >= 2) {
                error_ = "Too large response headers: still arriving when they had taken " +
                         std::to_string((memory - memory_before) >> 20) + " MiB, far past " +
                         std::to_string(max_head_bytes);
                return false;
            }
        }
    }

    // The limit on the whole exchange, counted from the connection on; sets the error text.
    bool total_expired() {
        const uint32_t total = session_value(session_option::total_timeout_ms);
        if (total == 0 || !connected_) return false;
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - connected_at_)
                               .count();
        if (spent < static_cast<long long>(total)) return false;
        error_ = "overall time limit reached (" + std::to_string(total) +
                 " ms after the connection, " + std::to_string(received_) + " body bytes received)";
        return true;
    }

    bool fail(DWORD code) {
        error_ = wininet_message(code);
        return false;
    }

    uint32_t session_value(session_option option) const {
        return session_.options[static_cast<size_t>(option)];
    }

    bool query_number(DWORD what, DWORD& value) {
        DWORD size = sizeof(value), index = 0;
        return request_ &&
               HttpQueryInfoW(request_.get(), what | HTTP_QUERY_FLAG_NUMBER, &value, &size, &index);
    }

    // WinInet takes an answer that does not begin with a status line for an old-style
    // HTTP/0.9 body and makes up a "200" for it; no status code was received then.
    bool valid_status_line() {
        std::vector<wchar_t> buffer(1024);
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), index = 0;
        if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &size,
                            &index))
            return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
        std::u16string head = from_wide(buffer.data(), size / sizeof(wchar_t));
        return head.compare(0, 5, u"HTTP/") == 0;
    }

    // The Location of a redirect, resolved against the address it came from.
    bool resolve(const std::string& location, cracked_url& next) {
        std::u16string base = url_text(url_);
        std::u16string relative = to_wide_acp(location);
        std::vector<wchar_t> buffer(4096);
        DWORD size = static_cast<DWORD>(buffer.size());
        if (!InternetCombineUrlW(os::wide(base), os::wide(relative), buffer.data(), &size, ICU_NO_ENCODE)) {
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
            buffer.resize(size + 1);
            size = static_cast<DWORD>(buffer.size());
            if (!InternetCombineUrlW(os::wide(base), os::wide(relative), buffer.data(), &size,
                                     ICU_NO_ENCODE))
                return false;
        }
        next = crack_url(from_wide(buffer.data(), size));
        return next.ok;
    }

    void close_hop() {
        request_.reset();
        connection_.reset();
    }

    // One hop: connection, request and send. A connect that fails before the server took the
    // connection is tried again, up to the session's connect retries; nothing was sent then.
    bool send_hop() {
        const DWORD retries = std::max<uint32_t>(1, session_value(session_option::connect_retries));
        for (int attempt = 1;; ++attempt) {
            close_hop();
            ++attempts_;
            connection_.reset(InternetConnectW(session_.internet.get(), os::wide(url_.host), url_.port,
                                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                                               request_context));
            if (!connection_) return fail(GetLastError());
            // No cookies and no dialogs: the request carries nothing WinInet kept from another.
            // No keep-connection flag either: it would add a "Connection: Keep-Alive" header,
            // and a session lives for one request, so there is nothing to keep a connection for.
            DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_DONT_CACHE |
                          INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES |
                          INTERNET_FLAG_NO_UI;
            if (url_.service == service_type::https) flags |= INTERNET_FLAG_SECURE;
            request_.reset(HttpOpenRequestW(connection_.get(), L"GET", os::wide(url_.object),
                                            L"HTTP/1.0", nullptr, nullptr, flags, request_context));
            if (!request_) return fail(GetLastError());
            if (!extra_headers_.empty() &&
                !HttpAddRequestHeadersW(request_.get(), os::wide(extra_headers_),
                                        static_cast<DWORD>(extra_headers_.size()),
                                        HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
                return fail(GetLastError());
            // WinInet does not hand every limit of the session down to the handles below it.
            for (HINTERNET h : {connection_.get(), request_.get()})
                for (session_option o :
                     {session_option::connect_timeout_ms, session_option::send_timeout_ms,
                      session_option::receive_timeout_ms}) {
                    DWORD value = session_value(o);
                    if (value != 0)
                        InternetSetOptionW(h, platform_option(o), &value, sizeof(value));
                }
            const std::u16string& authority = builtin_trust_settings().extra_ca_file;
            const bool own_authority =
                url_.service == service_type::https && !accept_any_ && !authority.empty();
            if (url_.service == service_type::https && (accept_any_ || own_authority)) {
                DWORD security = accept_any_ ? accept_any_security_flags : unknown_issuer_flag;
                InternetSetOptionW(request_.get(), INTERNET_OPTION_SECURITY_FLAGS, &security,
                                   sizeof(security));
            }
            auto call = std::make_shared<send_call>();
            if (!call->connected || !call->done) return fail(GetLastError());
            call->request = request_.get();
            auto* reference = new std::shared_ptr<send_call>(call);
            const HANDLE thread = CreateThread(nullptr, 0, send_thread, reference, 0, nullptr);
            if (!thread) {
                const DWORD error = GetLastError();
                delete reference;
                return fail(error);
            }
            // The connect time-out counts from here; the thread must begin well within it.
            const DWORD connect_ms = session_value(session_option::connect_timeout_ms);
            const ULONGLONG begun = GetTickCount64();
            bool late = false;
            wait_any({call->done, call->connected, thread},
                     connect_ms == 0 ? thread_start_ms : std::min(connect_ms, thread_start_ms));
            AcquireSRWLockExclusive(&call->lock);
            if (!call->started) late = call->given_up = true;
            ReleaseSRWLockExclusive(&call->lock);
            if (!late && connect_ms != 0) {
                const ULONGLONG spent = GetTickCount64() - begun;
                wait_any({call->done, call->connected, thread},
                         spent >= connect_ms ? 0 : static_cast<DWORD>(connect_ms - spent));
                late = !call->is_set(call->done) && !call->is_set(call->connected);
            }
            // Once connected, within the limits of wait_for_head; a thread that ended without
            // saying so ends the hop too. A hop given up ends here: the call still reading
            // loses its connection, and what it would say is not asked.
            if (!late && !wait_for_head(*call, thread)) {
                CloseHandle(thread);
                abandoned_ = true;
                return false;
            }
            if (!late) late = !call->is_set(call->done);
            CloseHandle(thread);
            const bool reached = call->is_set(call->connected);
            const BOOL sent = late ? FALSE : call->sent;
            const DWORD code = late ? ERROR_INTERNET_TIMEOUT : call->code;
            if (!connected_ && (reached || sent)) {
                connected_ = true;
                connected_at_ = std::chrono::steady_clock::now();
            }
            if (late) {
                close_hop();  // the blocked call ends with the handles
                if (static_cast<DWORD>(attempt) >= retries) return fail(ERROR_INTERNET_TIMEOUT);
                continue;
            }
            if (sent)
                return !own_authority || chain_ends_in_authority(request_.get(), authority) ||
                       fail(ERROR_INTERNET_INVALID_CA);
            const bool connect_failure =
                !reached &&
                (code == ERROR_INTERNET_CANNOT_CONNECT || code == ERROR_INTERNET_TIMEOUT);
            if (!connect_failure || static_cast<DWORD>(attempt) >= retries) return fail(code);
        }
    }

    CMyInternetSession::impl& session_;
    cracked_url url_;
    handle connection_, request_;
    std::u16string extra_headers_;  // CR LF after each line, as WinInet takes them
    std::string error_;
    bool accept_any_ = false, started_ = false, head_done_ = false, chunked_ = false;
    bool redirected_ = false;
    bool reading_ = false, body_over_ = false, connected_ = false, abandoned_ = false;
    std::chrono::steady_clock::time_point connected_at_;
    int32_t attempts_ = 0;
    long long announced_ = -1, received_ = 0;
};

CMyInternetSession::CMyInternetSession(const std::u16string& agent) : p(std::make_unique<impl>()) {
    p->agent = agent;
    p->internet.reset(InternetOpenW(os::wide(agent), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                    INTERNET_FLAG_DONT_CACHE));
    if (!p->internet) {
        p->error = wininet_message(GetLastError());
        return;
    }
    InternetSetStatusCallbackW(p->internet.get(), on_status);
}

CMyInternetSession::~CMyInternetSession() = default;

bool CMyInternetSession::is_open() const {
    return static_cast<bool>(p->internet);
}
session_common& CMyInternetSession::common() const {
    return *p;
}

void apply_platform_option(CMyInternetSession::impl& session, session_option option, uint32_t value) {
    DWORD v = value;
    if (session.internet && platform_option(option) != 0)
        InternetSetOptionW(session.internet.get(), platform_option(option), &v, sizeof(v));
}

// What WinInet holds, where it answers for the option.
bool query_platform_option(const CMyInternetSession::impl& session, session_option option, uint32_t& value) {
    DWORD v = 0, size = sizeof(v);
    if (!session.internet || platform_option(option) == 0 ||
        !InternetQueryOptionW(session.internet.get(), platform_option(option), &v, &size))
        return false;
    value = v;
    return true;
}

std::unique_ptr<http_request> CMyInternetSession::open_request(const cracked_url& url) {
    if (!p->internet || !url.ok) {
        p->error = wininet_message(ERROR_INTERNET_INVALID_URL);
        return nullptr;
    }
    return std::make_unique<wininet_request>(*p, url);
}

std::string platform_user_agent_text() {
    using obtain_fn = HRESULT(WINAPI*)(DWORD, LPSTR, DWORD*);
    std::string text;
    HMODULE urlmon = LoadLibraryA("urlmon.dll");
    if (urlmon == nullptr) return text;
    auto obtain = reinterpret_cast<obtain_fn>(
        reinterpret_cast<void*>(GetProcAddress(urlmon, "ObtainUserAgentString")));
    if (obtain != nullptr) {
        char buffer[512] = {};
        DWORD size = 511;
        if (obtain(0x1007, buffer, &size) == S_OK) {
            buffer[std::min<DWORD>(size, 511)] = 0;
            text = buffer;
        }
    }
    FreeLibrary(urlmon);
    return text;
}

}  // namespace inet
