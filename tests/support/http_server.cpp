#include "tests/support/http_server.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/loopback_socket.h"
#include "tests/support/sandbox.h"

namespace test_support {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return std::string(s.substr(b, e - b));
}

const char* reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 416:
            return "Range Not Satisfiable";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

struct certificate_files {
    std::filesystem::path dir, cert, key;
};

// Writes a PEM file through a memory buffer, so that the path stays a path (wide on Windows).
template <class Write>
bool write_pem(const std::filesystem::path& path, Write write) {
    BIO* bio = BIO_new(BIO_s_mem());
    bool ok = bio && write(bio) == 1;
    char* data = nullptr;
    long size = ok ? BIO_get_mem_data(bio, &data) : 0;
    if (ok) {
        std::ofstream out(path, std::ios::binary);
        out.write(data, size);
        ok = static_cast<bool>(out);
    }
    BIO_free(bio);
    return ok;
}

// The server's certificate and private key, as cert.pem and key.pem.
template <class Files>
bool write_server_pair(const Files& f, X509* cert, EVP_PKEY* key) {
    return write_pem(f.cert, [cert](BIO* b) { return PEM_write_bio_X509(b, cert); }) &&
           write_pem(f.key, [key](BIO* b) {
               return PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
           });
}

// Certificate folders go when the test program ends.
void remove_at_exit(const std::filesystem::path& dir) {
    static std::vector<std::filesystem::path> folders;
    // Registered after the vector is made, so it runs before the vector goes.
    if (folders.empty())
        std::atexit([] {
            for (const auto& folder : folders) {
                std::error_code ec;
                std::filesystem::remove_all(folder, ec);
            }
        });
    folders.push_back(dir);
}

const certificate_files& certificates() {
    static const certificate_files files = [] {
        const std::filesystem::path dir = make_temporary_folder("quorla-tls");
        certificate_files f{dir, dir / "cert.pem", dir / "key.pem"};
        // Self-signed, issued for another host and expired long ago: every way a shop's
        // certificate can be "wrong" at once.
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = X509_new();
        bool ok =
            key && cert && X509_set_version(cert, 2) &&
            ASN1_INTEGER_set(X509_get_serialNumber(cert), 1) &&
            ASN1_TIME_set_string(X509_getm_notBefore(cert), "20200101000000Z") &&
            ASN1_TIME_set_string(X509_getm_notAfter(cert), "20200102000000Z") &&
            X509_NAME_add_entry_by_txt(
                X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                reinterpret_cast<const unsigned char*>("quorla-test.invalid"), -1, -1, 0) &&
            X509_set_issuer_name(cert, X509_get_subject_name(cert)) && X509_set_pubkey(cert, key) &&
            X509_sign(cert, key, EVP_sha256()) > 0 && write_server_pair(f, cert, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        if (!ok) throw std::runtime_error("could not make a test certificate");
        remove_at_exit(f.dir);
        return f;
    }();
    return files;
}

// A certificate authority of the tests' own and a server certificate it signed for 127.0.0.1
// and localhost, valid from yesterday to tomorrow: what a client that trusts that authority
// accepts with every check on (the profile test launcher, tests/e2e/profile_test_settings.cpp).
struct authority_files {
    std::filesystem::path dir, authority, cert, key;
};

bool add_extension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    const bool ok = ext != nullptr && X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool make_certificate(X509* cert, EVP_PKEY* key, long serial, const char* name, X509* issuer) {
    return cert && key && X509_set_version(cert, 2) &&
           ASN1_INTEGER_set(X509_get_serialNumber(cert), serial) &&
           X509_gmtime_adj(X509_getm_notBefore(cert), -86400) &&
           X509_gmtime_adj(X509_getm_notAfter(cert), 86400) &&
           X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(name), -1, -1, 0) &&
           X509_set_issuer_name(cert, X509_get_subject_name(issuer ? issuer : cert)) &&
           X509_set_pubkey(cert, key);
}

