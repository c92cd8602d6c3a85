// quorla-bench: the launcher's speed and memory side by side with what a person would otherwise
// use, measured in one run on the same data. Run through `make bench`; see bench/README.md.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "inet/rest.h"
#include "tests/support/http_server.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/md5.h"
#include "update/procedure.h"
#include "update/scramble.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

constexpr size_t MiB = 1024 * 1024;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "quorla-bench: %s\n", what.c_str());
    std::exit(1);
}

std::u16string wide(const fs::path& p) {
    return from_utf8(p.string());
}

// ---- data ------------------------------------------------------------------------------------

// Module files compress about as real libraries do: blocks of noise between blocks of
// repetitive text, so inflating does real work.
void fill_module_like(std::vector<char>& buf, size_t size, std::mt19937_64& rng) {
    static const char* const words[] = {"Initialize", "InternalCall", "editor",   "module",
                                        "render",     "texture",      "0000000",  "layout",
                                        "QuorlaEdit", "    ",         "\x00\x00", "canvas"};
    buf.resize(size);
    size_t at = 0;
    while (at < size) {
        const size_t block = std::min<size_t>(4096, size - at);
        if (rng() % 2) {
            for (size_t i = 0; i < block; i += 8) {
                const uint64_t r = rng();
                std::memcpy(&buf[at + i], &r, std::min<size_t>(8, block - i));
            }
        } else {
            size_t i = 0;
            while (i < block) {
                const char* w = words[rng() % 12];
                const size_t len = std::max<size_t>(std::strlen(w), 2);
                for (size_t k = 0; k < len && i < block; ++k, ++i) buf[at + i] = w[k];
            }
        }
        at += block;
    }
}

void write_file(const fs::path& path, const std::vector<char>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) die("cannot write " + path.string());
}

// OpenSSL's MD5 of a file, read in 64 KiB pieces: the reference for benchmark 1 and the
// source of the checksum list the shell pipeline checks against.
std::string openssl_md5_file(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) die("cannot open " + path.string());
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    static std::vector<unsigned char> buf(64 * 1024);
    ssize_t n;
    while ((n = read(fd, buf.data(), buf.size())) > 0) EVP_DigestUpdate(ctx, buf.data(), size_t(n));
    close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx, digest, &len);
    EVP_MD_CTX_free(ctx);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

// ---- processes -------------------------------------------------------------------------------

struct child_result {
    int status = -1;
    double seconds = 0;
    long max_rss_kib = 0;    // the child and every descendant it waited for
    double cpu_seconds = 0;  // user and system time, from the peak-memory helper only
};

std::vector<std::string> environment_with(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        if (!extra.count(name)) env.push_back(entry);
    }
    for (const auto& [k, v] : extra) env.push_back(k + "=" + v);
    return env;
}

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra,
            posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<std::string> env = environment_with(extra);
    std::vector<char*> a, e;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, a[0], actions, nullptr, a.data(), e.data()) != 0)
        die("cannot start " + argv[0]);
    return pid;
}

child_result wait_child(pid_t pid, double started) {
    child_result r;
    struct rusage ru {};
    int status = 0;
    while (wait4(pid, &status, 0, &ru) < 0)
        if (errno != EINTR) die("wait4 failed");
    r.seconds = now() - started;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.max_rss_kib = ru.ru_maxrss;
    return r;
}

fs::path g_rss_helper, g_rss_file;

child_result run(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& extra = {}) {
    const double t0 = now();
    const pid_t pid = spawn(argv, extra);
    return wait_child(pid, t0);
}

// Runs the program under the small peak-memory helper; max_rss_kib is the program's own.
child_result run_measured(std::vector<std::string> argv,
                          const std::map<std::string, std::string>& extra = {}) {
    argv.insert(argv.begin(), {g_rss_helper.string(), g_rss_file.string()});
    fs::remove(g_rss_file);
    child_result r = run(argv, extra);
    std::ifstream in(g_rss_file);
    if (!(in >> r.max_rss_kib >> r.cpu_seconds)) die("no peak memory figure from " + argv[2]);
    return r;
}

child_result run_shell(const std::string& script, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = {"/bin/sh", "-c", script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_measured(argv);
}

void must(const child_result& r, const std::string& what) {
    if (r.status != 0) die(what + " failed (exit status " + std::to_string(r.status) + ")");
}

// The demo shop in the background; its first line of output is its base address.
class shop_process {
  public:
    explicit shop_process(const std::vector<std::string>& argv) {
        int fds[2];
        if (pipe(fds) != 0) die("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        pid_ = spawn(argv, {}, &actions);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') base_ += c;
        out_ = fds[0];  // kept open so the shop never writes into a closed pipe
        if (base_.rfind("http", 0) != 0) die("the demo shop did not start: " + base_);
    }
    ~shop_process() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        close(out_);
    }
    const std::string& base() const { return base_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string base_;
};

std::string percent_encode(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            char esc[4];
            std::snprintf(esc, sizeof esc, "%%%02X", c);
            out += esc;
        }
    }
    return out;
}

// The module's files in an install folder (not the launcher's own update.lock).
size_t count_files(const fs::path& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().filename() != "update.lock") ++n;
    return n;
}

// ---- the report ------------------------------------------------------------------------------

struct row {
    std::string name, ours, reference, ratio, target;
    bool pass;
};
std::vector<row> rows;

std::string fmt(const char* f, double v) {
    char s[64];
    std::snprintf(s, sizeof s, f, v);
    return s;
}

void report(row r) {
    std::printf("  -> ours %s, reference %s, ratio %s, target %s: %s\n\n", r.ours.c_str(),
                r.reference.c_str(), r.ratio.c_str(), r.target.c_str(), r.pass ? "PASS" : "MISS");
    std::fflush(stdout);
    rows.push_back(std::move(r));
}

