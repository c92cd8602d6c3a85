// The real launcher, from a protocol link to the shop page, against the demo shop.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/display.h"
#include "tests/support/launcher_run.h"
#include "tests/support/sandbox.h"
#include "tests/support/scratch.h"

namespace fs = std::filesystem;
using test_support::background_program;
using test_support::count_of;
using test_support::launcher_log;
using test_support::percent_encode;
using test_support::read_text;
using test_support::run_program;

namespace {

struct EndToEnd : ::testing::Test {
    fs::path dir, data, update, state, bin;
    std::string browser_record;

    void SetUp() override {
        bin = fs::path(std::getenv("QUORLA_BINARY_DIR")) / "bin";
        dir = test_support::fresh_test_folder("quorla-e2e");
        data = dir / "data";
        update = dir / "update";
        state = dir / "state";
        fs::create_directories(dir / "module");
        fs::create_directories(state);
        fs::copy_file(
            fs::path(std::getenv("QUORLA_BINARY_DIR")) / "lib" / "libquorla_sample_editor.so",
            dir / "module" / "libquorla_sample_editor.so");
        std::ofstream(dir / "module" / "readme.txt") << "Sample editor module\n";
        const auto packed =
            run_program({(bin / "quorla-pack").string(), "--module", "libquorla_sample_editor.so",
                         "--archive", "docs.cab=*.txt", (dir / "module").string(), update.string()},
                        {}, 60);
        ASSERT_EQ(packed.exit_code, 0) << packed.output;
        // The customer's "browser": records the address it was asked to open.
        browser_record = (dir / "opened.txt").string();
        std::ofstream(dir / "browser.exe")
            << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << browser_record << "'\n";
        fs::permissions(dir / "browser.exe", fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<std::string> shop_args(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {(bin / "quorla-demo-shop").string(),
                                         "--update-dir",
                                         update.string(),
                                         "--state-dir",
                                         state.string(),
                                         "--trace-file",
                                         (dir / "trace.txt").string(),
                                         "--agent",
                                         (dir / "browser.exe").string(),
                                         "--agent-type",
                                         "file"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    test_support::run_result launch(const std::string& link,
                                    std::map<std::string, std::string> env = {}) {
        return test_support::run_launcher(data, link, std::move(env));
    }

    std::string link_to(const std::string& base, const std::string& key = "E2E-1") {
        return test_support::launcher_link(base + "/startup", key);
    }

    std::string log_text() { return launcher_log(data); }
};

TEST_F(EndToEnd, FullRunInstallsRunsTheEditorDeliversTheCartKeyAndReturns) {
    std::string base;
    background_program shop(shop_args(), base);
    ASSERT_FALSE(base.empty());
    const auto run = launch(link_to(base));
    ASSERT_FALSE(run.timed_out) << run.output;
    // A sanitizer report in a sanitized build ends the process with another code.
    EXPECT_EQ(run.exit_code, 0) << run.output;
    const fs::path install = data / "QuorlaDemo" / "editor";
    EXPECT_TRUE(fs::exists(install / "libquorla_sample_editor.so")) << log_text();
    EXPECT_EQ(read_text(install / "readme.txt"), "Sample editor module\n");
    EXPECT_FALSE(fs::exists(install / "download"));
    const std::string trace = read_text(dir / "trace.txt");
    EXPECT_NE(trace.find("NewWork"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Uninitialize"), std::string::npos) << trace;
    EXPECT_NE(read_text(state / "cart.txt").find("key=E2E-1"), std::string::npos)
        << read_text(state / "cart.txt");
    // The browser runs detached: wait for it a little.
    for (int i = 0; i < 200 && read_text(browser_record).empty(); ++i) usleep(20000);
    EXPECT_EQ(read_text(browser_record),
              base + "/return?exit_code=0&keyresult=" + percent_encode(base + "/startup") +
                  "%3Fkey%3DE2E-1%26field%3Dresult\n");
    const std::string log = log_text();
    EXPECT_NE(log.find("* 런처 시작 ********************"), std::string::npos);
    EXPECT_NE(log.find("* 업데이트 시작 ********************"), std::string::npos);
    EXPECT_EQ(log.find("오류"), std::string::npos) << log;
}

TEST_F(EndToEnd, SecondRunDownloadsNothing) {
    std::string base;
    background_program shop(shop_args(), base);
    ASSERT_FALSE(launch(link_to(base)).timed_out);
    ASSERT_FALSE(launch(link_to(base, "E2E-2")).timed_out);
    const std::string requests = read_text(state / "requests.txt");
    EXPECT_EQ(count_of(requests, "/update/module.zip"), 1u) << requests;
    EXPECT_EQ(count_of(requests, "/update/activeupdate.xml"), 2u) << requests;
    EXPECT_NE(read_text(state / "cart.txt").find("key=E2E-2"), std::string::npos);
}

TEST_F(EndToEnd, TwoLaunchersAtOnceBothSucceedAndDownloadOnce) {
    std::string base;
    background_program shop(shop_args(), base);
    test_support::run_result second;
    std::thread other([&] { second = launch(link_to(base, "E2E-B")); });
    const auto first = launch(link_to(base, "E2E-A"));
    other.join();
    EXPECT_EQ(first.exit_code, 0) << first.output;
    EXPECT_EQ(second.exit_code, 0) << second.output;
    const std::string requests = read_text(state / "requests.txt");
    EXPECT_EQ(count_of(requests, "/update/module.zip"), 1u) << requests;
    EXPECT_EQ(log_text().find("오류"), std::string::npos) << log_text();
    const std::string cart = read_text(state / "cart.txt");
    EXPECT_NE(cart.find("key=E2E-A"), std::string::npos) << cart;
    EXPECT_NE(cart.find("key=E2E-B"), std::string::npos) << cart;
}

TEST_F(EndToEnd, BrokenInstallIsRepairedWithoutFollowingLinks) {
    // A folder at the module's path (left by an archive), the download folder a link to
    // another folder and a listed file a link to a file outside: the next good update replaces
    // each inside the install folder and touches nothing the links point to.
    const fs::path install = data / "QuorlaDemo" / "editor";
    fs::create_directories(install / "libquorla_sample_editor.so");
    std::ofstream(install / "libquorla_sample_editor.so" / "x") << "x";
    fs::create_directories(dir / "elsewhere");
    std::ofstream(dir / "elsewhere" / "keep.txt") << "keep";
    fs::create_directory_symlink(dir / "elsewhere", install / "download");
    std::ofstream(dir / "outside.txt") << "outside";
    fs::create_symlink(dir / "outside.txt", install / "readme.txt");
    std::string base;
    background_program shop(shop_args(), base);
    const auto run = launch(link_to(base));
    EXPECT_EQ(run.exit_code, 0) << run.output << log_text();
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(install / "libquorla_sample_editor.so")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(install / "readme.txt")));
    EXPECT_EQ(read_text(install / "readme.txt"), "Sample editor module\n");
    EXPECT_EQ(read_text(dir / "outside.txt"), "outside");
    EXPECT_EQ(read_text(dir / "elsewhere" / "keep.txt"), "keep");
    EXPECT_NE(read_text(dir / "trace.txt").find("NewWork"), std::string::npos) << log_text();
}

TEST_F(EndToEnd, LinkWithoutProtocolMarkerIsMetTwice) {
    const auto run = launch("no-marker-here");
    EXPECT_EQ(count_of(log_text(), "*오류 : 프로토콜 문자열을 찾지 못했습니다."), 2u) << log_text();
    EXPECT_EQ(count_of(run.output, "사이트에서 상품을 주문하실수 있습니다."), 2u) << run.output;
}

// --help and --version only alone; every other command line is a link and runs, ending with
// a status that says whether the run worked and, without a window, where the log is.
TEST_F(EndToEnd, CommandLinesEndWithTheRunsStatusAndNameTheLog) {
    const std::string box = "사이트에서 상품을 주문하실수 있습니다.";
    const std::string log_named =
        "quorla-launcher: the run failed; the log says why: " + (data / "QuorlaLauncher" / "log").string() + "/";
    const struct {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> said;
        size_t boxes;
        bool runs;  // a run happened: the log exists
    } rows[] = {
        {{"--help"}, 0, {"Usage: quorla-launcher", "QuorlaLauncher/log/"}, 0, false},
        {{"--version"}, 0, {"quorla-launcher 0."}, 0, false},
        {{}, 1, {log_named, "no link on the command line; see quorla-launcher --help"}, 2, true},
        {{"--help", "--version"}, 1, {log_named}, 2, true},
        {{"quorla:key=K&svr=x"}, 1, {log_named}, 2, true},
        {{"quorla://key=K"}, 1, {log_named}, 0, true},
    };
    for (const auto& r : rows) {
        std::string line = "quorla-launcher";
        for (const auto& a : r.args) line += " " + a;
        SCOPED_TRACE(line);
        fs::remove_all(data);
        std::vector<std::string> argv = {(bin / "quorla-launcher").string()};
        argv.insert(argv.end(), r.args.begin(), r.args.end());
        const auto run = run_program(
            argv, {{"XDG_DATA_HOME", data.string()}, {"QUORLA_HEADLESS", "1"}, {"LC_ALL", "C.UTF-8"}}, 60);
        EXPECT_EQ(run.exit_code, r.status) << run.output;
        for (const auto& needle : r.said) EXPECT_NE(run.output.find(needle), std::string::npos) << run.output;
        EXPECT_EQ(count_of(run.output, box), r.boxes) << run.output;
        EXPECT_EQ(fs::exists(data / "QuorlaLauncher" / "log"), r.runs);
        if (r.status == 0) {
            EXPECT_EQ(run.output.find("the run failed"), std::string::npos) << run.output;
        }
    }
}

TEST_F(EndToEnd, LinkWithoutServerIsMetTwice) {
    launch("quorla://key=K");
    EXPECT_EQ(
        count_of(log_text(), "*오류 : 명령 인수값이 올바르지 않습니다. key, svr 값이 없습니다."),
        2u)
        << log_text();
    EXPECT_EQ(count_of(log_text(), "*오류 : 명령 인수값이 올바르지 않습니다. (key=K)"), 2u);
}

TEST_F(EndToEnd, UnreachableServerEndsTheRunSafely) {
    const auto run = launch("quorla://key=K&svr=http%3A%2F%2F127.0.0.1%3A1%2Fstartup");
    ASSERT_FALSE(run.timed_out);
    const std::string log = log_text();
    EXPECT_EQ(count_of(log,
                       "* 오류: startup.xml을 다운로드 하지 못했습니다. "
                       "(url:http://127.0.0.1:1/startup?key=K&field=startup)"),
              1u)
        << log;
    // The key was stored, so the second run goes on and meets the empty document.
    EXPECT_NE(log.find("*오류 : 모듈 업데이트에 실패 했습니다."), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(data / "QuorlaDemo"));
}

TEST_F(EndToEnd, FailingEditorEndsWithoutCartOrReturn) {
    std::string base;
    background_program shop(shop_args({"--todo", "unknown_mode"}), base);
    EXPECT_EQ(launch(link_to(base)).exit_code, 1);
    EXPECT_EQ(read_text(state / "cart.txt"), "");
    EXPECT_EQ(read_text(browser_record), "");
    EXPECT_NE(read_text(dir / "trace.txt").find("Uninitialize"), std::string::npos);
}

TEST_F(EndToEnd, CartKeyThatKeepsFailingStillReturnsToTheShop) {
    std::string base;
    background_program shop(shop_args({"--cart-fail", "100"}), base);
    const auto run = launch(link_to(base));
    EXPECT_EQ(count_of(read_text(state / "cart.txt"), " key=E2E-1\n"), 11u);
    EXPECT_NE(run.output.find("장바구니 연동중 오류가 발생였습니다. 다시 시도하시겠습니까?"),
              std::string::npos)
        << run.output;
    for (int i = 0; i < 200 && read_text(browser_record).empty(); ++i) usleep(20000);
    EXPECT_NE(read_text(browser_record).find("/return?exit_code=0"), std::string::npos);
}

TEST_F(EndToEnd, HttpsShopWithSelfSignedCertificate) {
    std::string base;
    background_program shop(shop_args({"--https"}), base);
    ASSERT_EQ(base.rfind("https://", 0), 0u) << base;
    launch(link_to(base));
    EXPECT_TRUE(fs::exists(data / "QuorlaDemo" / "editor" / "libquorla_sample_editor.so"))
        << log_text();
    EXPECT_NE(read_text(state / "cart.txt").find("key=E2E-1"), std::string::npos);
}

TEST_F(EndToEnd, WindowRunUnderXvfb) {
    // A display of our own for this run.
    test_support::private_display display;
    if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed";
    std::string base;
    background_program shop(shop_args(), base);
    std::map<std::string, std::string> env = {{"DISPLAY", display.name()}, {"QUORLA_HEADLESS", ""}};
    const auto run = launch(link_to(base), env);
    ASSERT_FALSE(run.timed_out) << run.output;
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(read_text(state / "cart.txt").find("key=E2E-1"), std::string::npos) << log_text();
    const std::string trace = read_text(dir / "trace.txt");
    // With a window, the module receives the window's X11 id as its owner.
    EXPECT_EQ(trace.find("Initialize|0|"), std::string::npos) << trace;
}

}  // namespace
