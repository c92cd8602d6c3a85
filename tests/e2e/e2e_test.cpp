// The real launcher, from a protocol link to the shop page, against the demo shop.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "host/image.h"
#include "res/resources.h"
#include "tests/support/archives.h"
#include "tests/support/display.h"
#include "tests/support/http_server.h"
#include "tests/support/launcher_run.h"
#include "tests/support/sandbox.h"
#include "tests/support/scratch.h"
#include "tests/support/shop_stack.h"
#include "text/text.h"
#include "update/md5.h"
#include "update/scramble.h"
#include "update/sha256.h"
#include "update/signature.h"

namespace fs = std::filesystem;
using test_support::background_program;
using test_support::count_of;
using test_support::launcher_log;
using test_support::percent_encode;
using test_support::read_text;
using test_support::run_program;

namespace {

std::string capture(const std::string& command) {
    std::string out;
    test_support::run_build_machine_command(command, &out);
    return out;
}

int field(const std::string& text, const std::string& name) {
    const size_t at = text.find(name);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + name.size());
}

host::image picture(const char* name) {
    const embedded_resource r = find_resource(name);
    return host::load_bmp(r.data, r.size);
}

struct EndToEnd : ::testing::Test {
    const test_support::launcher_target& target = test_support::launcher_under_test();
    fs::path dir, data, update, state, bin;
    std::string browser_record;

