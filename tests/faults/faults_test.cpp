// Faults the real launcher survives: a connection that drops, a launcher killed in the middle
// of an update, writes the disk refuses, and servers that stall, flood or talk nonsense.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "inet/rest.h"
#include "startup/prepare.h"
#include "startup/startup_file.h"
#include "tests/support/http_server.h"
#include "tests/support/launcher_run.h"
#include "tests/support/scratch.h"
#include "tests/support/test_log.h"
#include "text/text.h"
#include "update/procedure.h"

namespace fs = std::filesystem;
using test_support::background_program;
using test_support::http_server;
using test_support::launcher_log;
using test_support::raw_end;
using test_support::read_text;
using test_support::reply;
using test_support::run_options;
using test_support::run_result;

namespace {

const char kUpdateFailed[] = "*오류 : 모듈 업데이트에 실패 했습니다.";

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

// The head of a 200 answer announcing `length` body bytes.
std::string head_of(unsigned long long length) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) +
           "\r\nConnection: close\r\n\r\n";
}

// A shop (the demo shop) whose module comes from an update server the test controls: 25 files
// of which 24 are 256 KiB of noise, in three zip archives.
struct Faults : ::testing::Test {
    fs::path dir, data, module, packed, state;
    http_server updates;
    std::unique_ptr<background_program> shop;
    std::string base;

    void SetUp() override {
        dir = test_support::fresh_test_folder("quorla-faults");
        data = dir / "data";
        module = dir / "module";
        packed = dir / "packed";
        state = dir / "state";
        fs::create_directories(module);
        fs::create_directories(state);
        fs::copy_file(
            fs::path(std::getenv("QUORLA_BINARY_DIR")) / "lib" / "libquorla_sample_editor.so",
            module / "libquorla_sample_editor.so");
        for (unsigned i = 1; i <= 12; ++i) {
            char a[16], b[16];
            std::snprintf(a, sizeof a, "a%02u.dat", i);
            std::snprintf(b, sizeof b, "b%02u.dat", i);
            std::ofstream(module / a, std::ios::binary) << random_bytes(256 * 1024, i);
            std::ofstream(module / b, std::ios::binary) << random_bytes(256 * 1024, 100 + i);
        }
        const auto pack = test_support::run_program(
            {test_support::built_program("quorla-pack").string(), "--module",
             "libquorla_sample_editor.so", "--archive", "part-a.zip=a*.dat", "--archive",
             "part-b.zip=b*.dat", module.string(), packed.string()},
            {}, 60);
        ASSERT_EQ(pack.exit_code, 0) << pack.output;
        updates.serve_folder("/update/", packed);
        std::ofstream(dir / "browser.exe")
            << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << (dir / "opened.txt").string() << "'\n";
        fs::permissions(dir / "browser.exe", fs::perms::owner_all);
        shop = std::make_unique<background_program>(
            std::vector<std::string>{test_support::built_program("quorla-demo-shop").string(),
                                     "--state-dir", state.string(), "--update-url",
                                     updates.url("/update/"), "--agent",
                                     (dir / "browser.exe").string(), "--agent-type", "file"},
            base);
        ASSERT_FALSE(base.empty());
    }
    void TearDown() override {
        shop.reset();
        updates.stop();
        fs::remove_all(dir);
    }

    fs::path install() const { return data / "QuorlaDemo" / "editor"; }
    std::string archive(const std::string& name) const { return read_text(packed / name); }
    std::string log() const { return launcher_log(data); }
    bool cart_received() const {
        return read_text(state / "cart.txt").find("key=FAULT-1") != std::string::npos;
    }

    run_result launch(std::map<std::string, std::string> env = {}, const run_options& options = {},
                      const std::string& startup_url = "") {
        return test_support::run_launcher(
            data,
            test_support::launcher_link(startup_url.empty() ? base + "/startup" : startup_url,
                                        "FAULT-1"),
            std::move(env), options);
    }

    // Whatever stands at a target path is whole: no half-written file is ever in place.
    void expect_no_damaged_file() const {
        if (!fs::is_directory(install())) return;
        for (const auto& e : fs::directory_iterator(install())) {
            // update.state is the folder's own record (its shop, its serial), not a module file.
            if (!e.is_regular_file() || e.path().filename() == "update.state") continue;
            EXPECT_EQ(read_text(e.path()), read_text(module / e.path().filename())) << e.path();
        }
    }
    // Every file of the module is installed exactly as the shop packed it.
    void expect_complete() const {
        for (const auto& e : fs::directory_iterator(module))
            EXPECT_EQ(read_text(install() / e.path().filename()), read_text(e.path()))
                << e.path().filename();
        EXPECT_FALSE(fs::exists(install() / "download"));
    }
};