const authority_files& authority_certificates() {
    static const authority_files files = [] {
        const std::filesystem::path dir = make_temporary_folder("quorla-tls-authority");
        authority_files f{dir, dir / "authority.pem", dir / "cert.pem", dir / "key.pem"};
        EVP_PKEY* authority_key = EVP_RSA_gen(2048);
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* authority = X509_new();
        X509* cert = X509_new();
        const bool ok =
            make_certificate(authority, authority_key, 1, "Quorla Test Authority", nullptr) &&
            add_extension(authority, authority, NID_basic_constraints, "critical,CA:TRUE") &&
            add_extension(authority, authority, NID_key_usage, "critical,keyCertSign,cRLSign") &&
            add_extension(authority, authority, NID_subject_key_identifier, "hash") &&
            X509_sign(authority, authority_key, EVP_sha256()) > 0 &&
            make_certificate(cert, key, 2, "127.0.0.1", authority) &&
            add_extension(cert, authority, NID_basic_constraints, "critical,CA:FALSE") &&
            add_extension(cert, authority, NID_key_usage,
                          "critical,digitalSignature,keyEncipherment") &&
            add_extension(cert, authority, NID_ext_key_usage, "serverAuth") &&
            // wine matches a host only against DNS names, so the address is one of those too.
            add_extension(cert, authority, NID_subject_alt_name,
                          "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost") &&
            add_extension(cert, authority, NID_authority_key_identifier, "keyid") &&
            X509_sign(cert, authority_key, EVP_sha256()) > 0 &&
            write_pem(f.authority,
                      [authority](BIO* b) { return PEM_write_bio_X509(b, authority); }) &&
            write_server_pair(f, cert, key);
        X509_free(cert);
        X509_free(authority);
        EVP_PKEY_free(key);
        EVP_PKEY_free(authority_key);
        if (!ok) throw std::runtime_error("could not make the test authority's certificates");
        remove_at_exit(f.dir);
        return f;
    }();
    return files;
}

}  // namespace

void bypass_proxies_for_loopback() {
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const std::string old = environment(name);
        std::string value = "127.0.0.1,localhost,::1";
        if (old.find(value) != std::string::npos) continue;
        if (!old.empty()) value = old + "," + value;
        set_environment(name, value);
    }
}

namespace {

// A ranged file and the cuts it has used.
struct ranged_state {
    ranged_file file;
    std::mutex lock;
    size_t next_cut = 0;
};

// A route answers with an ordinary reply, raw bytes or a ranged file.
struct answer {
    bool raw = false;
    reply normal;
    std::string bytes;
    raw_end after = raw_end::close;
    std::shared_ptr<ranged_state> ranged;
};

using route = std::function<answer(const recorded_request&)>;

answer answer_with(const reply& r) {
    answer a;
    if (r.is_raw) {
        a.raw = true;
        a.bytes = r.body;
        a.after = r.after;
    } else {
        a.normal = r;
    }
    return a;
}

std::string render(const reply& r) {
    std::ostringstream out;
    out << "HTTP/1.1 " << r.status << ' ' << reason(r.status) << "\r\n";
    out << "Connection: close\r\n";
    if (r.content_length) out << "Content-Length: " << r.body.size() << "\r\n";
    for (const auto& [n, v] : r.headers) out << n << ": " << v << "\r\n";
    out << "\r\n" << r.body;
    return out.str();
}

}  // namespace

std::string recorded_request::header(std::string_view name) const {
    std::string want = lower(name);
    for (const auto& [n, v] : headers)
        if (lower(n) == want) return v;
    return std::string();
}

bool recorded_request::has_header(std::string_view name) const {
    std::string want = lower(name);
    for (const auto& [n, v] : headers)
        if (lower(n) == want) return true;
    return false;
}

