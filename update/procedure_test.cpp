#include "update/procedure.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "inet/allowed_servers.h"
#include "inet/rest.h"
#include "os/platform.h"
#include "tests/support/archives.h"
#include "tests/support/http_server.h"
#include "tests/support/test_log.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/files.h"
#include "update/install_state.h"
#include "update/md5.h"
#include "update/scramble.h"
#include "update/sha256.h"
#include "update/signature.h"

namespace fs = std::filesystem;
using test_support::http_server;

namespace {

// Records the progress messages the update sends to its window.
struct progress_window : host::window {
    std::vector<std::pair<int, int>> progress;
    std::filesystem::path download;  // watched: whether it stood at any progress message
    bool download_seen = false;
    intptr_t send_message(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
        if (message == host::WM_JOB_PROGRESS) progress.emplace_back(int(wparam), int(lparam));
        if (!download.empty() && std::filesystem::exists(download)) download_seen = true;
        return 0;
    }
    host::box_answer message_box(std::u16string_view, std::u16string_view,
                                 host::box_style) override {
        return host::box_answer::no;
    }
    void* native_id() override { return nullptr; }
    void shrink_and_center() override {}
};

std::string md5_of(const std::string& data) {
    md5 digest;
    digest.update(data.data(), data.size());
    return to_utf8(md5::hex(digest.finish()));
}

struct listed {
    listed(std::string p, std::string a, std::string c, bool m = false, std::string h = "auto",
           std::string v = "", std::string s = "")
        : path(std::move(p)),
          archive(std::move(a)),
          content(std::move(c)),
          module(m),
          hash(std::move(h)),
          version(std::move(v)),
          sha256(std::move(s)) {}
    std::string path, archive, content;
    bool module;
    std::string hash;  // "auto": the content's digest
    std::string version;
    std::string sha256;  // "auto": the content's SHA-256; empty: not listed
};

struct Update : ::testing::Test {
    test_support::log_capture log;
    http_server shop;
    progress_window window;
    startup_file_xml startup;
    fs::path install, served;
    std::string signing_key;  // a PEM file: publish() signs the manifest with it
    std::string serial;       // publish() writes it on the list when set

    void SetUp() override {
        install = log.folder() / "install";
        served = log.folder() / "served";
        fs::create_directories(served);
        startup.install_path = path16(install) + os::path_separator();
        startup.update_url = shop.url16("/update/");
        startup.update_file_url = shop.url16("/files/");
        shop.serve_folder("/files/", served);
    }

    // Serves the manifest for the entries and their archives (zip, or cabinet by extension).
    void publish(const std::vector<listed>& entries, bool make_archives = true) {
        std::string inner = serial.empty() ? "<update>" : "<update serial=\"" + serial + "\">";
        std::vector<std::string> archives;
        for (const auto& e : entries)
            if (std::find(archives.begin(), archives.end(), e.archive) == archives.end())
                archives.push_back(e.archive);
        for (const auto& archive : archives) {
            inner += "<files name=\"" + archive + "\">";
            std::vector<zip_entry_spec> zip;
            std::vector<cab_entry_spec> cab;
            for (const auto& e : entries) {
                if (e.archive != archive) continue;
                const std::string hash = e.hash == "auto" ? md5_of(e.content) : e.hash;
                inner += "<file" + std::string(e.module ? " id=\"module\"" : "") +
                         (hash.empty() ? "" : " hash=\"" + hash + "\"") +
                         (e.version.empty() ? "" : " version=\"" + e.version + "\"") +
                         (e.sha256.empty()
                              ? ""
                              : " sha256=\"" +
                                    (e.sha256 == "auto" ? sha256_of(e.content) : e.sha256) + "\"") +
                         ">" + e.path + "</file>";
                if (e.content == "<absent>") continue;
                zip_entry_spec z;
                z.name = e.path;
                z.data = e.content;
                zip.push_back(z);
                cab.push_back({e.path, e.content});
            }
            inner += "</files>";
            if (!make_archives) continue;
            const std::string file = (served / archive).string();
            if (ends_with_nocase(from_utf8(archive), u".cab"))
                ASSERT_TRUE(make_cab(file, cab, true));
            else
                ASSERT_TRUE(make_zip(file, zip));
        }
        inner += "</update>";
        const std::string data = scramble_update_data(inner, 1, 2, builtin_update_key());
        std::string error, signature;
        if (!signing_key.empty())
            signature = " signature=\"" + sign_manifest_data(data, signing_key, error) + "\"";
        shop.serve_bytes("/update/activeupdate.xml",
                         "<update data=\"" + data + "\"" + signature + "></update>");
    }

