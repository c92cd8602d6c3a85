// The self-update stage against a loopback shop: the release document fetched, verified and
// compared; on this platform (Linux) a newer release is only named in the log.
#include "update/self_update.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "inet/allowed_servers.h"
#include "tests/support/http_server.h"
#include "tests/support/process.h"
#include "tests/support/test_log.h"
#include "text/text.h"
#include "update/launcher_release.h"
#include "update/sha256.h"

namespace {

std::string sign(const std::string& data, const std::string& key_file) {
    std::string error;
    std::string signature = sign_manifest_data(data, key_file, error);
    EXPECT_FALSE(signature.empty()) << error;
    return signature;
}

launcher_release release(const std::string& platform, const std::string& version) {
    return {platform, version, "quorla-launcher_" + version + "_amd64.deb", 1234,
            std::string(64, 'a')};
}

TEST(self_update, release_document_is_checked_before_its_version_counts) {
    test_support::log_capture log;
    std::string error;
    const std::string key_file = (log.folder() / "shop.pem").string();
    const std::string other_file = (log.folder() / "other.pem").string();
    const auto key = parse_manifest_public_key(generate_manifest_key(key_file, error));
    ASSERT_TRUE(key) << error;
    ASSERT_FALSE(generate_manifest_key(other_file, error).empty()) << error;
    const std::string newer =
        release_document_data({release("windows-x64", "0.9.0"), release("linux-amd64", "1.2.10")});

    struct row {
        const char* fault;
        std::string document;  // served as /rel/launcher.xml; empty: not served (404)
        bool with_key;
        self_update_outcome outcome;
        std::u16string line;  // a log line that must be there
        // The rules every address obeys: the allowed servers, https only, and a document that
        // moved (to localhost, which the list does not name); requests: -1 not counted.
        std::vector<std::u16string> allowed = {};
        bool https_only = false, moved = false;
        int requests = -1;
    };
    const std::u16string announced =
        u"* 런처 업데이트 : 새 버전 1.2.10 이(가) 있습니다 (현재 1.2.9). 패키지 관리자나 상점 "
        u"페이지에서 설치하십시오.";
    const std::vector<row> rows = {
        {"newer release not named", release_document_text(newer, sign(newer, key_file)), true,
         self_update_outcome::announced, announced},
        {"forged document believed", release_document_text(newer, sign(newer, other_file)), true,
         self_update_outcome::failed, u"signature does not verify)"},
        {"unsigned document believed", release_document_text(newer, ""), true,
         self_update_outcome::failed, u"not signed)"},
        {"launcher without a key fetched anything",
         release_document_text(newer, sign(newer, key_file)), false, self_update_outcome::off, u""},
        {"same version taken for newer",
         [&] {
             const std::string d = release_document_data({release("linux-amd64", "1.2.9")});
             return release_document_text(d, sign(d, key_file));
         }(),
         true, self_update_outcome::up_to_date, u""},
        {"another platform's release taken for ours",
         [&] {
             const std::string d = release_document_data({release("windows-x64", "9.0.0")});
             return release_document_text(d, sign(d, key_file));
         }(),
         true, self_update_outcome::up_to_date, u""},
        {"malformed entry installed",
         [&] {
             launcher_release bad = release("linux-amd64", "2.0.0");
             bad.package = "../evil.deb";
             const std::string d = release_document_data({bad});
             return release_document_text(d, sign(d, key_file));
         }(),
         true, self_update_outcome::up_to_date,
         u"*경고 : 런처 릴리스 항목이 올바르지 않아 건너뜁니다. (linux-amd64 2.0.0 ../evil.deb)"},
        {"document past 64 KiB read",
         [&] {
             std::string d = newer + std::string(70 * 1024, 'A');
             return release_document_text(d, sign(d, key_file));
         }(),
         true, self_update_outcome::failed, u"*오류 : 런처 릴리스 문서를 받지 못했습니다."},
        {"missing document taken for a release", "", true, self_update_outcome::failed,
         u"*오류 : 런처 릴리스 문서를 받지 못했습니다."},
        {"release folder outside the allowed servers fetched",
         release_document_text(newer, sign(newer, key_file)), true, self_update_outcome::failed,
         u"*오류 : 허용되지 않은 서버의 런처 릴리스 문서는 받지 않습니다. (url:http://127.0.0.1:",
         {u"shop.example"}, false, false, 0},
        {"plain http release folder fetched by an https-only launcher",
         release_document_text(newer, sign(newer, key_file)), true, self_update_outcome::failed,
         u"* 오류: https가 아닌 주소는 허용되지 않습니다. (url:http://127.0.0.1:", {}, true, false,
         0},
        {"redirect away from the allowed servers followed",
         release_document_text(newer, sign(newer, key_file)), true, self_update_outcome::failed,
         u"redirect to a server that is not allowed: localhost", {u"127.0.0.1"}, false, true, 1},
    };
    const auto allowed_before = inet::built_in_allowed_servers();
    const bool https_only_before = inet::https_only();
    for (const row& r : rows) {
        SCOPED_TRACE(r.fault);
        test_support::http_server shop;
        if (r.moved) {
            shop.serve("/rel/launcher.xml",
                       test_support::reply::redirect("http://localhost:" +
                                                     std::to_string(shop.port()) + "/moved.xml"));
            shop.serve_bytes("/moved.xml", r.document);
        } else if (!r.document.empty()) {
            shop.serve_bytes("/rel/launcher.xml", r.document);
        }
        inet::set_allowed_servers(r.allowed);
        inet::set_https_only(r.https_only);
        self_update_settings settings;
        settings.release_folder = shop.url16("/rel/");
        if (r.with_key) settings.keys = {*key};
        settings.own_version = "1.2.9";
        settings.platform = launcher_platform();
        const std::u16string before = log.lines();
        EXPECT_EQ(update_launcher(settings), r.outcome);
        inet::set_allowed_servers(allowed_before);
        inet::set_https_only(https_only_before);
        const std::u16string added = log.lines().substr(before.size());
        EXPECT_NE(added.find(r.line), std::u16string::npos) << to_utf8(added);
        if (r.requests >= 0) {
            EXPECT_EQ(shop.request_count("/rel/launcher.xml"), r.requests);
            EXPECT_EQ(shop.request_count("/moved.xml"), 0);
        }
        if (r.outcome == self_update_outcome::off) {
            EXPECT_EQ(shop.request_count("/rel/launcher.xml"), 0);
        }
    }
}

// quorla-pack --launcher-release: one entry per platform, brought up to date in place, and a
// document it did not sign never carried on.
TEST(self_update, release_tool_keeps_other_platforms_and_refuses_a_foreign_document) {
    test_support::log_capture log;
    const std::string tool = QUORLA_TEST_PACK_TOOL;
    const auto& folder = log.folder();
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), tool);
        return test_support::run_program(args, {}, 60);
    };
    auto read = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const auto made = run({"--gen-key", (folder / "shop.pem").string()});
    ASSERT_EQ(made.exit_code, 0) << made.output;
    const auto key = parse_manifest_public_key(made.output.substr(made.output.rfind(':') + 2, 44));
    ASSERT_TRUE(key) << made.output;
    ASSERT_EQ(run({"--gen-key", (folder / "other.pem").string()}).exit_code, 0);
    std::ofstream(folder / "a.msi") << "windows package";
    std::ofstream(folder / "b.deb") << "debian package";
    const auto out = folder / "rel";
    const struct {
        const char* fault;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> listed;  // platform and version, in order
    } rows[] = {
        {"first release not written",
         {"a.msi", "1.0.0", "windows-x64", "shop.pem"},
         0,
         {"windows-x64 1.0.0"}},
        {"other platform dropped",
         {"b.deb", "1.0.1", "linux-amd64", "shop.pem"},
         0,
         {"linux-amd64 1.0.1", "windows-x64 1.0.0"}},
        {"platform not replaced",
         {"a.msi", "1.1.0", "windows-x64", "shop.pem"},
         0,
         {"linux-amd64 1.0.1", "windows-x64 1.1.0"}},
        {"foreign document carried on",
         {"a.msi", "2.0.0", "windows-x64", "other.pem"},
         1,
         {"linux-amd64 1.0.1", "windows-x64 1.1.0"}},
        {"bad version published",
         {"a.msi", "1.2", "windows-x64", "shop.pem"},
         1,
         {"linux-amd64 1.0.1", "windows-x64 1.1.0"}},
        {"unknown platform published",
         {"a.msi", "1.2.0", "windows-arm64", "shop.pem"},
         1,
         {"linux-amd64 1.0.1", "windows-x64 1.1.0"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.fault);
        const auto done = run({"--launcher-release", (folder / r.args[0]).string(), "--version",
                               r.args[1], "--platform", r.args[2], "--sign-key",
                               (folder / r.args[3]).string(), out.string()});
        EXPECT_EQ(done.exit_code, r.status) << done.output;
        std::vector<launcher_release> releases;
        std::vector<std::string> skipped;
        ASSERT_EQ(read_release_document(read(out / "launcher.xml"), *key, releases, skipped),
                  release_document_check::verified);
        std::vector<std::string> listed;
        for (const auto& release : releases) {
            listed.push_back(release.platform + " " + release.version);
            EXPECT_EQ(release.size, std::filesystem::file_size(out / release.package));
            EXPECT_EQ(release.sha256, to_utf8(file_sha256_hex(from_utf8((out / release.package).string()))));
        }
        EXPECT_EQ(listed, r.listed);
    }
}

TEST(self_update, versions_compare_by_number_and_bad_ones_are_refused) {
    EXPECT_LT(*parse_launcher_version("1.2.9"), *parse_launcher_version("1.2.10"));
    EXPECT_LT(*parse_launcher_version("0.9.99"), *parse_launcher_version("1.0.0"));
    for (const char* bad :
         {"", "1.2", "1.2.3.4", "1..3", "a.b.c", "1.2.-3", "1.2.3 ", "4294967296.0.0"})
        EXPECT_FALSE(parse_launcher_version(bad)) << bad;
    for (const char* bad :
         {"", ".hidden.msi", "a/b.msi", "a\\b.msi", "a b.msi", "x.msi\"", "..", "%2e.msi"})
        EXPECT_FALSE(release_package_name_ok(bad)) << bad;
}

}  // namespace