TEST_F(Faults, ConnectionDroppedInTheMiddleOfAnArchiveIsTriedAgain) {
    const std::string zip = archive("part-a.zip");
    updates.serve_sequence(
        "/update/part-a.zip",
        {reply::raw(head_of(zip.size()) + zip.substr(0, zip.size() / 2), raw_end::reset),
         reply::raw(head_of(zip.size()) + zip)});
    const run_result run = launch();
    ASSERT_EQ(run.signal, 0) << run.output;
    expect_complete();
    EXPECT_EQ(updates.request_count("/update/part-a.zip"), 2);
    EXPECT_TRUE(cart_received()) << log();
    EXPECT_EQ(log().find("오류"), std::string::npos) << log();
}

TEST_F(Faults, LauncherKilledInTheMiddleOfAnUpdateIsCompletedByTheNextRun) {
    const std::string part_b = archive("part-b.zip");
    const std::string shim =
        (fs::path(std::getenv("QUORLA_BINARY_DIR")) / "lib" / "libquorla_kill_shim.so").string();
    struct kill_point {
        const char* name;
        const char* kill_at_move;  // the shim's QUORLA_KILL_AT_MOVE, or null
    } points[] = {
        {"during a download", nullptr},
        {"after extraction, before the first move", "1"},
        {"between moves", "7"},
    };
    for (const kill_point& point : points) {
        SCOPED_TRACE(point.name);
        fs::remove_all(data);
        std::map<std::string, std::string> env;
        run_options options;
        std::thread watcher;
        if (point.kill_at_move) {
            updates.serve("/update/part-b.zip", reply::raw(head_of(part_b.size()) + part_b));
            env = {{"LD_PRELOAD", shim},
                   {"QUORLA_KILL_AT_MOVE", point.kill_at_move},
                   {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
        } else {
            // Half the archive, then silence: the kill lands while the download is going on.
            updates.serve_sequence(
                "/update/part-b.zip",
                {reply::raw(head_of(part_b.size()) + part_b.substr(0, part_b.size() / 2),
                            raw_end::stall),
                 reply::raw(head_of(part_b.size()) + part_b)});
            const fs::path partial = install() / "download" / "part-b.zip.tmp~";
            options.started = [&watcher, this, partial](pid_t pid) {
                watcher = std::thread([this, partial, pid] {
                    for (int i = 0; i < 3000; ++i) {
                        std::error_code ec;
                        if (updates.request_count("/update/part-b.zip") > 0 &&
                            fs::file_size(partial, ec) > 0 && !ec)
                            break;
                        ::usleep(10000);
                    }
                    ::kill(pid, SIGKILL);
                });
            };
        }
        const run_result killed = launch(env, options);
        if (watcher.joinable()) watcher.join();
        EXPECT_EQ(killed.signal, SIGKILL) << killed.output;
        EXPECT_FALSE(cart_received());
        expect_no_damaged_file();

        const run_result again = launch();
        ASSERT_EQ(again.signal, 0) << again.output;
        expect_complete();
        EXPECT_TRUE(cart_received()) << log();
        std::ofstream(state / "cart.txt", std::ios::trunc).flush();
    }
}

TEST_F(Faults, RefusedWritesEndTheRunWithTheFailureLinesAndNoDamagedFile) {
    struct refusal {
        const char* name;
        std::function<void()> prepare;   // in the test, before the run
        std::function<void()> in_child;  // in the launcher's process, before it starts
        const char* line;
    } rows[] = {
        {"install folder cannot be created",
         [&] {
             fs::create_directories(data);
             std::ofstream(data / "QuorlaDemo") << "a file where the folder should be";
         },
         nullptr, "* 오류: 작업 폴더를 생성할 수 없습니다. (path:"},
        {"the disk refuses writes past 512 KiB", nullptr,
         [] {
             rlimit limit{512 * 1024, 512 * 1024};
             ::setrlimit(RLIMIT_FSIZE, &limit);
         },
         "*오류 : 파일을 다운로드 하지 못했습니다. (url:"},
    };
    for (const refusal& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(data);
        if (row.prepare) row.prepare();
        run_options options;
        if (row.in_child) options.in_child = row.in_child;
        const run_result run = launch({}, options);
        EXPECT_EQ(run.signal, 0) << run.output;
        EXPECT_FALSE(run.timed_out);
        const std::string text = log();
        EXPECT_NE(text.find(row.line), std::string::npos) << text;
        EXPECT_NE(text.find(kUpdateFailed), std::string::npos) << text;
        EXPECT_FALSE(cart_received());
        expect_no_damaged_file();
    }
}

TEST_F(Faults, UnwritableLogFolderDoesNotStopTheRun) {
    fs::create_directories(data);
    std::ofstream(data / "QuorlaLauncher") << "a file where the log folder should be";
    const run_result run = launch();
    EXPECT_EQ(run.signal, 0) << run.output;
    EXPECT_EQ(run.exit_code, 0) << run.output;
    expect_complete();
    EXPECT_TRUE(cart_received());
}

TEST_F(Faults, HostileServersEndTheRunInBoundedTimeAndMemory) {
    const std::string noise = random_bytes(4096, 7);
    const std::string endless = head_of(1000000000000ull);
    struct hostile {
        const char* name;
        bool startup;  // the startup document, else the manifest
        reply answer;
        const char* line;
    } rows[] = {
        {"endless startup document", true, reply::raw(endless, raw_end::endless),
         "* 오류: startup.xml을 다운로드 하지 못했습니다. (url:"},
        {"endless manifest", false, reply::raw(endless, raw_end::endless),
         "* 오류: activeupdate.xml을 다운로드 하지 못했습니다. (url:"},
        {"noise instead of a startup document", true, reply::raw(noise),
         "* 오류: startup.xml을 다운로드 하지 못했습니다. (url:"},
        {"noise instead of a manifest", false, reply::raw(noise),
         "* 오류: activeupdate.xml을 다운로드 하지 못했습니다. (url:"},
    };
    for (const hostile& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(data);
        updates.serve(row.startup ? "/startup" : "/update/activeupdate.xml", row.answer);
        run_options options;
        options.seconds = 300;
        const run_result run = launch({}, options, row.startup ? updates.url("/startup") : "");
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.signal, 0) << run.output;
        const std::string text = log();
        EXPECT_NE(text.find(row.line), std::string::npos) << text;
        if (row.answer.after == raw_end::endless) {
            EXPECT_NE(text.find("response body larger than 16777216 bytes"), std::string::npos)
                << text;
        }
        EXPECT_FALSE(cart_received());
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's own bookkeeping holds freed memory back
        EXPECT_LT(run.max_rss_kib, 96 * 1024) << "peak memory of the launcher";
#endif
        updates.serve(row.startup ? "/startup" : "/update/activeupdate.xml", reply::text("", 404));
    }
}

// The time-outs of the launcher are minutes; here they are one second, so that a stalled
// server shows its end within the test.
struct StalledServer : ::testing::Test {
    test_support::log_capture log;
    inet::rest::timeouts saved = inet::rest::default_timeouts();
    void SetUp() override { inet::rest::default_timeouts() = {1, 1}; }
    void TearDown() override { inet::rest::default_timeouts() = saved; }
};

TEST_F(StalledServer, StartupDocumentAndManifestAreGivenUpAfterFiveAttempts) {
    struct row {
        const char* name;
        raw_end after;
        inet::rest::timeouts limits;
        const char* reason;  // in the line after the download failure: which limit ended it
    } rows[] = {
        {"silent", raw_end::stall, {1, 1, 60}, "Operation too slow"},
        // A byte every 200 ms is progress: only the limit on the whole request ends it.
        {"trickling",
         raw_end::trickle,
         {1, 60, 1},
         "overall time limit reached (1000 ms after the connection"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        inet::rest::default_timeouts() = r.limits;
        http_server server;
        server.serve_raw("/startup", r.after == raw_end::stall ? "" : head_of(100), r.after);
        server.serve_raw("/update/activeupdate.xml", head_of(100) + "<upd", r.after);

        std::u16string key;
        startup_file_xml startup;
        EXPECT_FALSE(prepare_execution(key, u"key=K&svr=" + server.url16("/startup"), startup));
        EXPECT_EQ(server.request_count("/startup"), 5);
        EXPECT_NE(log.lines().find(u"* 오류: startup.xml을 다운로드 하지 못했습니다. (url:"),
                  std::u16string::npos)
            << log.lines_utf8();

        startup.install_path = log.folder16() + u"/install/";
        startup.update_url = startup.update_file_url = server.url16("/update/");
        std::u16string module_file;
        EXPECT_FALSE(update_module(nullptr, startup, module_file));
        EXPECT_EQ(server.request_count("/update/activeupdate.xml"), 5);
        EXPECT_TRUE(log.has_line(u"* 오류: activeupdate.xml을 다운로드 하지 못했습니다. (url:" +
                                 server.url16("/update/") + u"activeupdate.xml)"))
            << log.lines_utf8();
        EXPECT_NE(log.lines_utf8().find(r.reason), std::string::npos) << log.lines_utf8();
    }
}

}  // namespace