void print_samples(const char* label, const std::vector<double>& v, double scale,
                   const char* unit) {
    std::printf("  %-10s", label);
    for (double x : v) std::printf(" %.1f", x * scale);
    std::printf(" %s (median %.1f)\n", unit, median(v) * scale);
}

// Repetition i runs both sides, the one going first alternating, so that neither always meets
// a cache the other has just warmed.
template <class A, class B>
void in_turn(int i, A& first, B& second) {
    if (i % 2) {
        second();
        first();
    } else {
        first();
        second();
    }
}

// Samples in seconds, ours against a reference command: the ratio of the medians must stay at
// or below `limit`.
void report_times(const char* name, const char* reference, const std::vector<double>& ours,
                  const std::vector<double>& ref, double limit) {
    print_samples("ours", ours, 1000, "ms");
    print_samples(reference, ref, 1000, "ms");
    const double r = median(ours) / median(ref);
    report({name, fmt("%.0f ms", median(ours) * 1000), fmt("%.0f ms", median(ref) * 1000),
            fmt("%.2f", r), fmt("<= %.2f x", limit), r <= limit});
}

// ---- the benchmarks --------------------------------------------------------------------------

struct settings {
    fs::path work, bin;
    int reps = 5;
    std::vector<int> only;
    bool wants(int n) const {
        return only.empty() || std::find(only.begin(), only.end(), n) != only.end();
    }
};

void bench_md5(const settings& s) {
    std::printf(
        "1. MD5 throughput: file_md5_hex against OpenSSL MD5 (both 64 KiB reads), 256 MiB\n");
    const fs::path file = s.work / "md5.bin";
    {
        std::mt19937_64 rng(1);
        std::vector<char> chunk(16 * MiB);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 16; ++i) {
            for (size_t k = 0; k < chunk.size(); k += 8) {
                const uint64_t r = rng();
                std::memcpy(&chunk[k], &r, 8);
            }
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
    }
    const double size = double(fs::file_size(file));
    const std::string expected = openssl_md5_file(file);  // also warms the page cache
    std::vector<double> ours, ref;
    for (int i = 0; i < std::max(s.reps, 7); ++i) {
        double t0 = now();
        const std::string digest = to_utf8(file_md5_hex(wide(file)));
        ours.push_back(size / (now() - t0) / MiB);
        t0 = now();
        const std::string ref_digest = openssl_md5_file(file);
        ref.push_back(size / (now() - t0) / MiB);
        if (digest != expected || ref_digest != expected) die("MD5 digests differ: " + digest);
    }
    print_samples("ours", ours, 1, "MiB/s");
    print_samples("openssl", ref, 1, "MiB/s");
    const double r = median(ours) / median(ref);
    report({"1 MD5 throughput, 256 MiB", fmt("%.0f MiB/s", median(ours)),
            fmt("%.0f MiB/s", median(ref)), fmt("%.2f", r), ">= 0.95 x", r >= 0.95});
    fs::remove(file);
}

struct module_data {
    fs::path source, packed, list;  // list: "digest  name" lines for md5sum -c
    std::vector<std::string> archives;
    size_t files = 0, bytes = 0;
};

module_data make_module(const settings& s) {
    module_data m;
    m.source = s.work / "module-src";
    m.packed = s.work / "module-packed";
    fs::create_directories(m.source);
    std::mt19937_64 rng(2);
    // 300 files in three groups, sizes spread from 16 KiB to about 1.3 MiB, 200 MiB in all.
    const char* groups[] = {"core_%03d.bin", "data_%03d.dat", "res_%03d.pak"};
    std::vector<size_t> sizes;
    double sum = 0;
    for (int i = 0; i < 300; ++i) {
        sizes.push_back(16 * 1024 + rng() % (1300 * 1024));
        sum += double(sizes.back());
    }
    std::vector<char> buf;
    size_t total = 0;
    for (int i = 0; i < 300; ++i) {
        size_t size = size_t(double(sizes[size_t(i)]) * (200.0 * MiB - 200 * 1024) / sum);
        if (i == 299) size = 200 * MiB - 200 * 1024 - total;
        total += size;
        char name[32];
        std::snprintf(name, sizeof name, groups[i % 3], i);
        fill_module_like(buf, size, rng);
        write_file(m.source / name, buf);
    }
    fs::copy_file(s.bin.parent_path() / "lib" / "libquorla_sample_editor.so",
                  m.source / "libquorla_sample_editor.so");
    must(run({(s.bin / "quorla-pack").string(), "--module", "libquorla_sample_editor.so",
              "--archive", "data.zip=data_*", "--archive", "res.zip=res_*", m.source.string(),
              m.packed.string()}),
         "quorla-pack");
    m.archives = {"module.zip", "data.zip", "res.zip"};
    // The list the pipeline checks, in the same order the archives are unpacked.
    std::string list;
    for (const auto& e : fs::directory_iterator(m.source)) {
        list += openssl_md5_file(e.path()) + "  " + e.path().filename().string() + "\n";
        ++m.files;
        m.bytes += fs::file_size(e.path());
    }
    m.list = m.packed / "files.md5";
    std::ofstream(m.list) << list;
    size_t packed = 0;
    for (const auto& a : m.archives) packed += fs::file_size(m.packed / a);
    std::printf("   module: %zu files, %.1f MiB; archives %.1f MiB\n", m.files,
                double(m.bytes) / MiB, double(packed) / MiB);
    return m;
}

void startup_for(startup_file_xml& startup, const fs::path& install, const std::string& base) {
    startup.install_path = wide(install) + u"/";
    startup.update_url = from_utf8(base + "/update/");
    startup.update_file_url = startup.update_url;
}