    std::string sha256_of(const std::string& content) {
        const fs::path file = log.folder() / "sha256-of";
        write_file_bytes(file.string(), content);
        return to_utf8(file_sha256_hex(path16(file)));
    }

    bool run(std::u16string& module_file) { return update_module(&window, startup, module_file); }
    bool run() {
        std::u16string module_file;
        return run(module_file);
    }
    std::string installed(const std::string& path) {
        return read_file_bytes((install / path).string());
    }
    void install_file(const std::string& path, const std::string& content) {
        fs::create_directories((install / path).parent_path());
        write_file_bytes((install / path).string(), content);
    }
    static std::u16string path16(const fs::path& p) { return p.u16string(); }
    // A path below the install folder as the update writes it: native separators.
    std::u16string under_install(std::u16string relative) const {
        for (char16_t& c : relative)
            if (c == u'/') c = os::path_separator();
        return startup.install_path + relative;
    }
};

using progress = std::vector<std::pair<int, int>>;

TEST_F(Update, InstallsFromNothingFetchingEachArchiveOnce) {
    publish({{"editor.so", "module.zip", "module bytes", true},
             {"helper.dat", "module.zip", "helper bytes"},
             {"readme.txt", "docs.cab", "read me"}});
    std::u16string module_file;
    ASSERT_TRUE(run(module_file)) << log.lines_utf8();
    EXPECT_EQ(module_file, u"editor.so");
    EXPECT_EQ(installed("editor.so"), "module bytes");
    EXPECT_EQ(installed("helper.dat"), "helper bytes");
    EXPECT_EQ(installed("readme.txt"), "read me");
    EXPECT_EQ(shop.request_count("/files/module.zip"), 1);
    EXPECT_EQ(shop.request_count("/files/docs.cab"), 1);
    EXPECT_FALSE(fs::exists(install / "download"));
    EXPECT_EQ(window.progress, (progress{{2, 1}, {2, 2}, {2, 2}, {2, 1}, {2, 2}, {2, 3}, {2, 2}}));
    EXPECT_TRUE(log.has_line(u"* 업데이트 시작 ********************"));
    EXPECT_TRUE(log.has_line(u"* install path: " + startup.install_path));
}

TEST_F(Update, AllCurrentDownloadsNothing) {
    publish({{"editor.so", "module.zip", "module bytes", true}, {"b.dat", "module.zip", "b"}});
    ASSERT_TRUE(run());
    window.progress.clear();
    const int before = shop.request_count("/files/module.zip");
    // Nothing to fetch, so no download folder either: a current install may be read-only.
    window.download = install / "download";
    ASSERT_TRUE(run());
    EXPECT_EQ(shop.request_count("/files/module.zip"), before);
    EXPECT_EQ(window.progress, (progress{{100, 100}}));
    EXPECT_FALSE(window.download_seen);
    EXPECT_FALSE(fs::exists(install / "download"));
}

TEST_F(Update, ThreeArchivesFiveFilesGiveTheExactProgress) {
    publish({{"m.so", "a.zip", "1", true},
             {"f2", "a.zip", "2"},
             {"f3", "b.zip", "3"},
             {"f4", "c.zip", "4"},
             {"f5", "b.zip", "5"}});
    ASSERT_TRUE(run());
    EXPECT_EQ(
        window.progress,
        (progress{{3, 1}, {3, 2}, {3, 3}, {3, 3}, {3, 1}, {3, 2}, {3, 3}, {3, 4}, {3, 5}, {3, 3}}));
}

TEST_F(Update, StaleFilesAreReplacedCurrentOnesLeftAlone) {
    publish({{"m.so", "a.zip", "new module", true}, {"same.dat", "a.zip", "same"}});
    install_file("m.so", "old module");
    install_file("same.dat", "same");
    install_file("unlisted.dat", "mine");
    const auto same_time = fs::last_write_time(install / "same.dat");
    ASSERT_TRUE(run());
    EXPECT_EQ(installed("m.so"), "new module");
    EXPECT_EQ(fs::last_write_time(install / "same.dat"), same_time)
        << "a current file is never touched";
    EXPECT_EQ(installed("unlisted.dat"), "mine");
}

// The installed files are digested together before the decisions; the decisions and their
// order stay those of a file-by-file check, also for a path listed twice.
TEST_F(Update, ManyInstalledFilesAreDecidedInManifestOrder) {
    std::vector<listed> entries;
    std::vector<std::u16string> expected;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        const std::string content(size_t(i) * 700, char('a' + i % 26));
        const int kind = i % 4;  // current, stale, missing, current without a hash
        entries.push_back({name, "a.zip", content, i == 0, kind == 3 ? "" : "auto"});
        if (kind != 2) install_file(name, kind == 1 ? content + "old" : content);
        if (kind == 1 || kind == 2) expected.push_back(from_utf8(name));
    }
    // Its hash is that of the installed copy, which its first entry has deleted meanwhile.
    entries.push_back({"f1.dat", "a.zip", "", false, md5_of(std::string(700, 'b') + "old")});
    entries.push_back({"f4.dat", "a.zip", "", false, md5_of(std::string(4 * 700, 'e'))});
    expected.push_back(u"f1.dat");
    publish(entries, false);

