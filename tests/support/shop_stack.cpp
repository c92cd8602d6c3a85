#include "tests/support/shop_stack.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <thread>

#include "tests/support/launcher_run.h"
#include "tests/support/loopback_socket.h"

namespace fs = std::filesystem;

namespace test_support {

namespace {

// The first of the names that exists, or "".
std::string first_program(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (::access(name, X_OK) == 0) return name;
    return "";
}

bool wait_for_port(uint16_t port) {
    for (int i = 0; i < 200; ++i) {
        const loopback::socket_id s = loopback::connect_to(port);
        if (s != loopback::no_socket) {
            loopback::close_socket(s);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Starts the program in the background; `sh` says "up" for it first, since neither server
// prints anything when it is ready.
std::unique_ptr<background_program> start(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"sh", "-c", "echo up; exec \"$0\" \"$@\""});
    std::string first_line;
    return std::make_unique<background_program>(argv, first_line);
}

}  // namespace

php_shop::php_shop(const fs::path& root, const fs::path& work) : work_(work) {
    const std::string nginx = first_program({"/usr/sbin/nginx"});
    const std::string fpm =
        first_program({"/usr/sbin/php-fpm8.2", "/usr/sbin/php-fpm8.3", "/usr/sbin/php-fpm"});
    if (nginx.empty() || fpm.empty()) {
        missing_ = nginx.empty() ? "nginx is not installed (Debian package nginx-light)"
                                 : "PHP-FPM is not installed (Debian package php-fpm)";
        return;
    }
    fs::create_directories(work / "logs");
    fs::create_directories(work / "temp");
    const uint16_t web = loopback::closed_port();
    uint16_t fastcgi = loopback::closed_port();
    while (fastcgi == web) fastcgi = loopback::closed_port();
    const std::string w = fs::absolute(work).string();
    {
        std::ofstream conf(work / "fpm.conf");
        conf << "[global]\npid = " << w << "/fpm.pid\nerror_log = " << w
             << "/logs/fpm.log\ndaemonize = no\n[shop]\nlisten = 127.0.0.1:" << fastcgi
             << "\npm = static\npm.max_children = 2\n";
        // PHP-FPM wants a user for its workers when it runs as root; the shop's scripts write
        // into the test's folders.
        if (::geteuid() == 0) conf << "user = root\ngroup = root\n";
    }
    {
        // As root, nginx's workers run as nobody: the test's folders are readable by all.
        std::ofstream conf(work / "nginx.conf");
        conf << "worker_processes 1;\ndaemon off;\npid " << w << "/nginx.pid;\nerror_log " << w
             << "/logs/error.log;\nevents { worker_connections 64; }\nhttp {\n"
             << "  access_log " << w << "/logs/access.log;\n";
        for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf << "  " << temp << "_temp_path " << w << "/temp/" << temp << ";\n";
        conf << "  types { text/xml xml; application/zip zip; }\n"
             << "  server {\n    listen 127.0.0.1:" << web << ";\n    root "
             << fs::absolute(root).string() << ";\n"
             << "    location ~ \\.php$ {\n      include /etc/nginx/fastcgi_params;\n"
             << "      fastcgi_param SCRIPT_FILENAME $document_root$fastcgi_script_name;\n"
             << "      fastcgi_pass 127.0.0.1:" << fastcgi << ";\n    }\n  }\n}\n";
    }
    std::vector<std::string> fpm_argv = {fpm, "--nodaemonize", "--fpm-config", w + "/fpm.conf"};
    if (::geteuid() == 0) fpm_argv.push_back("--allow-to-run-as-root");
    fpm_ = start(fpm_argv);
    nginx_ = start({nginx, "-p", w, "-c", w + "/nginx.conf", "-e", w + "/logs/error.log"});
    if (!wait_for_port(fastcgi) || !wait_for_port(web)) {
        why_not_ = "the shop did not start: " + read_text(work / "logs" / "fpm.log") +
                   read_text(work / "logs" / "error.log");
        return;
    }
    base_url_ = "http://127.0.0.1:" + std::to_string(web);
}

php_shop::~php_shop() {
    nginx_.reset();
    fpm_.reset();
}

std::string php_shop::access_log() const {
    return read_text(work_ / "logs" / "access.log");
}

office_proxy::office_proxy(const fs::path& work, const std::string& user,
                           const std::string& password)
    : work_(work) {
    const std::string tinyproxy = first_program({"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"});
    if (tinyproxy.empty()) {
        missing_ = "tinyproxy is not installed (Debian package tinyproxy)";
        return;
    }
    fs::create_directories(work);
    const uint16_t port = loopback::closed_port();
    const std::string w = fs::absolute(work).string();
    {
        // Connect level logs every request line; no ConnectPort line: tunnels to any port.
        std::ofstream conf(work / "tinyproxy.conf");
        conf << "Port " << port << "\nListen 127.0.0.1\nTimeout 120\nMaxClients 32\n"
             << "Allow 127.0.0.1\nLogLevel Connect\nLogFile \"" << w << "/tinyproxy.log\"\n"
             << "PidFile \"" << w << "/tinyproxy.pid\"\n";
        if (!user.empty()) conf << "BasicAuth " << user << ' ' << password << '\n';
    }
    proxy_ = start({tinyproxy, "-d", "-c", w + "/tinyproxy.conf"});
    if (!wait_for_port(port)) {
        why_not_ = "tinyproxy did not start: " + read_text(work / "tinyproxy.log");
        return;
    }
    address_ = "127.0.0.1:" + std::to_string(port);
}

office_proxy::~office_proxy() {
    proxy_.reset();
}

std::vector<std::string> office_proxy::requests() const {
    // "CONNECT   Dec 10 14:36:44.461 [21582]: Request (file descriptor 5): GET http://..."
    static const std::string marker = "]: Request (file descriptor ";
    std::vector<std::string> lines;
    std::istringstream log(read_text(work_ / "tinyproxy.log"));
    for (std::string line; std::getline(log, line);) {
        const size_t at = line.find(marker);
        const size_t colon = at == std::string::npos ? at : line.find("): ", at + marker.size());
        if (colon != std::string::npos) lines.push_back(line.substr(colon + 3));
    }
    return lines;
}

}  // namespace test_support