reply reply::text(std::string body, int status) {
    reply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

reply reply::redirect(std::string location, int status) {
    reply r;
    r.status = status;
    r.headers.emplace_back("Location", std::move(location));
    r.body = "moved";
    return r;
}

reply reply::raw(std::string bytes, raw_end after) {
    reply r;
    r.body = std::move(bytes);
    r.is_raw = true;
    r.after = after;
    return r;
}

reply reply::chunked(const std::string& body, size_t piece) {
    reply r;
    r.content_length = false;
    r.headers.emplace_back("Transfer-Encoding", "chunked");
    if (piece == 0) piece = 1;
    std::ostringstream out;
    for (size_t i = 0; i < body.size(); i += piece) {
        size_t n = std::min(piece, body.size() - i);
        out << std::hex << n << "\r\n" << body.substr(i, n) << "\r\n";
    }
    out << "0\r\n\r\n";
    r.body = out.str();
    return r;
}

struct http_server::impl {
    bool tls = false;
    loopback::socket_id listen_fd = loopback::no_socket;
    uint16_t port = 0;
    SSL_CTX* ctx = nullptr;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::mutex lock;  // guards everything below
    struct worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<worker> workers;
    std::set<loopback::socket_id> open_connections;  // stop() interrupts what they wait for
    std::map<std::string, route> routes;
    std::vector<std::pair<std::string, std::filesystem::path>> folders;
    std::vector<recorded_request> log;
    std::map<std::string, int64_t> sent;  // bytes written, by request path

    struct connection {
        impl& server;
        loopback::socket_id fd;
        SSL* ssl = nullptr;
        std::string path{};  // of the request, once it is read

        void count(int n) {
            if (n <= 0 || path.empty()) return;
            std::lock_guard<std::mutex> g(server.lock);
            server.sent[path] += n;
        }

        bool write_all(const std::string& data) {
            size_t done = 0;
            while (done < data.size()) {
                int n;
                if (ssl) {
                    n = SSL_write(ssl, data.data() + done, static_cast<int>(data.size() - done));
                } else {
                    n = static_cast<int>(
                        loopback::send_some(fd, data.data() + done, data.size() - done));
                }
                if (n <= 0) return false;
                count(n);
                done += static_cast<size_t>(n);
            }
            return true;
        }

        // Writes [from, to) of the body at the file's rate; false when the client went away.
        bool write_paced(const std::string& body, int64_t from, int64_t to, int64_t rate) {
            const auto start = std::chrono::steady_clock::now();
            constexpr int64_t piece = 16384;
            for (int64_t at = from; at < to && !server.stopping;) {
                const int64_t n = std::min(piece, to - at);
                if (!write_all(body.substr(static_cast<size_t>(at), static_cast<size_t>(n))))
                    return false;
                at += n;
                if (rate > 0) {
                    const auto due = start + std::chrono::microseconds((at - from) * 1000000 / rate);
                    std::this_thread::sleep_until(due);
                }
            }
            return !server.stopping;
        }

        void serve_ranged(ranged_state& state, const recorded_request& r) {
            ranged_file file;
            {
                std::lock_guard<std::mutex> g(state.lock);
                file = state.file;
            }
            const int64_t size = static_cast<int64_t>(file.body.size());
            int64_t from = 0;
            int status = 200;
            const std::string range = r.header("Range"), if_range = r.header("If-Range");
            const std::string& validator = file.etag.empty() ? file.last_modified : file.etag;
            if (file.honour_range && range.rfind("bytes=", 0) == 0 &&
                (!r.has_header("If-Range") || if_range == validator)) {
                from = std::atoll(range.c_str() + 6);
                status = 206;
            }
            std::ostringstream head;
            head << "HTTP/1.1 " << (from >= size && status == 206 ? 416 : status) << ' '
                 << reason(from >= size && status == 206 ? 416 : status) << "\r\n"
                 << "Connection: close\r\n";
            if (file.accept_ranges) head << "Accept-Ranges: bytes\r\n";
            if (!file.etag.empty()) head << "ETag: " << file.etag << "\r\n";
            if (!file.last_modified.empty()) head << "Last-Modified: " << file.last_modified << "\r\n";
            if (status == 206 && from >= size) {
                head << "Content-Range: bytes */" << size << "\r\nContent-Length: 0\r\n\r\n";
                write_all(head.str());
                finish(raw_end::close);
                return;
            }
            if (status == 206) {
                from = std::max<int64_t>(0, from - file.shift_start);
                head << "Content-Range: bytes " << from << '-' << size - 1 << '/' << size << "\r\n";
            }
            head << "Content-Length: " << size - from << "\r\n\r\n";
            int64_t to = size;
            {
                std::lock_guard<std::mutex> g(state.lock);
                while (state.next_cut < file.cuts.size() && file.cuts[state.next_cut] <= from)
                    ++state.next_cut;
                if (state.next_cut < file.cuts.size() && file.cuts[state.next_cut] < size)
                    to = file.cuts[state.next_cut++];
            }
            if (write_all(head.str()) && write_paced(file.body, from, to, file.bytes_per_second) &&
                to < size) {
                finish(file.cut_with);
                return;
            }
            finish(raw_end::close);
        }

        // Waits for input in small steps so that stop() is never kept waiting.
        bool wait_readable() {
            while (!server.stopping) {
                if (ssl && SSL_pending(ssl) > 0) return true;
                int r = loopback::wait_readable(fd, 50);
                if (r > 0) return true;
                if (r < 0) return false;
            }
            return false;
        }

        int read_some(char* buf, int size) {
            if (!wait_readable()) return -1;
            if (ssl) return SSL_read(ssl, buf, size);
            return static_cast<int>(loopback::receive_some(fd, buf, static_cast<size_t>(size)));
        }

        bool read_head(std::string& head) {
            char buf[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                if (head.size() > 65536) return false;
                int n = read_some(buf, sizeof(buf));
                if (n <= 0) return false;
                head.append(buf, static_cast<size_t>(n));
            }
            head.resize(head.find("\r\n\r\n") + 4);
            return true;
        }

        void stall() {
            char buf[512];
            for (;;) {
                int n = read_some(buf, sizeof(buf));
                if (n <= 0) return;  // the client gave up, or the server stops
            }
        }

        // Writes in small steps too, so that a client that stops reading cannot hold stop().
        void flood(const std::string& filler = std::string(65536, 'x')) {
            loopback::set_timeouts(fd, 50, 0);
            while (!server.stopping) {
                int n =
                    ssl ? SSL_write(ssl, filler.data(), static_cast<int>(filler.size()))
                        : static_cast<int>(loopback::send_some(fd, filler.data(), filler.size()));
                if (n <= 0 && !loopback::try_again()) return;
                count(n);
            }
        }

        // Always some progress, never an end: only a limit on the whole request stops it.
        void trickle() {
            while (!server.stopping) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                int n = ssl ? SSL_write(ssl, "x", 1)
                            : static_cast<int>(loopback::send_some(fd, "x", 1));
                if (n <= 0) return;
                count(n);
            }
        }

        void finish(raw_end how) {
            if (how != raw_end::reset && ssl) SSL_shutdown(ssl);
            if (ssl) SSL_free(ssl);
            {
                // Never interrupted once closed: the number may already name another socket.
                std::lock_guard<std::mutex> g(server.lock);
                server.open_connections.erase(fd);
            }
            loopback::close_socket(fd, how == raw_end::reset);
        }
    };

    void serve_connection(loopback::socket_id fd) {
        connection c{*this, fd};
        if (tls) {
            c.ssl = SSL_new(ctx);
            SSL_set_fd(c.ssl, static_cast<int>(fd));  // a SOCKET fits: Winsock keeps them small
            // The handshake blocks: a client that never sends one is given up after a while.
            loopback::set_timeouts(fd, 0, 10000);
            if (SSL_accept(c.ssl) != 1) {
                c.finish(raw_end::reset);
                return;
            }
        }
        std::string head;
        if (!c.read_head(head)) {
            c.finish(raw_end::close);
            return;
        }
        recorded_request r = parse(head);
        c.path = r.path;
        route handler;
        {
            std::lock_guard<std::mutex> g(lock);
            log.push_back(r);
            auto it = routes.find(r.path);
            if (it != routes.end()) handler = it->second;
        }
        answer a;
        if (handler) {
            a = handler(r);
        } else {
            a.normal = from_folder(r.path);
        }
        if (a.ranged) {
            c.serve_ranged(*a.ranged, r);
            return;
        }
        if (a.raw) {
            c.write_all(a.bytes);
            if (a.after == raw_end::stall) c.stall();
            if (a.after == raw_end::endless) c.flood();
            if (a.after == raw_end::endless_head) {
                std::string lines;
                while (lines.size() < 65536) lines += "X-Filler: " + std::string(100, 'y') + "\r\n";
                c.flood(lines);
            }
            if (a.after == raw_end::trickle) c.trickle();
            c.finish(a.after);
            return;
        }
        c.write_all(render(a.normal));
        c.finish(raw_end::close);
    }

    reply from_folder(const std::string& path) {
        std::vector<std::pair<std::string, std::filesystem::path>> copy;
        {
            std::lock_guard<std::mutex> g(lock);
            copy = folders;
        }
        for (const auto& [prefix, folder] : copy) {
            if (path.compare(0, prefix.size(), prefix) != 0) continue;
            std::string rel = path.substr(prefix.size());
            if (rel.find("..") != std::string::npos) break;
            std::ifstream in(folder / rel, std::ios::binary);
            if (!in || std::filesystem::is_directory(folder / rel)) break;
            std::ostringstream data;
            data << in.rdbuf();
            return reply::text(data.str());
        }
        return reply::text("not found", 404);
    }

    static recorded_request parse(const std::string& head) {
        recorded_request r;
        r.raw_head = head;
        size_t eol = head.find("\r\n");
        r.request_line = head.substr(0, eol);
        std::istringstream line(r.request_line);
        line >> r.method >> r.target >> r.version;
        r.path = r.target.substr(0, r.target.find('?'));
        size_t pos = eol + 2;
        while (pos < head.size()) {
            size_t end = head.find("\r\n", pos);
            if (end == std::string::npos || end == pos) break;
            std::string_view l(head.data() + pos, end - pos);
            size_t colon = l.find(':');
            if (colon != std::string_view::npos)
                r.headers.emplace_back(trim(l.substr(0, colon)), trim(l.substr(colon + 1)));
            pos = end + 2;
        }
        return r;
    }

    void accept_loop() {
        while (!stopping) {
            if (loopback::wait_readable(listen_fd, 50) <= 0) continue;
            loopback::socket_id fd = loopback::accept_connection(listen_fd);
            if (fd == loopback::no_socket) continue;
            std::lock_guard<std::mutex> g(lock);
            // Finished connection threads are joined here, so long tests do not pile them up.
            for (auto it = workers.begin(); it != workers.end();) {
                if (*it->done) {
                    it->thread.join();
                    it = workers.erase(it);
                } else {
                    ++it;
                }
            }
            open_connections.insert(fd);
            auto done = std::make_shared<std::atomic<bool>>(false);
            workers.push_back({std::thread([this, fd, done] {
                                   serve_connection(fd);
                                   *done = true;
                               }),
                               done});
        }
    }

    void set_route(const std::string& path, route r) {
        std::lock_guard<std::mutex> g(lock);
        routes[path] = std::move(r);
    }
};