    std::vector<update_file_entry> updates;
    std::u16string module_file;
    ASSERT_TRUE(collect_updates(startup.install_path, updates, startup.update_url, module_file));
    std::vector<std::u16string> paths;
    for (const auto& e : updates) paths.push_back(e.path);
    EXPECT_EQ(paths, expected);
    EXPECT_FALSE(fs::exists(install / "f1.dat"));
    EXPECT_EQ(installed("f4.dat"), std::string(4 * 700, 'e'));
}

TEST_F(Update, HashDifferingOnlyInLetterCaseCountsAsCurrent) {
    std::string upper = md5_of("content");
    for (auto& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    publish({{"m.so", "a.zip", "content", true, upper}});
    install_file("m.so", "content");
    ASSERT_TRUE(run());
    EXPECT_EQ(shop.request_count("/files/a.zip"), 0);
}

TEST_F(Update, VersionDecidesWhenThereIsNoHash) {
    const fs::path pe =
        fs::path(std::getenv("QUORLA_SOURCE_DIR")) / "update/testdata/version-1.2.3.4-x64.dll";
    const std::string pe_bytes = read_file_bytes(pe.string());
    ASSERT_FALSE(pe_bytes.empty());
    struct Case {
        std::string listed_version;
        std::string installed;
        bool fetched;
    } cases[] = {
        {"1.2.3.4", pe_bytes, false},  {"1.2.3.5", pe_bytes, true},
        {"1.2.3.3", pe_bytes, true},   {"1.2.3.4", "not a PE image", true},
        {"", "not a PE image", false},  // neither hash nor version: current without version info
        {"", pe_bytes, true},
    };
    for (const auto& c : cases) {
        http_server files;
        startup.update_file_url = files.url16("/files/");
        files.serve_folder("/files/", served);
        publish({{"m.so", "a.zip", "module", true},
                 {"v.dll", "a.zip", "fresh", false, "", c.listed_version}});
        install_file("m.so", "module");
        install_file("v.dll", c.installed);
        ASSERT_TRUE(run()) << log.lines_utf8();
        EXPECT_EQ(files.request_count("/files/a.zip"), c.fetched ? 1 : 0) << c.listed_version;
        EXPECT_EQ(installed("v.dll"), c.fetched ? "fresh" : c.installed) << c.listed_version;
    }
}

TEST_F(Update, CapitalCabExtensionIsACabinet) {
    publish({{"m.so", "MODULE.CAB", "in a cabinet", true}});
    ASSERT_TRUE(run()) << log.lines_utf8();
    EXPECT_EQ(installed("m.so"), "in a cabinet");
}

TEST_F(Update, StartupModuleNameWinsOverTheManifest) {
    publish({{"m.so", "a.zip", "x", true}});
    startup.module = u"other.so";
    std::u16string module_file;
    ASSERT_TRUE(run(module_file));
    EXPECT_EQ(module_file, u"other.so");
}

TEST_F(Update, FileMissingFromItsArchiveFailsTheCheckOrTheMove) {
    publish({{"m.so", "a.zip", "x", true},
             {"gone.dat", "a.zip", "<absent>", false, "0123456789abcdef0123456789abcdef"}});
    EXPECT_FALSE(run());
    const std::u16string extracted = under_install(u"download/gone.dat");
    EXPECT_TRUE(log.has_line(u"* 오류: 다운로드 받은파일이 올바르않습니다. (src:" + extracted +
                             u", hash:-1)"))
        << log.lines_utf8();

    publish({{"m.so", "a.zip", "x", true}, {"gone.dat", "a.zip", "<absent>", false, ""}});
    EXPECT_FALSE(run());
    EXPECT_TRUE(log.has_line(u"* 오류: 파일을 복사할수 없습니다. (src:" + extracted + u", dest:" +
                             under_install(u"gone.dat") + u", 0x00000002)"))
        << log.lines_utf8();
}

TEST_F(Update, NoFolderIsCreatedForAPathInAMissingSubfolder) {
    publish({{"m.so", "a.zip", "x", true}, {"sub/f.dat", "a.zip", "y"}});
    EXPECT_FALSE(run());
    // The system's code for a target whose folder does not exist.
    const std::u16string no_folder = os::path_separator() == u'/' ? u"0x00000002" : u"0x00000003";
    EXPECT_TRUE(log.has_line(u"* 오류: 파일을 복사할수 없습니다. (src:" +
                             under_install(u"download/sub/f.dat") + u", dest:" +
                             under_install(u"sub/f.dat") + u", " + no_folder + u")"))
        << log.lines_utf8();
    // The download folder goes after a failure too, with whatever an earlier run left there.
    EXPECT_FALSE(fs::exists(install / "download"));
    fs::create_directories(install / "download");
    std::ofstream(install / "download" / "left-by-a-killed-run.bin") << "junk";
    fs::create_directories(install / "sub");
    ASSERT_TRUE(run()) << log.lines_utf8();
    EXPECT_EQ(installed("sub/f.dat"), "y");
    EXPECT_FALSE(fs::exists(install / "download"));
}

// A server that answers the archive with more than the disk can spare: the update stops
// before the volume goes below its free-space floor (here 32 MiB above what is free now),
// refuses archives built to unpack one block many times or to make countless files, and
// leaves no download folder behind.
TEST_F(Update, HostileArchivesAreRefusedBeforeTheDiskFills) {
    const uint64_t saved_floor = free_space_floor();
    auto zip_bytes = [&](const std::vector<std::pair<std::string, std::string>>& files) {
        std::vector<zip_entry_spec> entries;
        for (const auto& [name, data] : files) {
            entries.emplace_back();
            entries.back().name = name;
            entries.back().data = data;
        }
        const std::string file = (log.folder() / "built.zip").string();
        EXPECT_TRUE(make_zip(file, entries));
        return read_file_bytes(file);
    };
    auto put32 = [](std::string& b, size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) b[at + k] = static_cast<char>(v >> (8 * k));
    };
    const std::string block(1 << 20, 'A');
    // The second central record points at the first entry's local header and data.
    std::string shared = zip_bytes({{"a.dat", block}, {"b.dat", block}});
    put32(shared, shared.find("PK\x01\x02", shared.find("PK\x01\x02") + 4) + 42, 0);
    // The end record counts one entry more than the limit.
    std::string many = zip_bytes({{"a.dat", "1"}, {"b.dat", "2"}});
    const size_t end = many.rfind("PK\x05\x06");
    many[end + 8] = many[end + 10] = static_cast<char>((kMaxArchiveEntries + 1) & 0xFF);
    many[end + 9] = many[end + 11] = static_cast<char>((kMaxArchiveEntries + 1) >> 8);
    const std::string huge = zip_bytes({{"a.dat", std::string(64 << 20, '\0')}});
    const std::string cab_file = (log.folder() / "built.cab").string();
    ASSERT_TRUE(make_cab(cab_file, {{"a.dat", std::string(64 << 20, '\0')}}, true));
    const std::string huge_cab = read_file_bytes(cab_file);
    const std::string disk_line = "*오류 : 디스크 여유 공간이 부족합니다. (url:";
    struct row {
        const char* name;
        test_support::reply answer;
        std::string line;
        std::string archive = "a.zip";
    } rows[] = {
        {"announces 10^12 bytes",
         test_support::reply::raw("HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\n",
                                  test_support::raw_end::endless),
         disk_line},
        {"sends 64 MiB without announcing a length",
         test_support::reply::chunked(std::string(64 << 20, 'x'), 1 << 16), disk_line},
        {"entries share one block of data", test_support::reply::text(shared),
         "Extract Zip refused entries whose data overlap (a.dat, b.dat)"},
        {"more entries than the limit", test_support::reply::text(many),
         "Extract Zip refused an archive of 16385 entries (limit 16384)"},
        {"unpacks to 64 MiB", test_support::reply::text(huge),
         "Extract Zip refused an archive of 67108864 bytes unpacked"},
        {"cabinet unpacks to 64 MiB", test_support::reply::text(huge_cab),
         "Extract Cab refused entry a.dat of 67108864 bytes", "a.cab"},
        // Five bytes a second: progress for the no-progress limit, not for the slow bound
        // (here one second instead of two minutes).
        {"trickles five bytes a second",
         test_support::reply::raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n",
                                  test_support::raw_end::trickle),
         inet::rest::body_too_slow, "slow.zip"},
    };
    const inet::rest::timeouts saved_timeouts = inet::rest::default_timeouts();
    inet::rest::default_timeouts().slow_window = 1;
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        publish({{"a.dat", r.archive, "x", true}, {"b.dat", r.archive, "y"}}, false);
        shop.serve("/files/" + r.archive, r.answer);
        fs::create_directories(install);
        uint64_t free = 0;
        ASSERT_TRUE(os::free_bytes(path16(install), free));
        free_space_floor() = free - (32 << 20);
        EXPECT_FALSE(run());
        free_space_floor() = saved_floor;
        EXPECT_NE(log.lines_utf8().find(r.line), std::string::npos) << log.lines_utf8();
        EXPECT_FALSE(fs::exists(install / "download"));
    }
    inet::rest::default_timeouts() = saved_timeouts;
    EXPECT_EQ(shop.request_count("/files/a.zip"), 5)
        << log.lines_utf8();  // a disk that is full is not asked again
    EXPECT_EQ(shop.request_count("/files/a.cab"), 1);
    EXPECT_EQ(shop.request_count("/files/slow.zip"), 5);
}

