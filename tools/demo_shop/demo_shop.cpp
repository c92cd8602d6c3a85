// quorla-demo-shop: a small local shop for the demo and the end-to-end tests. It serves the
// startup document for any work key, the update files made by quorla-pack, the cart key
// endpoint, the result service and a return page that shows the cart.
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "Usage: quorla-demo-shop [options]\n"
    "  --port N             port on 127.0.0.1 (0, the default, picks a free one)\n"
    "  --update-dir DIR     folder served at /update/ (the output of quorla-pack)\n"
    "  --update-url URL     update address the startup document names instead of this shop's\n"
    "                       /update/ (a separate update server)\n"
    "  --state-dir DIR      where received cart keys and visits are recorded (cart.txt, "
    "visits.txt)\n"
    "  --module NAME        module library named by the startup document (default: none, the\n"
    "                       manifest's module is used)\n"
    "  --install-path TEXT  install folder below the customer's data folder (QuorlaDemo/editor)\n"
    "  --todo MODE          work mode (new_work)\n"
    "  --trace-file FILE    passed to the module as the named value trace_file\n"
    "  --result-json TEXT   passed to the module as the named value result_json\n"
    "  --interactive        asks the sample module to show its window\n"
    "  --agent TEXT, --agent-type TEXT   the browser the startup document names\n"
    "  --cart-fail N        answer the cart endpoint with an error N times first\n"
    "  --https              serve HTTPS with a self-signed certificate made by openssl\n"
    "  --certificate FILE --certificate-key FILE   serve HTTPS with this PEM certificate and\n"
    "                       key instead (one the customer's machine trusts)\n"
    "  --update-delay-ms N  answer each request for an update file N ms late (to watch the\n"
    "                       progress window, or test it)\n"
    "The first line printed is the shop's base address.\n";

struct settings {
    int port = 0;
    std::string update_dir, state_dir, module, install_path = "QuorlaDemo/editor",
                                               todo = "new_work";
    std::string trace_file, result_json, agent, agent_type, update_url;
    std::string certificate, certificate_key;
    bool interactive = false, https = false;
    int cart_fail = 0;
    int update_delay_ms = 0;
};

std::string xml_text(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;  // the launcher keeps references unexpanded, so "&" stays as it is
    }
    return out;
}

std::string html(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

class shop {
  public:
    explicit shop(settings s) : s_(std::move(s)), failures_left_(s_.cart_fail) {}

    void routes(httplib::Server& server) {
        server.Get("/startup", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string key = req.get_param_value("key");
            if (req.get_param_value("field") == "result") {
                res.set_content(
                    "<?xml version=\"1.0\" encoding=\"utf-8\"?><response><result code=\"0000\" "
                    "key=\"" +
                        html(key) + "\"/></response>",
                    "text/xml; charset=utf-8");
                return;
            }
            res.set_content(startup_document(key), "text/xml; charset=utf-8");
        });
        server.Get("/cart", [this](const httplib::Request& req, httplib::Response& res) {
            record("cart.txt", "exit_code=" + req.get_param_value("exit_code") + " keyresult=" +
                                   req.get_param_value("keyresult") + " key=" + key_of(req));
            if (failures_left_ > 0) {
                --failures_left_;
                res.status = 500;
                res.set_content("<response><result code=\"9999\"/></response>", "text/xml");
                return;
            }
            res.set_content(
                "<?xml version=\"1.0\" encoding=\"utf-8\"?><response><result "
                "code=\"0000\"/></response>",
                "text/xml; charset=utf-8");
        });
        server.Get("/setkey", [this](const httplib::Request& req, httplib::Response& res) {
            record("visits.txt", "setkey " + req.target);
            res.set_content(
                "<?xml version=\"1.0\" encoding=\"utf-8\"?><response><result "
                "code=\"0000\"/></response>",
                "text/xml; charset=utf-8");
        });
        server.Get("/return", [this](const httplib::Request& req, httplib::Response& res) {
            record("visits.txt", "return " + req.target);
            std::string page =
                "<!doctype html><html><head><meta charset=\"utf-8\"><title>Demo shop: "
                "cart</title></head>"
                "<body><h1>Your cart</h1><p>Exit code: " +
                html(req.get_param_value("exit_code")) + "</p><ul>";
            std::lock_guard<std::mutex> guard(lock_);
            for (const auto& key : cart_keys_) page += "<li>Work " + html(key) + "</li>";
            page += "</ul></body></html>";
            res.set_content(page, "text/html; charset=utf-8");
        });
        if (!s_.update_dir.empty()) server.set_mount_point("/update", s_.update_dir);
        if (s_.update_delay_ms > 0) {
            server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
                if (req.path.rfind("/update/", 0) == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(s_.update_delay_ms));
                return httplib::Server::HandlerResponse::Unhandled;
            });
        }
        server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            record("requests.txt",
                   std::to_string(res.status) + " " + req.method + " " + req.target);
        });
    }

    void set_base(const std::string& base) { base_ = base; }

  private:
    // The work key travels inside the result service address, itself a parameter.
    std::string key_of(const httplib::Request& req) {
        const std::string service = req.get_param_value("keyresult");
        const size_t at = service.find("key=");
        if (at == std::string::npos) return "";
        const size_t end = service.find('&', at);
        std::string key =
            service.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4);
        std::lock_guard<std::mutex> guard(lock_);
        cart_keys_.push_back(key);
        return key;
    }

    std::string startup_document(const std::string& key) {
        std::string d = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<startup>\n";
        auto add = [&](const std::string& name, const std::string& value,
                       const std::string& attrs = "") {
            d += "  <" + name + attrs + ">" + xml_text(value) + "</" + name + ">\n";
        };
        if (!s_.module.empty()) add("module", s_.module);
        add("install_path", s_.install_path);
        add("update_url", s_.update_url.empty() ? base_ + "/update/" : s_.update_url,
            s_.https ? " ssl=\"lv2\"" : "");
        add("todo", s_.todo);
        add("editor_id", "demo-editor");
        add("rsid", "RS-" + key);
        add("count", "1");
        add("config_url", base_ + "/config");
        add("storage_url", base_ + "/storage");
        add("user_id", "demo-customer");
        add("return_url", base_ + "/return");
        add("return2_url", base_ + "/cart");
        add("setkey_url", base_ + "/setkey");
        add("app_title", "Demo shop editor");
        if (!s_.agent.empty() || !s_.agent_type.empty())
            add("agent", s_.agent,
                s_.agent_type.empty() ? "" : " type=\"" + html(s_.agent_type) + "\"");
        if (!s_.trace_file.empty()) add("internal_call", s_.trace_file, " id=\"trace_file\"");
        if (!s_.result_json.empty()) add("internal_call", s_.result_json, " id=\"result_json\"");
        if (s_.interactive) add("internal_call", "true", " id=\"interactive\"");
        d += "</startup>\n";
        return d;
    }

    void record(const char* file, const std::string& line) {
        std::lock_guard<std::mutex> guard(lock_);
        if (s_.state_dir.empty()) return;
        std::ofstream out(fs::path(s_.state_dir) / file, std::ios::app);
        out << line << "\n";
    }

    settings s_;
    std::string base_;
    std::atomic<int> failures_left_;
    std::mutex lock_;
    std::vector<std::string> cart_keys_;
};