// The same work with standard tools: fetch the list and each archive, unpack, check, move.
const char kPipeline[] = R"(set -e
inst=$1; base=$2
mkdir -p "$inst/download"
cd "$inst/download"
curl -sfS -o files.md5 "$base/update/files.md5"
for a in module.zip data.zip res.zip; do
  curl -sfS -o "$a" "$base/update/$a"
  unzip -qo "$a"
done
md5sum -c --quiet files.md5
mv -t "$inst" -- $(cut -c35- files.md5)
cd "$inst"
rm -rf download
)";

long g_pipeline_rss_kib = 0;

void bench_full_update(const settings& s, const module_data& m, const std::string& base) {
    std::printf(
        "2. Full update over loopback: update_module against curl | unzip | md5sum -c | mv\n");
    const fs::path ours_dir = s.work / "install-ours", ref_dir = s.work / "install-pipeline";
    std::vector<double> ours, ref;
    std::vector<double> rss;
    for (int i = 0; i < s.reps; ++i) {
        fs::remove_all(ours_dir);
        fs::remove_all(ref_dir);
        fs::create_directories(ref_dir);
        startup_file_xml startup;
        startup_for(startup, ours_dir, base);
        auto run_ours = [&] {
            std::u16string module_file;
            const double t0 = now();
            const bool ok = update_module(nullptr, startup, module_file);
            ours.push_back(now() - t0);
            if (!ok || count_files(ours_dir) != m.files || fs::exists(ours_dir / "download"))
                die("update_module did not install the module");
        };
        auto run_ref = [&] {
            const child_result r = run_shell(kPipeline, {ref_dir.string(), base});
            must(r, "the pipeline");
            ref.push_back(r.seconds);
            rss.push_back(double(r.max_rss_kib));
            if (count_files(ref_dir) != m.files) die("the pipeline did not install the module");
        };
        in_turn(i, run_ours, run_ref);
    }
    g_pipeline_rss_kib = long(median(rss));
    report_times("2 Full update, 200 MiB / 3 zips", "pipeline", ours, ref, 1.2);
}

void bench_noop_update(const settings& s, const module_data& m, const std::string& base) {
    std::printf("3. No-op update: update_module with everything current against md5sum -c\n");
    const fs::path dir = s.work / "install-ours";
    if (count_files(dir) != m.files) die("benchmark 3 needs the installed module of benchmark 2");
    startup_file_xml startup;
    startup_for(startup, dir, base);
    std::vector<double> ours, ref;
    for (int i = 0; i < std::max(s.reps, 7); ++i) {
        std::u16string module_file;
        double t0 = now();
        const bool ok = update_module(nullptr, startup, module_file);
        ours.push_back(now() - t0);
        if (!ok || count_files(dir) != m.files) die("the no-op update failed");
        const child_result r =
            run_shell("cd \"$1\" && md5sum -c --quiet \"$2\"", {dir.string(), m.list.string()});
        must(r, "md5sum -c");
        ref.push_back(r.seconds);
    }
    report_times("3 No-op update, 200 MiB current", "md5sum", ours, ref, 0.5);
}

void bench_extract(const settings& s) {
    std::printf("4. Zip extraction: extract_zip against unzip, 100 MiB archive of 100 files\n");
    const fs::path src = s.work / "zip-src", packed = s.work / "zip-packed";
    fs::create_directories(src);
    std::mt19937_64 rng(4);
    std::vector<char> buf;
    for (int i = 0; i < 100; ++i) {
        fill_module_like(buf, MiB, rng);
        write_file(src / ("part_" + std::to_string(i) + ".bin"), buf);
    }
    must(run({(s.bin / "quorla-pack").string(), "--module", "part_0.bin", src.string(),
              packed.string()}),
         "quorla-pack");
    const fs::path archive = packed / "module.zip";
    std::printf("   archive: %.1f MiB packed, 100.0 MiB unpacked\n",
                double(fs::file_size(archive)) / MiB);
    const fs::path ours_dir = s.work / "unzip-ours", ref_dir = s.work / "unzip-ref";
    std::vector<double> ours, ref;
    for (int i = 0; i < std::max(s.reps, 7); ++i) {
        fs::remove_all(ours_dir);
        fs::remove_all(ref_dir);
        fs::create_directories(ours_dir);
        fs::create_directories(ref_dir);
        auto run_ours = [&] {
            const double t0 = now();
            if (extract_zip(wide(archive), wide(ours_dir), u"", u"") != 1)
                die("extract_zip failed");
            ours.push_back(now() - t0);
        };
        auto run_ref = [&] {
            const child_result r = run({"unzip", "-qo", archive.string(), "-d", ref_dir.string()});
            must(r, "unzip");
            ref.push_back(r.seconds);
        };
        in_turn(i, run_ours, run_ref);
        if (count_files(ours_dir) != 100 || count_files(ref_dir) != 100)
            die("an extraction is incomplete");
    }
    report_times("4 Zip extraction, 100 MiB", "unzip", ours, ref, 1.1);
}

void bench_memory(const settings& s, const module_data& m, const std::string& base) {
    std::printf(
        "5. Peak memory: the real launcher, headless, full run installing the 200 MiB module\n");
    std::vector<double> rss, secs;
    const std::string link = "quorla://key=BENCH&svr=" + percent_encode(base + "/startup");
    for (int i = 0; i < std::max(3, s.reps / 2); ++i) {
        const fs::path data = s.work / ("data-launcher-" + std::to_string(i));
        fs::remove_all(data);
        const child_result r = run_measured(
            {(s.bin / "quorla-launcher").string(), link},
            {{"XDG_DATA_HOME", data.string()}, {"QUORLA_HEADLESS", "1"}, {"LANG", "C.UTF-8"}});
        if (r.status != 0) die("the launcher run failed; its log is under " + data.string());
        if (count_files(data / "QuorlaDemo" / "editor") != m.files)
            die("the launcher did not install the module");
        rss.push_back(double(r.max_rss_kib) / 1024);
        secs.push_back(r.seconds);
        fs::remove_all(data);
    }
    print_samples("launcher", rss, 1, "MiB");
    print_samples("run time", secs, 1000, "ms");
    const double ours = median(rss), ref = double(g_pipeline_rss_kib) / 1024;
    report({"5 Peak RSS, launcher full run", fmt("%.1f MiB", ours),
            ref > 0 ? fmt("%.1f MiB", ref) : "-", ref > 0 ? fmt("%.2f", ours / ref) : "-",
            "<= 48 MiB", ours <= 48});
}