TEST_F(Update, AnotherLaunchersLockIsWaitedForThenGivenUp) {
    publish({{"m.so", "a.zip", "module", true}});
    fs::create_directories(install);
    const std::u16string lock = startup.install_path + u"update.lock";
    bool busy = false;
    os::file_lock* held = os::try_lock_file(lock, busy);
    ASSERT_NE(held, nullptr);
    const std::chrono::milliseconds saved = update_lock_wait_limit();
    update_lock_wait_limit() = std::chrono::milliseconds(300);
    EXPECT_FALSE(run());
    EXPECT_TRUE(log.has_line(
        u"*알림 : 다른 런처가 이 폴더를 업데이트하고 있어 끝나기를 기다립니다. (lock:" + lock +
        u")"))
        << log.lines_utf8();
    EXPECT_NE(
        log.lines().find(u"*오류 : 다른 런처의 업데이트가 끝나지 않아 기다리지 않습니다. (lock:" +
                         lock + u", waited:"),
        std::u16string::npos)
        << log.lines_utf8();
    EXPECT_EQ(shop.request_count("/update/activeupdate.xml"), 0);
    os::unlock_file(held);
    EXPECT_TRUE(run()) << log.lines_utf8();
    update_lock_wait_limit() = saved;
    EXPECT_EQ(installed("m.so"), "module");
}