bool make_certificate(const fs::path& folder) {
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=127.0.0.1 -keyout '" +
        (folder / "key.pem").string() + "' -out '" + (folder / "cert.pem").string() +
        "' > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "quorla-demo-shop: " << arg << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--port") {
            s.port = std::atoi(value().c_str());
        } else if (arg == "--update-dir") {
            s.update_dir = value();
        } else if (arg == "--update-url") {
            s.update_url = value();
        } else if (arg == "--state-dir") {
            s.state_dir = value();
        } else if (arg == "--module") {
            s.module = value();
        } else if (arg == "--install-path") {
            s.install_path = value();
        } else if (arg == "--todo") {
            s.todo = value();
        } else if (arg == "--trace-file") {
            s.trace_file = value();
        } else if (arg == "--result-json") {
            s.result_json = value();
        } else if (arg == "--agent") {
            s.agent = value();
        } else if (arg == "--agent-type") {
            s.agent_type = value();
        } else if (arg == "--cart-fail") {
            s.cart_fail = std::atoi(value().c_str());
        } else if (arg == "--interactive") {
            s.interactive = true;
        } else if (arg == "--https") {
            s.https = true;
        } else if (arg == "--certificate") {
            s.certificate = value();
            s.https = true;
        } else if (arg == "--certificate-key") {
            s.certificate_key = value();
            s.https = true;
        } else if (arg == "--update-delay-ms") {
            s.update_delay_ms = std::atoi(value().c_str());
        } else {
            std::cerr << kUsage << "quorla-demo-shop: unknown option " << arg << "\n";
            return 2;
        }
    }
    if (!s.update_dir.empty() && !fs::is_directory(s.update_dir)) {
        std::cerr << "quorla-demo-shop: update folder not found: " << s.update_dir << "\n";
        return 1;
    }
    if (s.certificate.empty() != s.certificate_key.empty()) {
        std::cerr << "quorla-demo-shop: --certificate and --certificate-key go together\n";
        return 2;
    }
    for (const std::string& file : {s.certificate, s.certificate_key})
        if (!file.empty() && !fs::is_regular_file(file)) {
            std::cerr << "quorla-demo-shop: file not found: " << file << "\n";
            return 1;
        }
    if (!s.state_dir.empty()) fs::create_directories(s.state_dir);

    std::unique_ptr<httplib::Server> server;
    fs::path cert_folder;
    if (!s.certificate.empty()) {
        server = std::make_unique<httplib::SSLServer>(s.certificate.c_str(),
                                                      s.certificate_key.c_str());
        if (!server->is_valid()) {
            std::cerr << "quorla-demo-shop: cannot serve HTTPS with " << s.certificate << " and "
                      << s.certificate_key << "\n";
            return 1;
        }
    } else if (s.https) {
        cert_folder =
            fs::temp_directory_path() / ("quorla-demo-shop-" + std::to_string(::getpid()));
        fs::create_directories(cert_folder);
        if (!make_certificate(cert_folder)) {
            std::cerr << "quorla-demo-shop: cannot make a certificate with openssl\n";
            return 1;
        }
        server = std::make_unique<httplib::SSLServer>((cert_folder / "cert.pem").c_str(),
                                                      (cert_folder / "key.pem").c_str());
    } else {
        server = std::make_unique<httplib::Server>();
    }

    // Signals end the shop: wait for them on this thread while the server runs on another.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    shop demo(s);
    demo.routes(*server);
    const int port = s.port == 0 ? server->bind_to_any_port("127.0.0.1")
                                 : (server->bind_to_port("127.0.0.1", s.port) ? s.port : -1);
    if (port <= 0) {
        std::cerr << "quorla-demo-shop: cannot listen on 127.0.0.1:" << s.port << "\n";
        return 1;
    }
    const std::string base =
        std::string(s.https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port);
    demo.set_base(base);
    std::cout << base << std::endl;

    std::thread listener([&] { server->listen_after_bind(); });
    int received = 0;
    sigwait(&stop_signals, &received);
    server->stop();
    listener.join();
    if (!cert_folder.empty()) fs::remove_all(cert_folder);
    return 0;
}