// Start-up: from spawning the program to its first request arriving at a local socket.
void bench_startup(const settings& s) {
    std::printf("6. Start-up: headless launcher against a C program doing the same libcurl GET\n");
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        die("cannot listen on 127.0.0.1");
    const std::string base = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    const std::string link = "quorla://key=BENCH&svr=" + percent_encode(base + "/startup");
    const std::string first_url = base + "/startup?key=BENCH&field=startup";
    const fs::path data = s.work / "data-startup";

    // Seconds until the program's first request head has fully arrived.
    auto first_request = [&](const std::vector<std::string>& argv,
                             const std::map<std::string, std::string>& env) {
        const double t0 = now();
        const pid_t pid = spawn(argv, env);
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1) die("no request from " + argv[0]);
        const int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            pollfd q{c, POLLIN, 0};
            if (poll(&q, 1, 10000) != 1) die("incomplete request from " + argv[0]);
            const ssize_t n = read(c, buf, sizeof buf);
            if (n <= 0) die("incomplete request from " + argv[0]);
            head.append(buf, size_t(n));
        }
        const double t = now() - t0;
        if (head.rfind("GET /startup?key=BENCH&field=startup ", 0) != 0)
            die("unexpected first request: " + head.substr(0, head.find('\r')));
        const char answer[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        (void)!write(c, answer, sizeof answer - 1);
        close(c);
        kill(pid, SIGKILL);  // the launcher would retry; nothing after the request counts
        waitpid(pid, nullptr, 0);
        return t;
    };
    const std::vector<std::string> launcher = {(s.bin / "quorla-launcher").string(), link};
    const std::map<std::string, std::string> launcher_env = {
        {"XDG_DATA_HOME", data.string()}, {"QUORLA_HEADLESS", "1"}, {"LANG", "C.UTF-8"}};
    const std::vector<std::string> reference = {(s.bin / "quorla-bench-first-request").string(),
                                                first_url};
    first_request(launcher, launcher_env);  // page cache and log folder in place
    first_request(reference, {});
    std::vector<double> ours, ref;
    for (int i = 0; i < std::max(21, s.reps * 4 + 1); ++i) {
        ours.push_back(first_request(launcher, launcher_env));
        ref.push_back(first_request(reference, {}));
    }
    close(listener);
    print_samples("launcher", ours, 1000, "ms");
    print_samples("libcurl C", ref, 1000, "ms");
    const double r = median(ours) / median(ref);
    report({"6 Start-up to first request", fmt("%.1f ms", median(ours) * 1000),
            fmt("%.1f ms", median(ref) * 1000), fmt("%.2f", r), "<= 1.50 x, < 50 ms",
            r <= 1.5 && median(ours) < 0.05});
}

// A loopback server in the benchmark's own process: exact bodies by path (query ignored),
// HTTP/1.0 with Content-Length, one request per connection.
class document_server {
  public:
    document_server() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener_, 16) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            die("cannot listen on 127.0.0.1");
        base_ = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
        thread_ = std::thread([this] { serve(); });
    }
    ~document_server() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    const std::string& base() const { return base_; }
    void set(const std::string& path, std::string body) {
        std::lock_guard<std::mutex> g(lock_);
        bodies_[path] = std::move(body);
    }

  private:
    void serve() {
        for (;;) {
            const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) return;
            std::string head;
            char buf[4096];
            while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
                const ssize_t n = read(c, buf, sizeof buf);
                if (n <= 0) break;
                head.append(buf, size_t(n));
            }
            const size_t from = head.find(' ') + 1;
            std::string path = head.substr(from, head.find_first_of(" ?", from) - from);
            std::string answer;
            {
                std::lock_guard<std::mutex> g(lock_);
                const auto it = bodies_.find(path);
                answer = it == bodies_.end()
                             ? "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"
                             : "HTTP/1.0 200 OK\r\nContent-Length: " +
                                   std::to_string(it->second.size()) + "\r\n\r\n" + it->second;
            }
            for (size_t at = 0; at < answer.size();) {
                const ssize_t n = send(c, answer.data() + at, answer.size() - at, MSG_NOSIGNAL);
                if (n <= 0) break;
                at += size_t(n);
            }
            close(c);
        }
    }
    int listener_ = -1;
    std::string base_;
    std::thread thread_;
    std::mutex lock_;
    std::map<std::string, std::string> bodies_;
};

// `piece` repeated, after `head` and before `tail`, to exactly `size` bytes in all.
std::string filled(const std::string& head, const std::string& piece, const std::string& tail,
                   size_t size) {
    std::string out = head;
    while (out.size() + piece.size() + tail.size() <= size) out += piece;
    out.append(size - out.size() - tail.size(), ' ');
    return out + tail;
}