TEST_F(Update, ManifestFailures) {
    EXPECT_FALSE(run());
    const std::u16string address = startup.update_url + u"activeupdate.xml";
    EXPECT_NE(log.lines().find(u"*오류 : 다운로드 하지 못했습니다. (url:" + address +
                               u", status:404, err:0x"),
              std::u16string::npos)
        << log.lines_utf8();
    EXPECT_TRUE(log.has_line(u"* 오류: activeupdate.xml을 다운로드 하지 못했습니다. (url:" +
                             address + u")"));
    EXPECT_EQ(shop.request_count("/update/activeupdate.xml"), 5);

    shop.serve_bytes("/update/activeupdate.xml", "<html>not a manifest</html>");
    EXPECT_FALSE(run());
    EXPECT_TRUE(log.has_line(u"* 오류: activeupdate.xml의 포멧이 올바르지 않습니다. (url:" +
                             address + u")"));
}

TEST_F(Update, ArchiveThatCannotBeDownloadedIsRetriedFiveTimes) {
    publish({{"m.so", "a.zip", "x", true}}, false);
    EXPECT_FALSE(run());
    const std::u16string url = startup.update_file_url + u"a.zip";
    const std::u16string file = under_install(u"download/a.zip");
    EXPECT_EQ(shop.request_count("/files/a.zip"), 5);
    EXPECT_NE(log.lines().find(u"*오류 : 파일을 다운로드 하지 못했습니다. (url:" + url +
                               u", status:404, err:0x"),
              std::u16string::npos);
    EXPECT_TRUE(log.has_line(u"* 오류: 파일을 다운로드 할수 없습니다. (url" + url + u", path:" +
                             file + u")"));
    EXPECT_FALSE(fs::exists(install / "download" / "a.zip.tmp~"));
}