    void SetUp() override {
        bin = fs::path(std::getenv("QUORLA_BINARY_DIR")) / "bin";
        dir = test_support::fresh_test_folder("quorla-e2e");
        data = target.data_folder(dir / "data");
        // Under wine the data folder is the prefix's own: each test starts without a log or an
        // installed module.
        clear_launcher_data();
        update = dir / "update";
        state = dir / "state";
        fs::create_directories(dir / "module");
        fs::create_directories(state);
        fs::copy_file(target.built_module(), dir / "module" / target.module_file());
        std::ofstream(dir / "module" / "readme.txt") << "Sample editor module\n";
        pack({"--module", target.module_file(), "--archive", "docs.cab=*.txt"});
        // The customer's "browser": records the address it was asked to open.
        browser_record = target.make_browser(dir / "browser.exe").string();
    }
    void TearDown() override {
        clear_launcher_data();
        fs::remove_all(dir);
    }
    // Only the log: an installed module stays for the next run.
    void clear_launcher_data_log() { fs::remove_all(data / "QuorlaLauncher"); }
    void clear_launcher_data() {
        for (const char* folder : {"QuorlaLauncher", "QuorlaDemo"}) fs::remove_all(data / folder);
    }
    void pack(std::vector<std::string> options) {
        std::vector<std::string> argv = {(bin / "quorla-pack").string()};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {(dir / "module").string(), update.string()});
        const auto packed = run_program(argv, {}, 60);
        ASSERT_EQ(packed.exit_code, 0) << packed.output;
    }

    std::vector<std::string> shop_args(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {(bin / "quorla-demo-shop").string(),
                                         "--update-dir",
                                         update.string(),
                                         "--state-dir",
                                         state.string(),
                                         "--trace-file",
                                         target.native_path(dir / "trace.txt"),
                                         "--agent",
                                         target.native_path(dir / "browser.exe"),
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
    EXPECT_TRUE(fs::exists(install / target.module_file())) << log_text();
    EXPECT_EQ(read_text(install / "readme.txt"), "Sample editor module\n");
    EXPECT_FALSE(fs::exists(install / "download"));
    const std::string trace = read_text(dir / "trace.txt");
    EXPECT_NE(trace.find("NewWork"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Uninitialize"), std::string::npos) << trace;
    EXPECT_NE(read_text(state / "cart.txt").find("key=E2E-1"), std::string::npos)
        << read_text(state / "cart.txt");
    // The browser runs detached: wait for it a little.
    for (int i = 0; i < 500 && read_text(browser_record).empty(); ++i) usleep(20000);
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

// Names outside the Western code page (the wine prefix runs code page 1252) and one inside
// it, packed by quorla-pack into a zip and a cabinet, install under their own names.
TEST_F(EndToEnd, ModuleFilesNamedInKoreanJapaneseAndWithAccentsInstall) {
    const char* names[] = {"한글모듈.dll", "modé.dll", "日本語.txt", "エディタ説明.txt"};
    for (const char* name : names) std::ofstream(dir / "module" / name) << name;
    fs::remove_all(update);
    pack({"--module", target.module_file(), "--archive", "docs.cab=*.txt"});
    std::string base;
    background_program shop(shop_args(), base);
    const auto run = launch(link_to(base));
    EXPECT_EQ(run.exit_code, 0) << run.output << log_text();
    const fs::path install = data / "QuorlaDemo" / "editor";
    for (const char* name : names) EXPECT_EQ(read_text(install / name), name) << name;
    EXPECT_EQ(log_text().find("오류"), std::string::npos) << log_text();
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

// After a whole run, the launcher reads the shop's launcher.xml: a newer Linux release is named
// in the log (the package manager installs it), a document signed with another key is ignored;
// neither changes the run's result. The launcher here is the test's own build whose release
// folder and key come from the environment (tests/e2e/release_test_settings.cpp).
TEST_F(EndToEnd, NewerLauncherReleaseIsNamedAndAForgedOneIgnored) {
    if (target.windows) GTEST_SKIP() << "under wine the release is installed: self_update in the Windows build";
    const std::string pack_tool = (bin / "quorla-pack").string();
    const auto key = run_program({pack_tool, "--gen-key", (dir / "shop.pem").string()}, {}, 60);
    ASSERT_EQ(key.exit_code, 0) << key.output;
    const std::string public_key = key.output.substr(key.output.rfind(':') + 2, 44);
    ASSERT_EQ(run_program({pack_tool, "--gen-key", (dir / "other.pem").string()}, {}, 60).exit_code, 0);
    std::ofstream(dir / "quorla-launcher_9.0.0_amd64.deb") << "package bytes";
    const struct {
        const char* fault;
        const char* signer;
        std::string line;  // in the log
        bool named;        // the newer version is named
    } rows[] = {
        {"newer release not named", "shop.pem",
         "* 런처 업데이트 : 새 버전 9.0.0 이(가) 있습니다 (현재 " + std::string(QUORLA_TEST_VERSION) +
             "). 패키지 관리자나 상점 페이지에서 설치하십시오.",
         true},
        {"forged document believed", "other.pem", "signature does not verify)", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.fault);
        const fs::path releases = dir / "releases" / r.signer;
        const auto published = run_program({pack_tool, "--launcher-release", (dir / "quorla-launcher_9.0.0_amd64.deb").string(),
                                            "--version", "9.0.0", "--platform", "linux-amd64", "--sign-key",
                                            (dir / r.signer).string(), releases.string()},
                                           {}, 60);
        ASSERT_EQ(published.exit_code, 0) << published.output;
        test_support::http_server release_server;
        release_server.serve_folder("/releases/", releases);
        std::string base;
        background_program shop(shop_args(), base);
        clear_launcher_data();
        const auto run = run_program({(bin.parent_path() / "tests" / "quorla-launcher-release-test").string(), link_to(base)},
                                     {{"XDG_DATA_HOME", data.string()}, {"QUORLA_HEADLESS", "1"}, {"LC_ALL", "C.UTF-8"},
                                      {"QUORLA_TEST_RELEASE_FOLDER", release_server.url("/releases/")},
                                      {"QUORLA_TEST_RELEASE_KEY", public_key}},
                                     120);
        EXPECT_EQ(run.exit_code, 0) << run.output;
        const std::string log = log_text();
        EXPECT_NE(log.find(r.line), std::string::npos) << log;
        EXPECT_EQ(log.find("새 버전 9.0.0") != std::string::npos, r.named) << log;
        EXPECT_EQ(release_server.request_count("/releases/quorla-launcher_9.0.0_amd64.deb"), 0);
    }
}

// A launcher with a shop profile's trust settings (quorla-launcher-profile-test: TLS verified
// against the test's own certificate authority, https only, its own server 127.0.0.1, manifests
// signed by its key) against what a profile is there to stop. A first run installs the signed
// serial 200; each row is one run after it. A refused row installs nothing (the module it serves
// differs) and calls no editor; the planted library is removed and the editor then runs.
TEST_F(EndToEnd, ProfileBuildRefusesWhatItDoesNotTrust) {
    using test_support::http_server;
    using test_support::reply;
    const std::string pack_tool = (bin / "quorla-pack").string();
    std::string keys[2];
    for (int i = 0; i < 2; ++i) {
        const auto made = run_program(
            {pack_tool, "--gen-key", (dir / ("key" + std::to_string(i) + ".pem")).string()}, {},
            60);
        ASSERT_EQ(made.exit_code, 0) << made.output;
        keys[i] = made.output.substr(made.output.rfind(':') + 2, 44);
    }
    http_server shop(true, test_support::server_certificate::signed_by_test_authority);
    http_server stranger(true, test_support::server_certificate::signed_by_test_authority);
    http_server plain;
    const std::string stranger_base = "https://localhost:" + std::to_string(stranger.port());
    const fs::path served = dir / "served", install = data / "QuorlaDemo" / "profile";
    fs::create_directories(served);
    shop.serve_folder("/update/", served);
    const std::string module = read_text(target.built_module());
    ASSERT_FALSE(module.empty());
    const fs::path trace = dir / "trace.txt";
    auto startup = [&](const std::string& base) {
        std::string d =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<startup><install_path>QuorlaDemo/profile"
            "</install_path><update_url ssl=\"lv2\">" +
            base +
            "/update/</update_url><todo>new_work</todo>"
            "<editor_id>e</editor_id><rsid>RS</rsid><count>1</count><config_url>" +
            base +
            "/config"
            "</config_url><return_url>" +
            base + "/return</return_url><return2_url>" + base + "/cart</return2_url><setkey_url>" +
            base + "/setkey</setkey_url><agent type=\"file\">" +
            target.native_path(dir / "browser.exe") + "</agent><internal_call id=\"trace_file\">" +
            target.native_path(trace) + "</internal_call></startup>";
        return reply::text(d);
    };
    for (http_server* s : {&shop, &stranger, &plain}) {
        const std::string base = s == &shop       ? shop.base_url()
                                 : s == &stranger ? stranger_base
                                                  : plain.base_url();
        s->handle("/startup", [=](const test_support::recorded_request&) { return startup(base); });
        for (const char* path : {"/setkey", "/cart"})
            s->serve(path,
                     reply::text("<?xml version=\"1.0\" encoding=\"utf-8\"?><response><result "
                                 "code=\"0000\"/></response>"));
    }
    // The module signed by `signer` with `serial`; sha256 "auto" lists its digest, "" none, else
    // that text.
    auto publish = [&](const std::string& content, const std::string& serial,
                       const std::string& sha256, int signer) {
        write_file_bytes((served / "sha256-of").string(), content);
        const std::string digest =
            sha256 == "auto" ? to_utf8(file_sha256_hex(from_utf8((served / "sha256-of").string())))
                             : sha256;
        md5 hash;
        hash.update(content.data(), content.size());
        const std::string inner = "<update serial=\"" + serial +
                                  "\"><files name=\"m.zip\"><file id=\"module\" hash=\"" +
                                  to_utf8(md5::hex(hash.finish())) + "\"" +
                                  (digest.empty() ? "" : " sha256=\"" + digest + "\"") + ">" +
                                  target.module_file() + "</file></files></update>";
        zip_entry_spec entry;
        entry.name = target.module_file();
        entry.data = content;
        ASSERT_TRUE(make_zip((served / "m.zip").string(), {entry}));
        const std::string data = scramble_update_data(inner, 1, 2, builtin_update_key());
        std::string error;
        const std::string signature = sign_manifest_data(
            data, (dir / ("key" + std::to_string(signer) + ".pem")).string(), error);
        ASSERT_EQ(error, "");
        write_file_bytes((served / "activeupdate.xml").string(),
                         "<update data=\"" + data + "\" signature=\"" + signature + "\"></update>");
    };
    auto run = [&](const std::string& startup_url, int key) {
        fs::remove(trace);
        std::map<std::string, std::string> env = {
            {"XDG_DATA_HOME", data.string()},
            {"QUORLA_HEADLESS", "1"},
            {"LANG", "C.UTF-8"},
            {"QUORLA_TEST_ALLOWED_SERVERS", "127.0.0.1"},
            {"QUORLA_TEST_MANIFEST_KEYS", keys[key]},
            {"QUORLA_TEST_CA_FILE",
             target.native_path(test_support::test_authority_certificate())}};
        if (target.windows) env["DISPLAY"] = "";
        return run_program(target.command({test_support::launcher_link(startup_url, "K")},
                                          "quorla-launcher-profile-test"),
                           env, 180);
    };
    const std::string planted = target.windows ? "version.dll" : "libgtk-3.so.0";
    publish(module, "200", "auto", 0);
    const auto first = run(shop.url("/startup"), 0);
    ASSERT_EQ(first.exit_code, 0) << first.output << log_text();
    ASSERT_TRUE(read_text(install / target.module_file()) == module) << log_text();
    ASSERT_NE(read_text(trace).find("Initialize"), std::string::npos);
    const std::string changed = module + "changed";
    const struct {
        const char* attack;
        std::string startup_url, serial, sha256, line;
        int signer = 0, key = 0;
        bool plant = false;
    } rows[] = {
        {"stranger's link", stranger_base + "/startup", "200", "auto",
         "* 오류: 허용되지 않은 서버입니다. (url:" + stranger_base +
             "/startup?key=K&field=startup)"},
        {"plain-http link", plain.url("/startup"), "200", "auto",
         "* 오류: https가 아닌 주소는 허용되지 않습니다. (url:" +
             plain.url("/startup?key=K&field=startup)")},
        {"manifest without SHA-256", shop.url("/startup"), "200", "",
         "*오류 : 업데이트 목록에 SHA-256이 없는 파일이 있습니다. (path:" + target.module_file() +
             ", archive:m.zip)"},
        {"older serial after a newer one", shop.url("/startup"), "100", "auto",
         "*오류 : activeupdate.xml의 일련번호가 이미 받은 것보다 낮습니다. (serial:100, "
         "accepted:200)"},
        {"another shop's install folder", shop.url("/startup"), "200", "auto",
         "* 오류: 다른 쇼핑몰의 설치 폴더입니다. (path:", 1, 1},
        // The installed module no longer matches the list, so it goes before the download, as
        // any stale file does; what was downloaded is not moved into place.
        {"SHA-256 that does not match", shop.url("/startup"), "200", std::string(64, 'a'),
         "* 오류: 다운로드 받은파일의 SHA-256이 올바르지 않습니다. (src:"},
        {"planted library", shop.url("/startup"), "200", "auto",
         "*알림 : 업데이트 목록에 없는 실행 파일을 삭제했습니다. (path:", 0, 0, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.attack);
        clear_launcher_data_log();
        publish(r.plant ? module : changed, r.serial, r.sha256, r.signer);
        if (r.plant) fs::copy_file(target.built_module(), install / planted);
        const int manifests = shop.request_count("/update/activeupdate.xml");
        const auto result = run(r.startup_url, r.key);
        const std::string log = log_text();
        EXPECT_NE(log.find(r.line), std::string::npos) << log;
        EXPECT_FALSE(read_text(install / target.module_file()) == changed)
            << "the changed module was installed";
        EXPECT_EQ(stranger.requests().size(), 0u);
        EXPECT_EQ(plain.requests().size(), 0u);
        if (r.key != 0) {
            EXPECT_EQ(shop.request_count("/update/activeupdate.xml"), manifests);
        }
        EXPECT_EQ(result.exit_code, r.plant ? 0 : 1) << result.output;
        EXPECT_EQ(read_text(trace).find("Initialize") != std::string::npos, r.plant)
            << read_text(trace);
        if (r.plant) {
            EXPECT_TRUE(read_text(install / target.module_file()) == module);
            EXPECT_FALSE(fs::exists(install / planted));
            EXPECT_NE(log.find(planted + ")"), std::string::npos) << log;
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
    for (int i = 0; i < 500 && read_text(browser_record).empty(); ++i) usleep(20000);
    EXPECT_NE(read_text(browser_record).find("/return?exit_code=0"), std::string::npos);
}

TEST_F(EndToEnd, HttpsShopWithSelfSignedCertificate) {
    std::string base;
    background_program shop(shop_args({"--https"}), base);
    ASSERT_EQ(base.rfind("https://", 0), 0u) << base;
    launch(link_to(base));
    EXPECT_TRUE(fs::exists(data / "QuorlaDemo" / "editor" / target.module_file())) << log_text();
    EXPECT_NE(read_text(state / "cart.txt").find("key=E2E-1"), std::string::npos);
}

// The customer's proxy for the runs of one test, set up as a customer's system has it: the
// environment on Linux (libcurl's variables), the user's Internet Settings in the wine prefix
// under wine (WinInet's preconfigured access), taken away again at the end. The test's own
// settings never reach the launcher: the servers' loopback bypass (no_proxy) would keep every
// request away from the proxy, and wine takes http_proxy and no_proxy too.
struct customer_proxy {
    const test_support::launcher_target& target;
    fs::path reg;
    std::map<std::string, std::string> env;

    customer_proxy(const test_support::launcher_target& t, const fs::path& dir,
                   const std::string& address, bool https, const std::string& bypass)
        : target(t), reg(dir / "internet-settings.reg") {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            env[name] = "";
        if (!target.windows) {
            // https in the upper-case form, which libcurl takes as well (not so for http).
            env[https ? "HTTPS_PROXY" : "http_proxy"] = "http://" + address;
            env["NO_PROXY"] = bypass;
            return;
        }
        settings("dword:00000001", '"' + address + '"', bypass.empty() ? "-" : '"' + bypass + '"');
    }
    ~customer_proxy() {
        if (target.windows) settings("dword:00000000", "-", "-");
    }
    void settings(const std::string& enable, const std::string& server, const std::string& bypass) {
        std::ofstream(reg) << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
                              "CurrentVersion\\Internet Settings]\n\"ProxyEnable\"="
                           << enable << "\n\"ProxyServer\"=" << server
                           << "\n\"ProxyOverride\"=" << bypass << "\n";
        const auto imported = run_program(
            {(fs::path(std::getenv("QUORLA_SOURCE_DIR")) / "scripts" / "wine-run").string(),
             target.wine_prefix.string(), "regedit", "/S", target.native_path(reg)},
            {}, 120);
        EXPECT_EQ(imported.exit_code, 0) << imported.output;
    }
};

// Full runs behind the customer's proxy (Debian's tinyproxy), plain http and https through
// CONNECT, every request carried by it; one whose shop is set to be reached directly; and a
// proxy that wants credentials, which ends the run at its first request with one line.
TEST_F(EndToEnd, ThroughTheCustomersProxy) {
    const struct {
        const char* name;
        bool https, credentials, bypassed;
    } rows[] = {
        {"http through the proxy", false, false, false},
        {"https through CONNECT", true, false, false},
        {"https, the shop reached directly", true, false, true},
        {"the proxy wants credentials", false, true, false},
        {"the tunnel wants credentials", true, true, false},
    };
    int n = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        clear_launcher_data();
        fs::remove_all(state);
        fs::create_directories(state);
        const fs::path work = dir / ("proxy-" + std::to_string(++n));
        test_support::office_proxy proxy(work, r.credentials ? "office" : "", "secret");
        if (!proxy.missing().empty()) GTEST_SKIP() << proxy.missing();
        ASSERT_TRUE(proxy.running()) << proxy.why_not();
        std::string base;
        background_program shop(
            shop_args(r.https ? std::vector<std::string>{"--https"} : std::vector<std::string>{}),
            base);
        ASSERT_FALSE(base.empty());
        const std::string shop_host = base.substr(base.find("://") + 3);
        const customer_proxy settings(target, work, proxy.address(), r.https,
                                      r.bypassed ? "127.0.0.1" : "");
        const auto run = launch(link_to(base), settings.env);
        ASSERT_FALSE(run.timed_out) << run.output;
        const std::string log = log_text();
        const std::vector<std::string> carried = proxy.requests();
        const std::string shop_requests = read_text(state / "requests.txt");
        if (r.credentials) {
            EXPECT_EQ(run.exit_code, 1) << run.output << log;
            // Asked once, not five times: the launcher has no credentials to offer.
            EXPECT_EQ(carried.size(), 1u) << log;
            EXPECT_EQ(shop_requests, "");
            const std::string line = "*오류 : 프록시 서버가 인증을 요구합니다. (proxy:" +
                                     std::string(target.windows ? "" : "http://") +
                                     proxy.address() + ", status:407)";
            EXPECT_EQ(count_of(log, line), 1u) << log;
            EXPECT_EQ(count_of(log, "status:407, err:"), 1u) << log;
            continue;
        }
        EXPECT_EQ(run.exit_code, 0) << run.output << log;
        EXPECT_TRUE(fs::exists(data / "QuorlaDemo" / "editor" / target.module_file())) << log;
        EXPECT_NE(read_text(state / "cart.txt").find("key=E2E-1"), std::string::npos) << log;
        EXPECT_EQ(log.find("오류"), std::string::npos) << log;
        // Startup document, manifest, two archives and the cart key, each through the proxy
        // (one tunnel per https request), or none of them.
        const size_t answered = count_of(shop_requests, "\n");
        EXPECT_GE(answered, 5u) << shop_requests;
        EXPECT_EQ(carried.size(), r.bypassed ? 0u : answered) << shop_requests;
        const std::string request_start =
            r.https ? "CONNECT " + shop_host + " " : "GET " + base + "/";
        for (const std::string& line : carried) EXPECT_EQ(line.rfind(request_start, 0), 0u) << line;
    }
}

// A shop as most shops are run: nginx and PHP-FPM from Debian, the startup document and the
// cart answer written by PHP with plain echo (nginx then knows no length and ends the body
// by closing the connection), the update folder served as static files. The first run
// installs and delivers the cart key; the second finds the module current.
TEST_F(EndToEnd, RealShopStackOfNginxAndPhp) {
    const fs::path www = dir / "www";
    fs::create_directories(www);
    fs::create_directory_symlink(update, www / "update");
    const std::string trace = target.native_path(dir / "trace.txt");
    std::ofstream(www / "startup.php")
        << "<?php\n$shop = 'http://127.0.0.1:' . $_SERVER['SERVER_PORT'];\n"
        << "echo '<?xml version=\"1.0\" encoding=\"utf-8\"?>', \"\\n\";\n"
        << "echo \"<startup>\\n\";\n"
        << "echo \"<app_title>PHP shop</app_title>\\n\";\n"
        << "echo \"<install_path>PhpShop/editor</install_path>\\n\";\n"
        << "echo \"<update_url>$shop/update/</update_url>\\n\";\n"
        << "echo \"<todo>new_work</todo>\\n\";\n"
        << "echo \"<rsid>\" . htmlspecialchars($_GET['key']) . \"</rsid>\\n\";\n"
        << "echo \"<return_url>$shop/return.php</return_url>\\n\";\n"
        << "echo \"<return2_url>$shop/cart.php</return2_url>\\n\";\n"
        << "echo '<internal_call id=\"trace_file\">" << trace << "</internal_call>', \"\\n\";\n"
        << "echo '<agent type=\"file\">" << target.native_path(dir / "browser.exe")
        << "</agent>', \"\\n\";\n"
        << "echo \"</startup>\\n\";\n";
    std::ofstream(www / "cart.php")
        << "<?php\nfile_put_contents('" << (state / "cart.txt").string()
        << "', $_GET['keyresult'] . \"\\n\", FILE_APPEND);\n"
        << "echo '<?xml version=\"1.0\" encoding=\"utf-8\"?>', \"\\n\";\n"
        << "echo '<response><result code=\"0000\">saved</result></response>', \"\\n\";\n";
    std::ofstream(www / "return.php") << "<?php echo \"<p>Thank you</p>\\n\";\n";
    test_support::php_shop shop(www, dir / "stack");
    if (!shop.missing().empty()) GTEST_SKIP() << shop.missing();
    ASSERT_TRUE(shop.running()) << shop.why_not();
    // What makes this shop different: its documents come without a length.
    std::string head;
    test_support::run_build_machine_command(
        "curl -s -0 -o /dev/null -D - '" + shop.base_url() + "/startup.php?key=probe'", &head);
    ASSERT_NE(head.find(" 200 "), std::string::npos) << head;
    EXPECT_EQ(head.find("Content-Length"), std::string::npos) << head;

    const auto first =
        launch(test_support::launcher_link(shop.base_url() + "/startup.php", "PHP-1"));
    ASSERT_FALSE(first.timed_out) << first.output;
    EXPECT_EQ(first.exit_code, 0) << first.output << log_text();
    const fs::path install = data / "PhpShop" / "editor";
    EXPECT_TRUE(fs::exists(install / target.module_file())) << log_text();
    EXPECT_EQ(read_text(install / "readme.txt"), "Sample editor module\n");
    EXPECT_NE(read_text(dir / "trace.txt").find("NewWork"), std::string::npos) << log_text();
    const auto second =
        launch(test_support::launcher_link(shop.base_url() + "/startup.php", "PHP-2"));
    EXPECT_EQ(second.exit_code, 0) << second.output << log_text();
    EXPECT_EQ(log_text().find("오류"), std::string::npos) << log_text();
    const std::string cart = read_text(state / "cart.txt");
    EXPECT_EQ(count_of(cart, "/startup.php?key=PHP-1&field=result\n"), 1u) << cart;
    EXPECT_EQ(count_of(cart, "/startup.php?key=PHP-2&field=result\n"), 1u) << cart;
    const std::string requests = shop.access_log();
    EXPECT_EQ(count_of(requests, "GET /update/module.zip"), 1u) << requests;
    EXPECT_EQ(count_of(requests, "GET /update/activeupdate.xml"), 2u) << requests;
    for (int i = 0; i < 500 && count_of(read_text(browser_record), "\n") < 2; ++i) usleep(20000);
    EXPECT_EQ(
        count_of(read_text(browser_record), shop.base_url() + "/return.php?exit_code=0&keyresult="),
        2u)
        << read_text(browser_record);
}

// Archive downloads whose line breaks off, through the real launcher. What arrived is continued
// where the server allows it (ranges and a validator), in the run or in the next one; anything
// else starts the file over. The installed files and the bytes the server sent tell which.
TEST_F(EndToEnd, BrokenLinesResumeTheArchiveOrStartItOver) {
    const std::string zip = read_text(update / "module.zip");
    const int64_t size = static_cast<int64_t>(zip.size()), half = size / 2, part = size / 4;
    ASSERT_GT(size, 20000);
    const std::vector<int64_t> five_cuts = {part, part + 1000, part + 2000, part + 3000, part + 4000};
    using test_support::ranged_file;
    const struct {
        const char* name;
        ranged_file first;                  // the archive during the first run
        std::optional<ranged_file> second;  // a second run against this one, when set
        int requests, ranged;               // for the archive over the runs; those with Range
        int64_t least_sent, most_sent;      // body bytes the server sent (heads on top)
    } rows[] = {
        {"cut at a point, resumed", {.body = zip, .cuts = {half}}, {}, 2, 1, size, size},
        {"server ignores Range, starts over", {.body = zip, .honour_range = false, .cuts = {half}}, {},
         2, 1, size + half, size + half},
        // The 206 is refused before its body is read; what the server wrote of it meanwhile counts.
        {"206 with a wrong start, starts over", {.body = zip, .shift_start = 100, .cuts = {half}}, {},
         3, 1, size + half, 2 * size + half},
        {"part kept across runs, second run resumes", {.body = zip, .cuts = five_cuts},
         ranged_file{.body = zip}, 6, 5, size, size},
        {"validator changed between runs, starts over", {.body = zip, .cuts = five_cuts},
         ranged_file{.body = zip, .etag = "\"q2\""}, 6, 5, size + part + 4000, size + part + 4000},
    };
    const fs::path install = data / "QuorlaDemo" / "editor";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        clear_launcher_data();
        test_support::http_server files;
        files.serve_folder("/update/", update);
        files.serve_ranged("/update/module.zip", row.first);
        std::string base;
        background_program shop(shop_args({"--update-url", files.url("/update/")}), base);
        const auto first = launch(link_to(base));
        ASSERT_FALSE(first.timed_out) << first.output;
        if (row.second) {
            EXPECT_NE(first.exit_code, 0) << log_text();
            // The part and its record stay, nothing else.
            std::set<std::string> left;
            for (const auto& e : fs::directory_iterator(install / "download"))
                left.insert(e.path().filename().string());
            EXPECT_EQ(left, (std::set<std::string>{"module.zip.tmp~", "module.zip.tmp~.resume"}));
            EXPECT_EQ(fs::file_size(install / "download" / "module.zip.tmp~"), size_t(part + 4000));
            files.serve_ranged("/update/module.zip", *row.second);
            const auto second = launch(link_to(base, "E2E-2"));
            EXPECT_EQ(second.exit_code, 0) << second.output << log_text();
        } else {
            EXPECT_EQ(first.exit_code, 0) << first.output << log_text();
        }
        EXPECT_EQ(read_text(install / target.module_file()),
                  read_text(dir / "module" / target.module_file()));
        EXPECT_EQ(read_text(install / "readme.txt"), "Sample editor module\n");
        EXPECT_FALSE(fs::exists(install / "download"));
        int requests = 0, ranged = 0;
        for (const auto& r : files.requests()) {
            if (r.path != "/update/module.zip") continue;
            ++requests;
            if (r.has_header("Range")) {
                ++ranged;
                EXPECT_EQ(r.header("If-Range"), "\"q1\"");
            }
        }
        EXPECT_EQ(requests, row.requests);
        EXPECT_EQ(ranged, row.ranged);
        const int64_t sent = files.bytes_sent("/update/module.zip");
        EXPECT_GE(sent, row.least_sent);
        EXPECT_LE(sent, row.most_sent + row.requests * 512) << "heads of at most 512 bytes each";
    }
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

// The Windows launcher's window under wine, on a display of the test's own, watched from the X
// side while a slow update runs in six steps: what the customer sees, pixel for pixel.
TEST_F(EndToEnd, WineWindowDuringAnUpdate) {
    if (!target.windows) GTEST_SKIP() << "the window of the Linux build has WindowRunUnderXvfb";
    test_support::private_display display;
    if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed";
    for (int i = 1; i <= 5; ++i) std::ofstream(dir / "module" / ("part" + std::to_string(i) + ".txt")) << i;
    fs::remove_all(update);
    pack({"--module", target.module_file(), "--archive", "p1.zip=part1.txt", "--archive", "p2.cab=part2.txt",
          "--archive", "p3.zip=part3.txt", "--archive", "p4.cab=part4.txt", "--archive", "p5.zip=part5.txt"});
    std::string base;
    // The shop takes the cart key only at the twelfth try: after the eleven silent ones the
    // customer is asked, and the test answers Yes.
    background_program shop(shop_args({"--update-delay-ms", "400", "--cart-fail", "11"}), base);
    // A wine server of this display's own: the prefix's desktop belongs to the display it
    // started with.
    const std::string prefix = "WINEPREFIX='" + target.wine_prefix.string() + "' ";
    capture(prefix + "wineserver -k");
    // The fresh server's first program starts wine's desktop process, and a window asked for
    // while that process still sets up its display gets no driver ("No window can be created",
    // seen under load). On Windows the desktop is up long before: a program that makes a
    // hidden window brings it up here first.
    const std::string display_env = "DISPLAY=" + display.name() + " ";
    capture(display_env + "'" + std::getenv("QUORLA_SOURCE_DIR") + "/scripts/wine-run' '" +
            target.wine_prefix.string() + "' rundll32.exe user32.dll,GetDesktopWindow");
    test_support::run_result run;
    std::thread launcher([&] { run = launch(link_to(base), {{"DISPLAY", display.name()}, {"QUORLA_HEADLESS", ""}}); });

    const host::image background = picture("IDB_BGD_PROG2_NOR"), strip = picture("IDB_STT_PROG_NOR");
    std::string id, geometry, wm_state;
    std::vector<int> widths;  // of the strip on screen, capture by capture
    int mismatched = 0;
    for (int i = 0; i < 600; ++i) {
        if (id.empty()) {
            id = capture(display_env + "xdotool search --onlyvisible --name '^Demo shop editor$' 2>/dev/null");
            id.resize(std::min(id.size(), id.find('\n')));
            if (id.empty()) {
                usleep(50000);
                continue;
            }
            wm_state = capture(display_env + "xprop -id " + id + " _NET_WM_STATE");
        }
        geometry = capture(display_env + "xwininfo -id " + id + " 2>/dev/null");
        if (field(geometry, "Width: ") != 267) break;  // shrunk for the editor, or gone
        const std::string rgb = capture(display_env + "import -window root -depth 8 rgb:- 2>/dev/null");
        // A capture counts only if the window stood where it was all the while (it shrinks for
        // the editor).
        if (capture(display_env + "xwininfo -id " + id + " 2>/dev/null") != geometry) break;
        if (rgb.size() != 640u * 480u * 3u) continue;
        const int x = field(geometry, "Absolute upper-left X: "), y = field(geometry, "Absolute upper-left Y: ");
        auto screen = [&](int px, int py) {
            const auto* p = reinterpret_cast<const uint8_t*>(rgb.data()) + ((y + py) * 640 + (x + px)) * 3;
            return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        };
        // The strip width that makes the composed picture; -1 when none does.
        int width = -1;
        for (int w = 0; w <= 246 && width < 0; ++w) {
            host::image frame = background;
            frame.copy_from(strip, 0, 0, w, 10, 11, 39);
            bool same = true;
            for (int py = 0; py < 68 && same; ++py)
                for (int px = 0; px < 267 && same; ++px)
                    if (!(px + py <= 1 || 266 - px + py <= 1 || px + 67 - py <= 1 || 266 - px + 67 - py <= 1))
                        same = screen(px, py) == frame.pixel(px, py);
            if (same) width = w;
        }
        int corners_shown_through = 0;
        for (auto [px, py] : {std::pair{0, 0}, {1, 0}, {0, 1}, {266, 0}, {265, 0}, {266, 1}, {0, 67}, {1, 67}, {0, 66},
                              {266, 67}, {265, 67}, {266, 66}})
            if (screen(px, py) == 0) ++corners_shown_through;
        // Until its first paint the window may still be blank.
        if (width < 0 && !widths.empty()) ++mismatched;
        if (width >= 0) {
            widths.push_back(width);
            EXPECT_EQ(corners_shown_through, 12) << "the root shows through the cut corners";
        }
        EXPECT_EQ(x, (640 - 267) / 2) << geometry;
        EXPECT_EQ(y, (480 - 68) / 2) << geometry;
    }
    std::string question;
    for (int i = 0; i < 600 && question.empty(); ++i) {
        question = capture(display_env + "xdotool search --onlyvisible --name '^질문$' 2>/dev/null");
        if (question.empty()) usleep(50000);
    }
    question.resize(std::min(question.size(), question.find('\n')));
    if (!question.empty())
        capture(display_env + "xdotool windowfocus --sync " + question + " key Return 2>/dev/null");
    launcher.join();
    capture(prefix + "wineserver -k");
    EXPECT_FALSE(question.empty()) << "no retry question seen";
    EXPECT_EQ(count_of(read_text(state / "cart.txt"), " key=E2E-1\n"), 12u) << read_text(state / "cart.txt");
    for (int i = 0; i < 500 && read_text(browser_record).empty(); ++i) usleep(20000);
    EXPECT_NE(read_text(browser_record).find("/return?exit_code=0"), std::string::npos);
    ASSERT_FALSE(id.empty()) << "no window seen\n" << run.output << log_text();
    EXPECT_EQ(run.exit_code, 0) << run.output << log_text();
    EXPECT_NE(wm_state.find("_NET_WM_STATE_ABOVE"), std::string::npos) << wm_state;
    EXPECT_NE(wm_state.find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos) << wm_state;
    EXPECT_EQ(mismatched, 0) << "captures that are not the composed picture";
    ASSERT_GE(widths.size(), 2u);
    // Five archives and the module's: the strip steps through several widths to the full one.
    EXPECT_GE(std::set<int>(widths.begin(), widths.end()).size(), 3u) << "the strip grows";
    EXPECT_EQ(*std::max_element(widths.begin(), widths.end()), 246);
    EXPECT_NE(read_text(state / "cart.txt").find("key=E2E-1"), std::string::npos) << log_text();
}

}  // namespace