// 7. The launcher against a hostile shop: the largest startup document, manifest or cart
// answer a server may send (the 16 MiB memory bound), built to make the reader's tree, the
// decoded text and the log as large as they can be.
void bench_hostile(const settings& s) {
    std::printf(
        "7. Hostile documents: peak memory and run time of the real launcher on 16 MiB "
        "startup documents, manifests and cart answers\n");
    const size_t size = size_t(inet::rest::max_memory_body);
    document_server server;
    const std::string& base = server.base();

    // A small real module, so that the cart answer is reached after a real update.
    const fs::path source = s.work / "small-src", packed = s.work / "small-packed";
    fs::create_directories(source);
    fs::copy_file(s.bin.parent_path() / "lib" / "libquorla_sample_editor.so",
                  source / "libquorla_sample_editor.so", fs::copy_options::overwrite_existing);
    must(run({(s.bin / "quorla-pack").string(), "--module", "libquorla_sample_editor.so",
              source.string(), packed.string()}),
         "quorla-pack");
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(packed)) {
        std::ifstream in(e.path(), std::ios::binary);
        files["/update/" + e.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const fs::path browser = s.work / "browser.exe";
    std::ofstream(browser) << "#!/bin/sh\nexit 0\n";
    fs::permissions(browser, fs::perms::owner_all);

    const std::string fields =
        "<install_path>QuorlaBench/editor</install_path><update_url>" + base +
        "/update/</update_url><todo>new_work</todo><editor_id>e</editor_id><rsid>R</rsid>"
        "<count>1</count><return_url>" +
        base + "/return</return_url><return2_url>" + base + "/cart</return2_url><setkey_url>" +
        base + "/setkey</setkey_url><agent type=\"file\">" + browser.string() + "</agent>";
    const std::string good_startup =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><startup>" + fields + "</startup>";
    const std::string xml_head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    // Hostile trees: every kind of node the reader makes, as many as the bytes allow.
    const std::vector<std::pair<std::string, std::string>> trees = {
        {"nested <a>", filled(xml_head + "<startup><update><response>", "<a>", "", size)},
        {"<a<a<a", filled(xml_head, "<a", "", size)},
        {"flat <a/>", filled(xml_head + "<startup><update><response>", "<a/>", "", size)},
        {"attributes", filled(xml_head + "<startup><update><response><a", " b", ">", size)},
        {"text and tags", filled(xml_head + "<startup><update><response>", "x<a/>", "", size)},
    };
    struct hostile_case {
        std::string name;
        std::map<std::string, std::string> served;
    };
    std::vector<hostile_case> cases;
    for (const auto& [name, tree] : trees)
        cases.push_back({"startup: " + name, {{"/startup", tree}}});
    // Fields of 16 MiB: the address is copied into both update addresses, the return address
    // travels on to the editor module.
    cases.push_back({"startup: 16 MiB update_url",
                     {{"/startup", filled(xml_head + "<startup>" + fields + "<update_url>http://" +
                                              base.substr(7) + "/",
                                          "x", "</update_url></startup>", size)}}});
    cases.push_back(
        {"startup: 16 MiB return_url",
         {{"/startup", filled(xml_head + "<startup>" + fields + "<return_url>" + base + "/return?",
                              "x", "</return_url></startup>", size)}}});
    cases.push_back({"startup: 16 MiB UTF-16 text",
                     {{"/startup", [&] {
                           std::string t = "\xFF\xFE";
                           const std::u16string w = from_utf8(
                               "<startup>" + fields + "<internal_call id=\"x\">" +
                               std::string(size / 2 - 1000, 'x') + "</internal_call></startup>");
                           for (char16_t c : w) {
                               t.push_back(char(c & 0xFF));
                               t.push_back(char(c >> 8));
                           }
                           return t;
                       }()}}});
    for (const auto& [name, tree] : trees) {
        hostile_case c{"manifest: " + name, files};
        c.served["/startup"] = good_startup;
        c.served["/update/activeupdate.xml"] = tree;
        cases.push_back(c);
    }
    {
        // A well scrambled manifest whose inner document is as large as the bound allows.
        const std::string open = "<update data=\"", close = "\"/>";
        const size_t inner = (size - xml_head.size() - open.size() - close.size()) / 4 * 3 - 64;
        const std::string data = scramble_update_data(
            filled("<update><files name=\"module.zip\">", "<a/>", "", inner / 16 * 16 - 8), 1, 2,
            builtin_update_key());
        hostile_case c{"manifest: 12 MiB scrambled inner tree", files};
        c.served["/startup"] = good_startup;
        c.served["/update/activeupdate.xml"] = xml_head + open + data + close;
        cases.push_back(c);
    }
    for (const auto& [name, tree] : trees) {
        hostile_case c{"cart answer: " + name, files};
        c.served["/startup"] = good_startup;
        c.served["/cart"] = tree;
        cases.push_back(c);
    }

    {
        // One click where every document is valid but padded to 16 MiB, and the cart answer
        // never confirms: each is quoted in the log on every attempt.
        hostile_case c{"one click: padded startup, manifest, cart", files};
        c.served["/startup"] = filled(good_startup + "<!--", "x", "-->", size);
        c.served["/update/activeupdate.xml"] =
            filled(files["/update/activeupdate.xml"] + "<!--", "x", "-->", size);
        c.served["/cart"] =
            filled("<response><result code=\"9\"/></response><!--", "x", "-->", size);
        cases.push_back(c);
    }

    const std::string link = "quorla://key=BENCH&svr=" + percent_encode(base + "/startup");
    double worst_rss = 0, worst_secs = 0, worst_cpu = 0;
    std::string worst_rss_case, worst_secs_case;
    for (const hostile_case& c : cases) {
        for (const auto& [path, body] : c.served) {
            if (body.size() > size) die(c.name + ": document larger than the bound");
            server.set(path, body);
        }
        std::vector<double> rss, secs, cpu;
        for (int i = 0; i < std::max(1, s.reps / 2); ++i) {
            const fs::path data = s.work / "data-hostile";
            fs::remove_all(data);
            const child_result r = run_measured(
                {(s.bin / "quorla-launcher").string(), link},
                {{"XDG_DATA_HOME", data.string()}, {"QUORLA_HEADLESS", "1"}, {"LANG", "C.UTF-8"}});
            std::error_code ec;
            double log_bytes = 0;
            bool error_line = false;
            for (const auto& e : fs::recursive_directory_iterator(data / "QuorlaLauncher", ec)) {
                if (!e.is_regular_file()) continue;
                log_bytes += double(e.file_size());
                std::ifstream in(e.path(), std::ios::binary);
                const std::string text((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
                error_line =
                    error_line || text.find("\x24\xC6\x58\xB9") != std::string::npos;  // "오류"
            }
            // Status 1 when the run failed; 0 when only the cart key did (the run goes on).
            if ((r.status != 0 && r.status != 1) || !error_line)
                die(c.name + ": the run did not end with an error line (exit status " +
                    std::to_string(r.status) + ")");
            const double log_mib = log_bytes / MiB;
            if (i == 0) std::printf("  %-42s log %.2f MiB\n", c.name.c_str(), log_mib);
            rss.push_back(double(r.max_rss_kib) / 1024);
            secs.push_back(r.seconds);
            cpu.push_back(r.cpu_seconds);
            fs::remove_all(data);
        }
        print_samples("  rss", rss, 1, "MiB");
        print_samples("  time", secs, 1000, "ms");
        print_samples("  cpu", cpu, 1000, "ms");  // less moved by other work on the machine
        worst_cpu = std::max(worst_cpu, median(cpu));
        if (median(rss) > worst_rss) worst_rss = median(rss), worst_rss_case = c.name;
        if (median(secs) > worst_secs) worst_secs = median(secs), worst_secs_case = c.name;
        for (const auto& [path, body] : c.served) server.set(path, "");
    }
    std::printf("  worst memory: %s; slowest: %s\n", worst_rss_case.c_str(),
                worst_secs_case.c_str());
    std::printf("  largest CPU time of a case: %.0f ms\n", worst_cpu * 1000);
    report({"7 Hostile 16 MiB documents",
            fmt("%.1f MiB", worst_rss) + fmt(", %.0f ms", worst_secs * 1000), "-", "-",
            "<= 128 MiB, < 2 s", worst_rss <= 128 && worst_secs < 2});
}

// Raw deflate at the default level, as a zip entry holds it: the least any archive of a
// changed file can cost.
size_t deflated_size(const std::string& bytes) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        die("deflateInit2 failed");
    std::string out(deflateBound(&z, uLong(bytes.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) die("deflate failed");
    const size_t n = z.total_out;
    deflateEnd(&z);
    return n;
}

size_t archives_of(const fs::path& dir, size_t& count) {
    size_t bytes = 0;
    count = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename() != "activeupdate.xml") {
            bytes += fs::file_size(e.path());
            ++count;
        }
    return bytes;
}

// 21 small releases of a 61-file module, each changing a little of one 64 KiB text file:
// packed against the previous release and from scratch, installed by update_module for a
// customer who is always up to date, the bytes counted from the shop's request log.
void bench_releases(const settings& s) {
    std::printf(
        "8. Small releases: what an up-to-date customer downloads, quorla-pack --previous "
        "against packing from scratch\n");
    const fs::path src = s.work / "releases-src", served = s.work / "releases";
    fs::create_directories(src);
    std::mt19937_64 rng(8);
    std::vector<char> buf;
    // 54 module-like files of about 170 KiB, 6 texts of 64 KiB, the sample editor: 61 files.
    for (int i = 0; i < 54; ++i) {
        fill_module_like(buf, 150 * 1024 + rng() % (40 * 1024), rng);
        write_file(src / (std::string(i % 3 == 0   ? "core"
                                      : i % 3 == 1 ? "data"
                                                   : "res") +
                          "_" + std::to_string(i) + ".bin"),
                   buf);
    }
    static const char* const words[] = {"editor ", "module ", "layout ",
                                        "page ",   "photo ",  "text\n"};
    std::vector<fs::path> texts;
    for (int i = 0; i < 6; ++i) {
        std::string text;
        while (text.size() < 64 * 1024) text += words[rng() % 6];
        text.resize(64 * 1024);
        texts.push_back(src / (std::string(i % 3 == 0   ? "core"
                                           : i % 3 == 1 ? "data"
                                                        : "res") +
                               "_text_" + std::to_string(i) + ".txt"));
        write_file(texts.back(), std::vector<char>(text.begin(), text.end()));
    }
    fs::copy_file(s.bin.parent_path() / "lib" / "libquorla_sample_editor.so",
                  src / "libquorla_sample_editor.so");
    const auto pack = [&](const std::string& out, const std::string& previous) {
        std::vector<std::string> argv = {(s.bin / "quorla-pack").string(),
                                         "--module",
                                         "libquorla_sample_editor.so",
                                         "--archive",
                                         "data.zip=data_*",
                                         "--archive",
                                         "res.zip=res_*"};
        if (!previous.empty())
            argv.insert(argv.end(), {"--previous", (served / previous).string()});
        argv.insert(argv.end(), {src.string(), (served / out).string()});
        must(run(argv), "quorla-pack");
    };
    pack("r00", "");
    fs::create_directories(s.work / "releases-state");
    shop_process shop({(s.bin / "quorla-demo-shop").string(), "--port", "0", "--update-dir",
                       served.string(), "--state-dir", (s.work / "releases-state").string()});
    const fs::path log = s.work / "releases-state" / "requests.txt";
    size_t logged = 0;
    // Runs update_module for the install folder against a served release; the archive bytes
    // it fetched.
    const auto update = [&](const fs::path& install, const std::string& release) {
        startup_file_xml startup;
        startup.install_path = wide(install) + u"/";
        startup.update_url = from_utf8(shop.base() + "/update/" + release + "/");
        startup.update_file_url = startup.update_url;
        std::u16string module_file;
        if (!update_module(nullptr, startup, module_file))
            die("update_module failed for " + release);
        std::ifstream in(log);
        std::string line;
        size_t bytes = 0;
        for (size_t n = 0; std::getline(in, line); ++n) {
            if (n < logged) continue;
            ++logged;
            const size_t at = line.find("/update/");
            if (line.rfind("200 GET ", 0) == 0 && at != std::string::npos &&
                line.find("activeupdate.xml") == std::string::npos)
                bytes += fs::file_size(served / line.substr(at + 8));
        }
        return bytes;
    };
    update(s.work / "current-previous", "r00");
    update(s.work / "current-scratch", "r00");

    size_t total_ours = 0, total_scratch = 0, total_deflated = 0;
    bool each_within = true;
    std::printf("   release  file                 deflated  --previous  from scratch\n");
    for (int r = 1; r <= 21; ++r) {
        const fs::path& text = texts[size_t(r) % texts.size()];
        std::ifstream in(text, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A little change: a few words somewhere in the middle.
        const std::string edit = "release " + std::to_string(r) + " fixed a typo here";
        bytes.replace(size_t(rng() % (bytes.size() - 100)), edit.size(), edit);
        write_file(text, std::vector<char>(bytes.begin(), bytes.end()));
        char name[8], prev[8];
        std::snprintf(name, sizeof name, "r%02d", r);
        std::snprintf(prev, sizeof prev, "r%02d", r - 1);
        pack(name, prev);
        pack(std::string("s") + (name + 1), "");
        const size_t ours = update(s.work / "current-previous", name);
        const size_t scratch = update(s.work / "current-scratch", std::string("s") + (name + 1));
        const size_t deflated = deflated_size(bytes);
        std::printf("   %-8s %-20s %8zu  %10zu  %12zu\n", name, text.filename().c_str(), deflated,
                    ours, scratch);
        total_ours += ours;
        total_scratch += scratch;
        total_deflated += deflated;
        each_within = each_within && double(ours) <= 1.2 * double(deflated) + 2048;
    }
    size_t count = 0, scratch_count = 0;
    const size_t last = archives_of(served / "r21", count);
    const size_t fresh = archives_of(served / "s21", scratch_count);
    // A new customer of the last release, and the up-to-date one: both hold the sources.
    const size_t installed = update(s.work / "fresh-previous", "r21");
    for (const auto& e : fs::directory_iterator(src))
        for (const char* folder : {"current-previous", "fresh-previous"})
            if (openssl_md5_file(e.path()) !=
                openssl_md5_file(s.work / folder / e.path().filename()))
                die(std::string(folder) + " does not hold " + e.path().filename().string());
    std::printf(
        "   21 releases: %zu bytes with --previous, %zu from scratch; the changed files "
        "deflate to %zu\n   last folder: %zu archives (%zu bytes, fresh install fetched "
        "%zu); packed from scratch %zu archives (%zu bytes)\n",
        total_ours, total_scratch, total_deflated, count, last, installed, scratch_count, fresh);
    report({"8 One-file release, per release", fmt("%.0f B", double(total_ours) / 21),
            fmt("%.0f B", double(total_scratch) / 21),
            fmt("%.2f", double(total_ours) / double(total_deflated)), "<= 1.2 x deflated + 2 KiB",
            each_within});
    report({"8 21 releases, always current", fmt("%.0f B", double(total_ours)),
            fmt("%.0f B", double(total_scratch)),
            fmt("%.2f", double(total_ours) / double(total_deflated)),
            "<= 2 x deflated + 2 KiB each",
            double(total_ours) <= 2.0 * double(total_deflated) + 21 * 2048.0});
    report({"8 Last folder, archives / fresh",
            fmt("%.0f", double(count)) + " / " + fmt("%.0f B", double(installed)),
            fmt("%.0f B", double(fresh)), fmt("%.2f", double(installed) / double(fresh)),
            "<= 12, <= 1.5 x", count <= 12 && double(installed) <= 1.5 * double(fresh)});
}

// ---- 9: an archive download whose line breaks off twice ------------------------------------

const char kCurlResume[] = R"(n=0
until curl -s -f -C - -o "$1" "$2"; do
  n=$((n + 1)); [ "$n" -lt 10 ] || exit 1
done)";

void bench_resume(const settings& s) {
    std::printf(
        "9. Interrupted download: bytes the server sends for a 100 MiB archive whose line is cut "
        "at 30 %% and 60 %%, download_to_file against curl --continue-at - in a retry loop\n");
    constexpr int64_t size = 100 * MiB, rate = 200 * MiB;  // bytes per second, both sides
    std::string archive(size_t(size), '\0');
    std::mt19937_64 rng(9);
    for (size_t i = 0; i + 8 <= archive.size(); i += 8) {
        const uint64_t v = rng();
        std::memcpy(&archive[i], &v, 8);
    }
    test_support::http_server server;
    const fs::path folder = s.work / "resume";
    fs::create_directories(folder);
    // Each side gets the same file afresh: ranges, an ETag, the two cuts (a reset line).
    const auto serve = [&](const std::string& path) {
        server.serve_ranged(path, {.body = archive,
                                   .cuts = {size * 3 / 10, size * 6 / 10},
                                   .cut_with = test_support::raw_end::reset,
                                   .bytes_per_second = rate});
    };
    const auto same_as_archive = [&](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) ==
               archive;
    };
    std::vector<double> ours_sent, curl_sent, ours_time, curl_time;
    for (int i = 0; i < s.reps; ++i) {
        const std::string ours_path = "/ours/" + std::to_string(i) + ".zip",
                          curl_path = "/curl/" + std::to_string(i) + ".zip";
        serve(ours_path);
        serve(curl_path);
        const fs::path ours_file = folder / "ours.zip", curl_file = folder / "curl.zip";
        fs::remove(ours_file);
        fs::remove(curl_file);
        auto ours = [&] {
            const double t0 = now();
            if (!download_to_file(from_utf8(server.url(ours_path)), wide(ours_file)))
                die("download_to_file failed");
            ours_time.push_back(now() - t0);
            ours_sent.push_back(double(server.bytes_sent(ours_path)) / double(size));
        };
        auto reference = [&] {
            const double t0 = now();
            must(run_shell(kCurlResume, {curl_file.string(), server.url(curl_path)}), "curl -C -");
            curl_time.push_back(now() - t0);
            curl_sent.push_back(double(server.bytes_sent(curl_path)) / double(size));
        };
        in_turn(i, ours, reference);
        if (!same_as_archive(ours_file) || !same_as_archive(curl_file))
            die("a resumed download differs from the archive");
    }
    fs::remove_all(folder);
    print_samples("ours", ours_sent, 100, "% of the archive sent");
    print_samples("curl -C -", curl_sent, 100, "% of the archive sent");
    print_samples("ours", ours_time, 1000, "ms");
    print_samples("curl -C -", curl_time, 1000, "ms");
    const double ours = median(ours_sent), reference = median(curl_sent);
    // The times are shown, not judged: ours includes the pauses after each broken line
    // (0.5 and 1 s), which the retry loop of the reference does not make.
    report({"9 Interrupted download, 100 MiB",
            fmt("%.3f x, ", ours) + fmt("%.0f ms", median(ours_time) * 1000),
            fmt("%.3f x, ", reference) + fmt("%.0f ms", median(curl_time) * 1000),
            fmt("%.3f", ours / reference), "<= 1.05 x archive", ours <= 1.05});
}

std::string first_line_of(const char* file, const char* key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return line.substr(line.find(':') + 2);
    return "?";
}

std::string kernel_release() {
    std::ifstream in("/proc/sys/kernel/osrelease");
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--work" && i + 1 < argc) {
            s.work = argv[++i];
        } else if (a == "--bin" && i + 1 < argc) {
            s.bin = argv[++i];
        } else if (a == "--reps" && i + 1 < argc) {
            s.reps = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--only" && i + 1 < argc) {
            for (const char* p = argv[++i]; *p; ++p)
                if (*p >= '1' && *p <= '9') s.only.push_back(*p - '0');
        } else {
            std::fprintf(stderr,
                         "usage: quorla-bench --work EMPTY_DIR --bin BUILD/bin [--reps N] "
                         "[--only 1256]\n");
            return 2;
        }
    }
    if (s.work.empty() || s.bin.empty()) die("--work and --bin are required");
    s.work = fs::absolute(s.work);
    s.bin = fs::absolute(s.bin);
    g_rss_helper = s.bin / "quorla-bench-rss";
    g_rss_file = s.work / "peak-rss.txt";
    fs::create_directories(s.work);
    // The in-process update logs where a customer's launcher would, inside the work folder;
    // loopback never goes through a proxy.
    setenv("XDG_DATA_HOME", (s.work / "data").c_str(), 1);
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    signal(SIGPIPE, SIG_IGN);

    std::printf("QuorlaLauncher benchmarks: %ld CPUs, %s, Linux %s, %d repetitions (medians)\n\n",
                sysconf(_SC_NPROCESSORS_ONLN), first_line_of("/proc/cpuinfo", "model name").c_str(),
                kernel_release().c_str(), s.reps);
    // What files_md5_hex picks on this processor: the widest vector core it runs.
    const char* core = md5_lanes_available(md5_lanes::avx512) ? "AVX-512, 16 files at once"
                       : md5_lanes_available(md5_lanes::avx2) ? "AVX2, 8 files at once"
                       : md5_lanes_available(md5_lanes::sse2) ? "SSE2, 4 files at once"
                                                              : "one file after another";
    std::printf("MD5 of the installed files (benchmarks 3 and 5): %s\n\n", core);

    if (s.wants(1)) bench_md5(s);
    if (s.wants(2) || s.wants(3) || s.wants(5)) {
        std::printf("   generating the 200 MiB module and packing it with quorla-pack...\n");
        const module_data m = make_module(s);
        const fs::path browser = s.work / "browser.exe";  // the "browser" of the full runs
        std::ofstream(browser) << "#!/bin/sh\nexit 0\n";
        fs::permissions(browser, fs::perms::owner_all);
        fs::create_directories(s.work / "shop-state");
        shop_process shop({(s.bin / "quorla-demo-shop").string(), "--port", "0", "--update-dir",
                           m.packed.string(), "--state-dir", (s.work / "shop-state").string(),
                           "--agent", browser.string(), "--agent-type", "file"});
        std::printf("   demo shop at %s\n\n", shop.base().c_str());
        if (s.wants(2) || s.wants(3)) bench_full_update(s, m, shop.base());
        if (s.wants(3)) bench_noop_update(s, m, shop.base());
        if (s.wants(5)) bench_memory(s, m, shop.base());
    }
    if (s.wants(4)) bench_extract(s);
    if (s.wants(6)) bench_startup(s);
    if (s.wants(7)) bench_hostile(s);
    if (s.wants(8)) bench_releases(s);
    if (s.wants(9)) bench_resume(s);

    std::printf("%-34s %14s %14s %7s %20s  %s\n", "benchmark", "ours", "reference", "ratio",
                "target", "result");
    bool all = true;
    for (const row& r : rows) {
        std::printf("%-34s %14s %14s %7s %20s  %s\n", r.name.c_str(), r.ours.c_str(),
                    r.reference.c_str(), r.ratio.c_str(), r.target.c_str(),
                    r.pass ? "PASS" : "MISS");
        all = all && r.pass;
    }
    std::printf("\n%s\n", all ? "every target met" : "some targets missed (see bench/README.md)");
    return 0;
}