TEST_F(Update, ArchiveThatIsNotAnArchiveFailsTheExtraction) {
    publish({{"m.so", "a.zip", "x", true}}, false);
    write_file_bytes((served / "a.zip").string(), "this is not a zip archive");
    EXPECT_FALSE(run());
    EXPECT_NE(
        log.lines().find(u"* 오류: 파일에 압축을 풀수 없습니다. (src:" +
                         under_install(u"download/a.zip") + u", dest:" +
                         under_install(u"download/") + u", 0x"),
        std::u16string::npos)
        << log.lines_utf8();
}

TEST_F(Update, InstallFolderThatCannotBeCreated) {
    write_file_bytes((log.folder() / "blocker").string(), "a file");
    startup.install_path = path16(log.folder() / "blocker" / "install") + os::path_separator();
    EXPECT_FALSE(run());
    EXPECT_NE(log.lines().find(u"* 오류: 작업 폴더를 생성할 수 없습니다. (path:" +
                               startup.install_path + u", err:0x"),
              std::u16string::npos)
        << log.lines_utf8();
}

TEST_F(Update, UpdateServerOutsideTheAllowedListIsRefused) {
    publish({{"editor.so", "module.zip", "module bytes", true}});
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the list changes below
    std::vector<std::u16string> saved = inet::allowed_servers();
    inet::set_allowed_servers({u"shop.example"});
    struct row {
        std::u16string update_url, file_url, refused;
    } rows[] = {
        {startup.update_url, startup.update_file_url, startup.update_url},
        {u"http://shop.example/update/", startup.update_file_url, startup.update_file_url},
    };
    for (const row& r : rows) {
        startup.update_url = r.update_url;
        startup.update_file_url = r.file_url;
        EXPECT_FALSE(run());
        EXPECT_TRUE(
            log.has_line(u"* 오류: 허용되지 않은 업데이트 서버입니다. (url:" + r.refused + u")"))
            << log.lines_utf8();
    }
    inet::set_allowed_servers(saved);
    EXPECT_TRUE(shop.requests().empty());
    EXPECT_FALSE(fs::exists(install));
}

TEST_F(Update, PackedByTheShopToolInstallsTheSameFiles) {
    if (os::path_separator() != u'/') GTEST_SKIP() << "the shop tool is built for POSIX only";
    const fs::path source = log.folder() / "module-src";
    fs::create_directories(source);
    write_file_bytes((source / "editor.so").string(), std::string(100000, 'e'));
    write_file_bytes((source / "data.bin").string(), "data");
    write_file_bytes((source / "notes.txt").string(), "notes");
    const std::string pack = (fs::path(QUORLA_TEST_BINARY_DIR) / "bin" / "quorla-pack").string();
    const std::string command = pack + " --module editor.so --archive extra.cab='*.txt' " +
                                source.string() + " " + (log.folder() / "out").string() +
                                " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    shop.serve_folder("/update/", log.folder() / "out");
    startup.update_file_url = startup.update_url;
    std::u16string module_file;
    ASSERT_TRUE(run(module_file)) << log.lines_utf8();
    EXPECT_EQ(module_file, u"editor.so");
    for (const char* name : {"editor.so", "data.bin", "notes.txt"})
        EXPECT_EQ(installed(name), read_file_bytes((source / name).string())) << name;
}