http_server::http_server(bool tls, server_certificate which) : p(std::make_unique<impl>()) {
    loopback::start();
    bypass_proxies_for_loopback();
    p->tls = tls;
    if (tls) {
        const bool signed_by_authority = which == server_certificate::signed_by_test_authority;
        const std::filesystem::path cert =
            signed_by_authority ? authority_certificates().cert : certificates().cert;
        const std::filesystem::path key =
            signed_by_authority ? authority_certificates().key : certificates().key;
        p->ctx = SSL_CTX_new(TLS_server_method());
        if (!p->ctx ||
            SSL_CTX_use_certificate_file(p->ctx, cert.string().c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(p->ctx, key.string().c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("test TLS context could not be made");
    }
    p->listen_fd = loopback::listen_on_loopback(64, p->port);
    if (p->listen_fd == loopback::no_socket)
        throw std::runtime_error("test server could not listen on 127.0.0.1");
    p->acceptor = std::thread([this] { p->accept_loop(); });
}

http_server::~http_server() {
    stop();
}

void http_server::stop() {
    if (p->stopping.exchange(true)) return;
    if (p->acceptor.joinable()) p->acceptor.join();
    std::vector<impl::worker> workers;
    {
        std::lock_guard<std::mutex> g(p->lock);
        workers.swap(p->workers);
        // A send to a client that stopped reading would wait for ever.
        for (loopback::socket_id fd : p->open_connections) loopback::interrupt(fd);
    }
    for (auto& w : workers) w.thread.join();
    loopback::close_socket(p->listen_fd);
    p->listen_fd = loopback::no_socket;
    if (p->ctx) SSL_CTX_free(p->ctx);
    p->ctx = nullptr;
}

bool http_server::tls() const {
    return p->tls;
}
uint16_t http_server::port() const {
    return p->port;
}

std::string http_server::base_url() const {
    return std::string(p->tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(p->port);
}

std::string http_server::url(std::string_view path) const {
    return base_url() + std::string(path);
}

std::u16string http_server::url16(std::string_view path) const {
    std::string u = url(path);
    return std::u16string(u.begin(), u.end());  // test addresses are ASCII
}

void http_server::serve(const std::string& path, const reply& r) {
    p->set_route(path, [r](const recorded_request&) { return answer_with(r); });
}

void http_server::serve_bytes(const std::string& path, std::string bytes) {
    serve(path, reply::text(std::move(bytes)));
}

void http_server::serve_sequence(const std::string& path, std::vector<reply> answers) {
    if (answers.empty()) answers.push_back(reply::text("not found", 404));
    auto state = std::make_shared<std::pair<std::mutex, size_t>>();
    p->set_route(path, [answers, state](const recorded_request&) {
        std::lock_guard<std::mutex> g(state->first);
        const reply& next = answers[std::min(state->second, answers.size() - 1)];
        ++state->second;
        return answer_with(next);
    });
}

void http_server::serve_folder(const std::string& prefix, const std::filesystem::path& folder) {
    std::lock_guard<std::mutex> g(p->lock);
    p->folders.emplace_back(prefix, folder);
}

void http_server::serve_raw(const std::string& path, const std::string& bytes, raw_end after) {
    p->set_route(path, [bytes, after](const recorded_request&) {
        answer a;
        a.raw = true;
        a.bytes = bytes;
        a.after = after;
        return a;
    });
}

void http_server::handle(const std::string& path,
                         const std::function<reply(const recorded_request&)>& handler) {
    p->set_route(path, [handler](const recorded_request& r) { return answer_with(handler(r)); });
}

void http_server::serve_ranged(const std::string& path, ranged_file file) {
    auto state = std::make_shared<ranged_state>();
    state->file = std::move(file);
    p->set_route(path, [state](const recorded_request&) {
        answer a;
        a.ranged = state;
        return a;
    });
}

int64_t http_server::bytes_sent(std::string_view path) const {
    std::lock_guard<std::mutex> g(p->lock);
    const auto it = p->sent.find(std::string(path));
    return it == p->sent.end() ? 0 : it->second;
}

int http_server::request_count(std::string_view path) const {
    std::lock_guard<std::mutex> g(p->lock);
    int n = 0;
    for (const auto& r : p->log)
        if (r.path == path) ++n;
    return n;
}

std::vector<recorded_request> http_server::requests() const {
    std::lock_guard<std::mutex> g(p->lock);
    return p->log;
}

recorded_request http_server::last_request() const {
    std::lock_guard<std::mutex> g(p->lock);
    return p->log.empty() ? recorded_request() : p->log.back();
}

std::string closed_port_url() {
    bypass_proxies_for_loopback();
    return "http://127.0.0.1:" + std::to_string(loopback::closed_port());
}

std::filesystem::path test_certificate() {
    return certificates().cert;
}
std::filesystem::path test_private_key() {
    return certificates().key;
}
std::filesystem::path test_authority_certificate() {
    return authority_certificates().authority;
}

}  // namespace test_support
