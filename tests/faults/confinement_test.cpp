// Documents that try to reach outside the install folder, run through the real launcher: a
// manifest path, a startup document's module and install path, and the entry names of a zip
// archive and of a cabinet, in every spelling. Nothing may land outside the install folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/archives.h"
#include "tests/support/http_server.h"
#include "tests/support/launcher_run.h"
#include "tests/support/scratch.h"
#include "text/text.h"
#include "update/md5.h"
#include "update/scramble.h"

namespace fs = std::filesystem;
using test_support::http_server;
using test_support::launcher_log;
using test_support::read_text;

namespace {

const char kPayload[] = "payload written by a hostile document";
const char kUpdateFailed[] = "*오류 : 모듈 업데이트에 실패 했습니다.";

zip_entry_spec zip_entry(const std::string& name, const std::string& data) {
    zip_entry_spec e;
    e.name = name;
    e.data = data;
    return e;
}

std::string md5_of(const std::string& data) {
    md5 digest;
    digest.update(data.data(), data.size());
    return to_utf8(md5::hex(digest.finish()));
}

struct Confinement : ::testing::Test {
    fs::path dir, data, outside, served;
    http_server shop;

    void SetUp() override {
        dir = test_support::fresh_test_folder("quorla-confine");
        data = dir / "data";
        outside = dir / "outside";
        served = dir / "served";
        fs::create_directories(outside);
        fs::create_directories(served);
        shop.serve_folder("/update/", served);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path install() const { return data / "QuorlaDemo" / "editor"; }

    // ABS in a spelling stands for the absolute path of the folder outside.
    std::string spelled(std::string text) const {
        const size_t at = text.find("ABS");
        if (at != std::string::npos) text.replace(at, 3, outside.string().substr(1));
        return text;
    }

    void serve_startup(const std::string& module,
                       const std::string& install_path = "QuorlaDemo/editor") {
        shop.serve_bytes("/startup",
                         "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<startup>"
                         "<module>" +
                             module +
                             "</module>"
                             "<install_path>" +
                             install_path +
                             "</install_path>"
                             "<update_url>" +
                             shop.url("/update/") +
                             "</update_url>"
                             "<todo>new_work</todo><editor_id>e</editor_id><count>1</count>"
                             "<return_url>" +
                             shop.url("/return") +
                             "</return_url>"
                             "<agent type=\"file\">" +
                             (dir / "no-browser.exe").string() +
                             "</agent>"
                             "</startup>");
    }

    // A manifest listing `path` (module) in `archive`, scrambled as the shop's tool does.
    void serve_manifest(const std::string& path, const std::string& archive) {
        const std::string inner = "<update><files name=\"" + archive +
                                  "\"><file id=\"module\" hash=\"" + md5_of(kPayload) + "\">" +
                                  path + "</file></files></update>";
        std::ofstream(served / "activeupdate.xml")
            << "<update data=\"" << scramble_update_data(inner, 1, 2, builtin_update_key())
            << "\"></update>";
    }

    std::string run() {
        test_support::run_launcher(data, test_support::launcher_link(shop.url("/startup"), "K"));
        return launcher_log(data);
    }

    // The payload exists nowhere but inside the install folder (and the shop's own folder).
    void expect_nothing_outside() const {
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            if (!e.is_regular_file()) continue;
            const std::string path = e.path().string();
            if (path.rfind(install().string() + "/", 0) == 0 ||
                path.rfind(served.string() + "/", 0) == 0)
                continue;
            EXPECT_NE(read_text(e.path()), kPayload) << path;
        }
    }
};

TEST_F(Confinement, ManifestPathsLeadingOutAreRefused) {
    const char* spellings[] = {
        "../payload.so",           "..\\payload.so",  "sub/../../payload.so",
        "sub\\..\\..\\payload.so", "/ABS/payload.so", "\\ABS\\payload.so",
        "C:\\payload.so",          "C:payload.so",    "\\\\server\\share\\payload.so"};
    ASSERT_TRUE(make_zip((served / "module.zip").string(), {zip_entry("payload.so", kPayload)}));
    serve_startup("");
    for (const char* spelling : spellings) {
        SCOPED_TRACE(spelling);
        fs::remove_all(data);
        const std::string path = spelled(spelling);
        serve_manifest(path, "module.zip");
        const std::string log = run();
        EXPECT_NE(log.find("*오류 : 업데이트 목록의 경로가 올바르지 않습니다. (path:" +
                           to_utf8(from_utf8(path))),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("* 오류: activeupdate.xml의 포멧이 올바르지 않습니다."),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find(kUpdateFailed), std::string::npos);
        expect_nothing_outside();
    }
    // Archive names are plain names in the download folder.
    for (const char* archive : {"../module.zip", "sub/module.zip", "\\ABS\\module.zip"}) {
        SCOPED_TRACE(archive);
        fs::remove_all(data);
        serve_manifest("payload.so", spelled(archive));
        const std::string log = run();
        EXPECT_NE(log.find("* 오류: activeupdate.xml의 포멧이 올바르지 않습니다."),
                  std::string::npos)
            << log;
        EXPECT_EQ(shop.request_count("/update/module.zip"), 0);
        expect_nothing_outside();
    }
    // ...where an archive is to be fetched: a group of current files may name none.
    fs::remove_all(data);
    serve_manifest("payload.so", "module.zip");
    run();
    serve_manifest("payload.so", "");
    const std::string log = run();
    EXPECT_EQ(log.find(kUpdateFailed), std::string::npos) << log;
}

TEST_F(Confinement, StartupDocumentLeadingOutIsRefused) {
    // A module library placed outside, which the document tries to have loaded.
    std::ofstream(outside / "payload.so") << "not for loading";
    struct row {
        std::string module, install_path, line;
    } rows[] = {
        {"../../../outside/payload.so", "QuorlaDemo/editor",
         "*오류 : startup.xml의 module 경로가 올바르지 않습니다. (module:"},
        {"..\\..\\..\\outside\\payload.so", "QuorlaDemo/editor",
         "*오류 : startup.xml의 module 경로가 올바르지 않습니다. (module:"},
        {spelled("/ABS/payload.so"), "QuorlaDemo/editor",
         "*오류 : startup.xml의 module 경로가 올바르지 않습니다. (module:"},
        {spelled("\\ABS\\payload.so"), "QuorlaDemo/editor",
         "*오류 : startup.xml의 module 경로가 올바르지 않습니다. (module:"},
        {"C:\\payload.so", "QuorlaDemo/editor",
         "*오류 : startup.xml의 module 경로가 올바르지 않습니다. (module:"},
        {"payload.so", "../../outside",
         "*오류 : startup.xml의 install_path 경로가 올바르지 않습니다. (install_path:"},
        {"payload.so", "QuorlaDemo\\..\\..\\..\\outside",
         "*오류 : startup.xml의 install_path 경로가 올바르지 않습니다. (install_path:"},
        // The data folder itself: a manifest could then write any program's files there.
        {"payload.so", ".",
         "*오류 : startup.xml의 install_path 경로가 올바르지 않습니다. (install_path:.)"},
        {"payload.so", "",
         "*오류 : startup.xml의 install_path 경로가 올바르지 않습니다. (install_path:)"},
        {"payload.so", "/",
         "*오류 : startup.xml의 install_path 경로가 올바르지 않습니다. (install_path:/)"},
    };
    ASSERT_TRUE(make_zip((served / "module.zip").string(), {zip_entry("payload.so", kPayload)}));
    serve_manifest("payload.so", "module.zip");
    for (const row& r : rows) {
        SCOPED_TRACE(r.module + " in " + r.install_path);
        fs::remove_all(data);
        serve_startup(r.module, r.install_path);
        const std::string log = run();
        EXPECT_NE(log.find(r.line), std::string::npos) << log;
        EXPECT_NE(log.find("* 오류: startup.xml의 포멧이 올바르지 않습니다."), std::string::npos)
            << log;
        // The job goes on with an empty document, which installs nothing from anywhere.
        EXPECT_NE(log.find(kUpdateFailed), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(install()));
        EXPECT_EQ(shop.request_count("/update/activeupdate.xml"), 0);
        EXPECT_EQ(read_text(outside / "payload.so"), "not for loading");
        expect_nothing_outside();
    }
}

// Entry names after the archive's own name rules: a name that still leads out is refused and
// fails the extraction; the zip rules fold drive prefixes and leading separators into the
// destination, where the payload then lands at a harmless place (and the run goes on only if
// that place is the listed one).
TEST_F(Confinement, ArchiveEntriesLeadingOutAreRefusedOrKeptInside) {
    const std::string refused_zip = "Extract Zip refused entry outside the destination (";
    const std::string refused_cab = "Extract Cab refused entry outside the destination (";
    const std::string unpack_failed = "* 오류: 파일에 압축을 풀수 없습니다.";
    const std::string digest_failed = "* 오류: 다운로드 받은파일이 올바르않습니다.";
    struct row {
        const char* archive;
        const char* stored_name;
        std::string first_line, second_line;  // empty: the update succeeds
    } rows[] = {
        {"module.zip", "../payload.so", refused_zip, unpack_failed},
        {"module.zip", "..\\payload.so", refused_zip, unpack_failed},
        {"module.zip", "sub/../../payload.so", refused_zip, unpack_failed},
        {"module.zip", "sub\\..\\..\\payload.so", refused_zip, unpack_failed},
        {"module.zip", "/ABS/payload.so", digest_failed,
         kUpdateFailed},  // lands in download/<ABS>/
        {"module.zip", "\\\\server\\share\\payload.so", digest_failed, kUpdateFailed},
        {"module.zip", "C:\\payload.so", "", ""},  // folded to payload.so
        {"module.zip", "C:/../payload.so", refused_zip, unpack_failed},
        {"module.cab", "../payload.so", refused_cab, unpack_failed},
        {"module.cab", "..\\payload.so", refused_cab, unpack_failed},
        {"module.cab", "sub\\..\\..\\payload.so", refused_cab, unpack_failed},
        {"module.cab", "/ABS/payload.so", refused_cab, unpack_failed},
        {"module.cab", "\\ABS\\payload.so", refused_cab, unpack_failed},
        {"module.cab", "C:\\payload.so", refused_cab, unpack_failed},
        {"module.cab", "C:payload.so", refused_cab, unpack_failed},
        {"module.cab", "sub/../payload.so", "", ""},  // stays inside: payload.so
    };
    serve_startup("");
    for (const row& r : rows) {
        const std::string stored = spelled(r.stored_name);
        SCOPED_TRACE(std::string(r.archive) + ": " + stored);
        fs::remove_all(data);
        fs::remove(served / "module.zip");
        fs::remove(served / "module.cab");
        const std::string archive = (served / r.archive).string();
        if (std::string(r.archive).find(".cab") != std::string::npos)
            ASSERT_TRUE(make_cab(archive, {{stored, kPayload}}, true));
        else
            ASSERT_TRUE(make_zip(archive, {zip_entry(stored, kPayload)}));
        serve_manifest("payload.so", r.archive);
        const std::string log = run();
        if (r.first_line.empty()) {
            EXPECT_EQ(log.find(kUpdateFailed), std::string::npos) << log;
            EXPECT_EQ(read_text(install() / "payload.so"), kPayload);
        } else {
            EXPECT_NE(log.find(r.first_line), std::string::npos) << log;
            EXPECT_NE(log.find(r.second_line), std::string::npos) << log;
            EXPECT_NE(log.find(kUpdateFailed), std::string::npos) << log;
            EXPECT_FALSE(fs::exists(install() / "payload.so"));
        }
        expect_nothing_outside();
    }
}

}  // namespace