// A launcher with a key, tried as an attacker would, step after step on one install folder.
TEST_F(Update, LauncherWithAManifestKeyInstallsOnlyWhatItsShopSignedLately) {
    const std::string key_file = (log.folder() / "shop.pem").string();
    std::string error;
    const auto key = parse_manifest_public_key(generate_manifest_key(key_file, error));
    ASSERT_TRUE(key) << error;
    set_manifest_public_key_for_tests(key);
    const std::string manifest_path = "/update/activeupdate.xml";
    struct step {
        const char* name;
        bool signed_;
        std::string serial, content, sha256;
        bool accepted;
        std::u16string line;
    } steps[] = {
        {"unsigned", false, "", "signed module", "auto", false,
         u"*오류 : activeupdate.xml에 서명이 없습니다. (signature missing)"},
        {"without SHA-256", true, "", "signed module", "", false,
         u"*오류 : 업데이트 목록에 SHA-256이 없는 파일이 있습니다. (path:m.so, archive:a.zip)"},
        {"SHA-256 does not match", true, "", "signed module", std::string(64, '0'), false,
         u"* 오류: 다운로드 받은파일의 SHA-256이 올바르지 않습니다. (src:" +
             under_install(u"download/m.so") + u", sha256:" +
             from_utf8(sha256_of("signed module")) + u")"},
        {"signed, serial 200", true, "200", "signed module", "auto", true, u""},
        {"older serial after a newer one", true, "100", "known fault", "auto", false,
         u"*오류 : activeupdate.xml의 일련번호가 이미 받은 것보다 낮습니다. (serial:100, "
         u"accepted:200)"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        signing_key = s.signed_ ? key_file : "";
        serial = s.serial;
        publish({{"m.so", "a.zip", s.content, true, "auto", "", s.sha256}});
        EXPECT_EQ(run(), s.accepted) << log.lines_utf8();
        if (!s.line.empty()) {
            EXPECT_TRUE(log.has_line(s.line)) << log.lines_utf8();
        }
        EXPECT_EQ(installed("m.so"),
                  s.accepted || std::string(s.name).starts_with("older") ? "signed module" : "");
    }
    EXPECT_EQ(read_install_state(startup.install_path).serial, 200u);

    // A library planted beside the module is removed before the module loads; other unlisted
    // files stay.
    install_file("libgtk-3.so.0", std::string("\x7f"
                                              "ELF",
                                              4) +
                                      "planted");
    install_file("notes.txt", "the customer's notes");
    serial = "300";
    publish({{"m.so", "a.zip", "signed module", true, "auto", "", "auto"}});
    EXPECT_TRUE(run()) << log.lines_utf8();
    EXPECT_FALSE(fs::exists(install / "libgtk-3.so.0"));
    EXPECT_TRUE(log.has_line(u"*알림 : 업데이트 목록에 없는 실행 파일을 삭제했습니다. (path:" +
                             under_install(u"libgtk-3.so.0") + u")"))
        << log.lines_utf8();
    EXPECT_EQ(installed("notes.txt"), "the customer's notes");

    // Another shop's folder is refused before anything is fetched.
    install_state theirs = read_install_state(startup.install_path);
    theirs.owner = u"key:" + from_utf8(std::string(43, 'A')) + u"=";
    ASSERT_TRUE(write_install_state(startup.install_path, theirs));
    const int asked = shop.request_count(manifest_path);
    EXPECT_FALSE(run());
    EXPECT_EQ(shop.request_count(manifest_path), asked);
    EXPECT_TRUE(log.has_line(u"* 오류: 다른 쇼핑몰의 설치 폴더입니다. (path:" +
                             startup.install_path + u", owner:" + theirs.owner +
                             u", this launcher:key:" +
                             from_utf8(base64_encode(key->data(), key->size())) + u")"))
        << log.lines_utf8();
    set_manifest_public_key_for_tests(std::nullopt);
}

// Without a key, a folder belongs to the update server that first filled it.
TEST_F(Update, FolderFilledFromAnotherUpdateServerIsRefusedBeforeAnyDownload) {
    publish({{"m.so", "a.zip", "module", true}});
    ASSERT_TRUE(run()) << log.lines_utf8();
    EXPECT_EQ(read_install_state(startup.install_path).owner, u"host:127.0.0.1");
    startup.update_url = replace_all(startup.update_url, u"127.0.0.1", u"localhost");
    const int asked = shop.request_count("/update/activeupdate.xml");
    EXPECT_FALSE(run());
    EXPECT_EQ(shop.request_count("/update/activeupdate.xml"), asked);
    EXPECT_TRUE(log.has_line(u"* 오류: 다른 쇼핑몰의 설치 폴더입니다. (path:" +
                             startup.install_path +
                             u", owner:host:127.0.0.1, this launcher:host:localhost)"))
        << log.lines_utf8();
}

}  // namespace
