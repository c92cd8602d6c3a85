// Installing the launcher: `cmake --install` into a prefix of our own, and the Debian package
// installed on this machine, with a shop link followed the way a browser follows it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/launcher_run.h"
#include "tests/support/sandbox.h"

namespace fs = std::filesystem;
using test_support::background_program;
using test_support::percent_encode;
using test_support::read_text;
using test_support::run_program;
using test_support::run_result;

namespace {

const std::string kScheme = QUORLA_URL_SCHEME;
const std::string kDesktopFile = "quorla-launcher.desktop";
const std::string kPackage = QUORLA_PACKAGE_NAME;
// The system-wide defaults that the package's maintainer scripts edit.
const fs::path kSystemDefaults = "/etc/xdg/mimeapps.list";

bool contains(const std::string& text, const std::string& needle) {
    return text.find(needle) != std::string::npos;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

fs::path binary_dir() {
    return fs::path(std::getenv("QUORLA_BINARY_DIR"));
}

fs::path scratch_folder(const std::string& what) {
    fs::path dir = fs::temp_directory_path() /
                   ("quorla-install-" + what + "-" + std::to_string(test_support::process_id()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

bool program_exists(const std::string& name) {
    return run_program({"sh", "-c", "command -v " + name}, {}, 30).exit_code == 0;
}

// The value of a key in the desktop entry's main group.
std::string desktop_key(const std::string& entry, const std::string& key) {
    bool main_group = false;
    for (const auto& line : lines_of(entry)) {
        if (!line.empty() && line[0] == '[')
            main_group = line == "[Desktop Entry]";
        else if (main_group && line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    }
    return {};
}

// The entries of the [Default Applications] group of a mimeapps.list.
std::vector<std::string> default_applications(const std::string& list) {
    std::vector<std::string> entries;
    bool in_defaults = false;
    for (const auto& line : lines_of(list)) {
        if (!line.empty() && line[0] == '[')
            in_defaults = line == "[Default Applications]";
        else if (in_defaults && !line.empty())
            entries.push_back(line);
    }
    return entries;
}

// A path as a manual page writes it: the line may break after any slash.
std::string break_points(const std::string& path) {
    std::string out;
    for (char c : path) out += c == '/' ? std::string("/\\:") : std::string(1, c);
    return out;
}

struct CmakeInstall : ::testing::Test {
    fs::path dir;
    void SetUp() override { dir = scratch_folder("tree"); }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(CmakeInstall, PrefixGetsTheProgramsTheHeaderTheDesktopEntryAndTheManualPages) {
    const fs::path prefix = dir / "prefix";
    const auto installed = run_program(
        {QUORLA_CMAKE_COMMAND, "--install", binary_dir().string(), "--prefix", prefix.string()}, {},
        300);
    ASSERT_EQ(installed.exit_code, 0) << installed.output;

    for (const char* program : {"quorla-launcher", "quorla-pack"}) {
        const fs::path p = prefix / "bin" / program;
        ASSERT_TRUE(fs::exists(p)) << p;
        EXPECT_EQ(::access(p.c_str(), X_OK), 0) << p << " is not executable";
    }
    // The installed program runs from its new place.
    const auto usage = run_program({(prefix / "bin" / "quorla-pack").string(), "--help"}, {}, 60);
    EXPECT_EQ(usage.exit_code, 0) << usage.output;
    EXPECT_TRUE(contains(usage.output, "Usage: quorla-pack")) << usage.output;

    // The module ABI header, unchanged, usable from the prefix by a C module author.
    const fs::path header = prefix / "include" / "quorla" / "editor_module.h";
    ASSERT_TRUE(fs::exists(header));
    EXPECT_EQ(read_text(header),
              read_text(fs::path(std::getenv("QUORLA_SOURCE_DIR")) / "module" / "editor_module.h"));
    std::ofstream(dir / "module.c")
        << "#include <quorla/editor_module.h>\nint main(void) { return 0; }\n";
    const auto compiled = run_program({"cc", "-std=c11", "-Wall", "-Werror", "-fsyntax-only", "-I",
                                       (prefix / "include").string(), (dir / "module.c").string()},
                                      {}, 120);
    EXPECT_EQ(compiled.exit_code, 0) << compiled.output;

    const fs::path desktop = prefix / "share" / "applications" / kDesktopFile;
    ASSERT_TRUE(fs::exists(desktop));
    const std::string entry = read_text(desktop);
    EXPECT_EQ(desktop_key(entry, "Type"), "Application") << entry;
    EXPECT_EQ(desktop_key(entry, "Exec"), "quorla-launcher %u") << entry;
    EXPECT_EQ(desktop_key(entry, "MimeType"), "x-scheme-handler/" + kScheme + ";") << entry;
    EXPECT_EQ(desktop_key(entry, "NoDisplay"), "true") << entry;
    EXPECT_EQ(desktop_key(entry, "Terminal"), "false") << entry;
    ASSERT_TRUE(program_exists("desktop-file-validate"))
        << "desktop-file-utils is missing (scripts/install-deps)";
    const auto valid = run_program({"desktop-file-validate", desktop.string()}, {}, 60);
    EXPECT_EQ(valid.exit_code, 0) << valid.output;
    EXPECT_EQ(valid.output, "");

    // Manual pages, compressed, free of roff warnings, naming what they must.
    ASSERT_TRUE(program_exists("groff")) << "groff is missing (scripts/install-deps)";
    const std::map<std::string, std::vector<std::string>> pages = {
        {"quorla-launcher.1.gz",
         {".TH QUORLA-LAUNCHER 1", "XDG_DATA_HOME", "QUORLA_HEADLESS", "http_proxy",
          "QuorlaLauncher/log/", "EXIT STATUS", "QUORLA_VERIFY_TLS", "QUORLA_ALLOWED_SERVERS",
          "x\\-scheme\\-handler/" + kScheme, "\\-\\-version",
          // The desktop entry where this install put it, not where a package would.
          // (with a break point after each slash).
          ".IR \\%" + break_points((prefix / "share" / "applications").string()) + " ."}},
        {"quorla-pack.1.gz",
         {".TH QUORLA-PACK 1", "\\-\\-module", "\\-\\-sign\\-key", "\\-\\-gen\\-update\\-key",
          "EXIT STATUS"}}};
    for (const auto& [page, needles] : pages) {
        const fs::path p = prefix / "share" / "man" / "man1" / page;
        ASSERT_TRUE(fs::exists(p)) << p;
        const auto source = run_program({"gzip", "-dc", p.string()}, {}, 60);
        ASSERT_EQ(source.exit_code, 0) << source.output;
        for (const auto& needle : needles)
            EXPECT_TRUE(contains(source.output, needle)) << page << ": " << needle;
        EXPECT_FALSE(contains(source.output, "@")) << page << " has an unfilled template value";
        const auto warnings =
            run_program({"sh", "-c", "gzip -dc \"$0\" | groff -man -ww -z -Tutf8", p.string()},
                        {{"LC_ALL", "C.UTF-8"}}, 60);
        EXPECT_EQ(warnings.exit_code, 0) << warnings.output;
        EXPECT_EQ(warnings.output, "") << page;
    }
    EXPECT_NE(read_text(prefix / "share" / "doc" / kPackage / "copyright").find("License: "), std::string::npos);
}

TEST_F(CmakeInstall, DestdirStagesUnderTheConfiguredPrefix) {
    const auto installed = run_program({QUORLA_CMAKE_COMMAND, "--install", binary_dir().string()},
                                       {{"DESTDIR", (dir / "stage").string()}}, 300);
    ASSERT_EQ(installed.exit_code, 0) << installed.output;
    const fs::path stage = dir / "stage";
    const fs::path staged = stage / fs::path(QUORLA_INSTALL_PREFIX).relative_path();
    EXPECT_TRUE(fs::exists(staged / "bin" / "quorla-launcher")) << installed.output;
    EXPECT_TRUE(fs::exists(staged / "share" / "applications" / kDesktopFile)) << installed.output;
    // Every file went below DESTDIR.
    size_t files = 0;
    for (const auto& line : lines_of(installed.output)) {
        const size_t at = line.find("Installing: ");
        if (at == std::string::npos) continue;
        ++files;
        EXPECT_EQ(line.substr(at + 12).rfind(stage.string() + "/", 0), 0u) << line;
    }
    EXPECT_GE(files, 6u) << installed.output;
}

// The package on this machine, built from a shop profile of the test's own as a shop builds
// it. Everything the package touches is put back when the test ends, whatever happened in
// between.
struct DebianPackage : ::testing::Test {
    // The profile's scheme, which no real shop uses, and the package named after it.
    const std::string scheme = "quorla-package-test";
    const std::string package = "quorla-launcher-" + scheme;
    std::vector<std::string> as_root;  // empty when we are root, else sudo
    fs::path dir;
    std::optional<std::string> defaults_before;  // the system-wide mimeapps.list, if any
    bool installed = false;

    // dpkg's "want flag state" of the package, empty when dpkg does not know it.
    std::string dpkg_status() {
        const auto r = run_program({"dpkg-query", "-W", "-f=${Status}", package}, {}, 60);
        return r.exit_code == 0 ? r.output : std::string();
    }
    // Anything of it on the system, even half installed.
    bool package_present() {
        const std::string status = dpkg_status();
        return !status.empty() && status.substr(status.rfind(' ') + 1) != "not-installed";
    }

    run_result root(std::vector<std::string> argv) {
        argv.insert(argv.begin(), as_root.begin(), as_root.end());
        return run_program(argv, {{"DEBIAN_FRONTEND", "noninteractive"}}, 600);
    }

    void SetUp() override {
        if (::geteuid() != 0) {
            if (run_program({"sudo", "-n", "true"}, {}, 60).exit_code != 0)
                GTEST_SKIP() << "installing the package needs root or passwordless sudo";
            as_root = {"sudo", "-n"};
        }
        // Never replace what someone installed here.
        if (package_present())
            GTEST_SKIP() << package
                         << " is already installed on this machine; the test would replace it";
        if (fs::exists("/usr/bin/quorla-launcher") ||
            fs::exists("/usr/share/applications/" + kDesktopFile))
            GTEST_SKIP() << "a launcher is already installed in /usr; the test would overwrite it";
        if (fs::exists(kSystemDefaults)) defaults_before = read_text(kSystemDefaults);
        dir = scratch_folder("package");
    }

    void TearDown() override {
        if (installed && package_present()) root({"dpkg", "--purge", package});
        // Put the system-wide defaults back if the maintainer scripts did not (the test has
        // already failed on that).
        const bool exists_now = fs::exists(kSystemDefaults);
        if (defaults_before && (!exists_now || read_text(kSystemDefaults) != *defaults_before)) {
            std::ofstream(dir / "mimeapps.list", std::ios::binary) << *defaults_before;
            root({"cp", (dir / "mimeapps.list").string(), kSystemDefaults.string()});
        } else if (!defaults_before && exists_now && !dir.empty()) {
            root({"rm", "-f", kSystemDefaults.string()});
        }
        if (!dir.empty()) fs::remove_all(dir);
    }

    // A user who never chose a handler, in a desktop session that xdg-utils treats generically.
    std::map<std::string, std::string> fresh_user(const std::string& display) {
        fs::create_directories(dir / "home");
        return {{"HOME", (dir / "home").string()},
                {"XDG_CONFIG_HOME", ""},
                {"XDG_DATA_HOME", (dir / "data").string()},
                {"XDG_CONFIG_DIRS", "/etc/xdg"},
                {"XDG_DATA_DIRS", "/usr/local/share:/usr/share"},
                {"XDG_CURRENT_DESKTOP", "X-Generic"},
                {"XDG_MENU_PREFIX", ""},
                {"XDG_RUNTIME_DIR", ""},
                {"KDE_FULL_SESSION", ""},
                {"KDE_SESSION_VERSION", ""},
                {"GNOME_DESKTOP_SESSION_ID", ""},
                {"DESKTOP_SESSION", ""},
                {"BROWSER", ""},
                // Only what the package installed can be found.
                {"PATH", "/usr/bin:/bin"},
                {"DISPLAY", display},
                {"WAYLAND_DISPLAY", ""},
                {"QUORLA_HEADLESS", "1"},
                {"LANG", "C.UTF-8"},
                {"LC_ALL", ""}};
    }

    std::string query_default(const std::map<std::string, std::string>& env) {
        const auto r =
            run_program({"xdg-mime", "query", "default", "x-scheme-handler/" + scheme}, env, 60);
        EXPECT_EQ(r.exit_code, 0) << r.output;
        return r.output;
    }
};

TEST_F(DebianPackage, InstalledItHandlesTheShopsLinksForEveryUserAndRemovalUndoesIt) {
    for (const char* needed : {"dpkg-deb", "dpkg-shlibdeps", "xdg-open", "xdg-mime",
                               "update-desktop-database", "Xvfb", "openssl", "unshare"})
        ASSERT_TRUE(program_exists(needed)) << needed << " is missing (scripts/install-deps)";

    // The shop's certificate, which the launcher must trust through the system's store. The
    // machine's own store stays as it is: the launcher runs in a mount namespace of its own
    // where /etc/ssl/certs holds this certificate only, as the bundle libcurl reads and as the
    // hashed folder it searches. It also names localhost, so that only the launcher's server
    // list keeps it from the shop under that name.
    const fs::path certs = dir / "certs";
    fs::create_directories(certs);
    const auto certificate = run_program(
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost",
         "-keyout", (dir / "shop-key.pem").string(), "-out",
         (certs / "ca-certificates.crt").string()},
        {}, 120);
    ASSERT_EQ(certificate.exit_code, 0) << certificate.output;
    const auto rehashed = run_program({"openssl", "rehash", certs.string()}, {}, 60);
    ASSERT_EQ(rehashed.exit_code, 0) << rehashed.output;
    const auto private_store =
        root({"unshare", "-m", "mount", "--bind", certs.string(), "/etc/ssl/certs"});
    if (private_store.exit_code != 0)
        GTEST_SKIP() << "cannot give the launcher a certificate store of its own in a private "
                        "mount namespace (unshare -m, mount --bind): "
                     << private_store.output;

    // The shop's profile, and the package built from it as a shop builds it. The ccache
    // settings of the environment, if any, pass on; the jobserver of a make that runs the tests
    // does not.
    const fs::path shop_profile = dir / "profile";
    const auto made =
        run_program({(binary_dir() / "bin" / "quorla-pack").string(), "--new-shop",
                     shop_profile.string(), "--scheme", scheme, "--servers", "127.0.0.1"},
                    {}, 60);
    ASSERT_EQ(made.exit_code, 0) << made.output;
    const auto started = std::chrono::steady_clock::now();
    const auto packed =
        run_program({"make", "-s", "-C", QUORLA_TEST_SOURCE_DIR, "package",
                     "SHOP=" + (shop_profile / "shop.cmake").string(),
                     "PACKAGE_BUILD=" + (dir / "build").string(), "INSECURE=", "CMAKE_FLAGS="},
                    {{"MAKEFLAGS", ""}, {"MFLAGS", ""}, {"MAKELEVEL", ""}}, 1200);
    const auto took = std::chrono::steady_clock::now() - started;
    std::cout << "make package: " << std::chrono::duration_cast<std::chrono::seconds>(took).count()
              << " s\n";
    ASSERT_EQ(packed.exit_code, 0) << packed.output;
    fs::path deb;
    for (const auto& e : fs::directory_iterator(dir / "build"))
        if (e.path().extension() == ".deb") deb = e.path();
    ASSERT_FALSE(deb.empty()) << packed.output;
    EXPECT_TRUE(contains(packed.output, "package: " + deb.string())) << packed.output;

    // Its dependencies come from what the programs link, plus xdg-utils.
    const auto depends = run_program({"dpkg-deb", "-f", deb.string(), "Depends"}, {}, 60);
    ASSERT_EQ(depends.exit_code, 0) << depends.output;
    std::vector<std::string> names;
    {
        std::string field = depends.output;
        for (char& c : field)
            if (c == '|') c = ',';
        std::istringstream in(field);
        for (std::string item; std::getline(in, item, ',');) {
            std::istringstream words(item);
            std::string name;
            words >> name;
            if (!name.empty()) names.push_back(name);
        }
    }
    for (const std::string prefix :
         {"libcurl", "libgtk-3-0", "libjsoncpp", "libminizip", "libmspack", "xdg-utils"}) {
        bool found = false;
        for (const auto& n : names) found = found || n.rfind(prefix, 0) == 0;
        EXPECT_TRUE(found) << "no dependency on " << prefix << " in: " << depends.output;
    }
    // What Debian asks of a package's control data.
    EXPECT_EQ(deb.filename().string().rfind(package + "_", 0), 0u) << deb;
    const auto maintainer = run_program({"dpkg-deb", "-f", deb.string(), "Maintainer"}, {}, 60);
    EXPECT_TRUE(contains(maintainer.output, "@") && !contains(maintainer.output, "@localhost"))
        << maintainer.output;
    const auto recommends = run_program({"dpkg-deb", "-f", deb.string(), "Recommends"}, {}, 60);
    EXPECT_TRUE(contains(recommends.output, "fonts-noto-cjk")) << recommends.output;

    const auto listing = run_program({"dpkg-deb", "-c", deb.string()}, {}, 60);
    for (const std::string& file : std::vector<std::string>{
             "./usr/bin/quorla-launcher", "./usr/bin/quorla-pack",
             "./usr/include/quorla/editor_module.h",
             "./usr/share/applications/quorla-launcher.desktop",
             "./usr/share/man/man1/quorla-launcher.1.gz", "./usr/share/man/man1/quorla-pack.1.gz",
             "./usr/share/doc/" + package + "/copyright"})
        EXPECT_TRUE(contains(listing.output, std::string(file) + "\n") ||
                    contains(listing.output, std::string(file) + " "))
            << file << " not in the package:\n"
            << listing.output;

    installed = true;
    const auto install = root({"dpkg", "-i", deb.string()});
    ASSERT_EQ(install.exit_code, 0) << install.output;
    ASSERT_EQ(dpkg_status(), "install ok installed");

    // A graphical session: xdg-open asks the desktop for a scheme's handler only with one.
    std::string display;
    background_program xvfb(
        {"sh", "-c", "exec Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp 2>/dev/null"},
        display);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    const auto user = fresh_user(":" + display);

    // The registration, as a user who never chose a handler sees it.
    EXPECT_EQ(query_default(user), kDesktopFile + "\n");
    const std::string entry = "x-scheme-handler/" + scheme + "=" + kDesktopFile;
    const auto defaults = default_applications(read_text(kSystemDefaults));
    EXPECT_EQ(std::count(defaults.begin(), defaults.end(), entry), 1) << read_text(kSystemDefaults);
    EXPECT_TRUE(contains(read_text("/usr/share/applications/mimeinfo.cache"),
                         "x-scheme-handler/" + scheme + "="))
        << "the desktop database does not list the scheme";

    // The shop, serving over HTTPS a module packed and signed with the installed quorla-pack,
    // which has the profile's key material built in.
    fs::create_directories(dir / "module");
    fs::copy_file(binary_dir() / "lib" / "libquorla_sample_editor.so",
                  dir / "module" / "libquorla_sample_editor.so");
    const auto pack = run_program({"/usr/bin/quorla-pack", "--module", "libquorla_sample_editor.so",
                                   "--sign-key", (shop_profile / "signing-key.pem").string(),
                                   (dir / "module").string(), (dir / "update").string()},
                                  {}, 120);
    ASSERT_EQ(pack.exit_code, 0) << pack.output;
    const std::string opened = (dir / "opened.txt").string();
    std::ofstream(dir / "browser.exe")
        << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << opened << "'\n";
    fs::permissions(dir / "browser.exe", fs::perms::owner_all);
    std::string base;
    background_program shop(
        {(binary_dir() / "bin" / "quorla-demo-shop").string(), "--port", "0", "--update-dir",
         (dir / "update").string(), "--state-dir", (dir / "state").string(), "--trace-file",
         (dir / "trace.txt").string(), "--agent", (dir / "browser.exe").string(), "--agent-type",
         "file", "--certificate", (certs / "ca-certificates.crt").string(), "--certificate-key",
         (dir / "shop-key.pem").string()},
        base);
    const std::string https_base = "https://127.0.0.1:";
    ASSERT_EQ(base.rfind(https_base, 0), 0u) << base;

    // What the browser does with a link: hand it to the desktop, here in the mount namespace
    // with the shop's certificate as the only trusted one. The user's environment goes on
    // env's command line only, which sudo leaves alone; through sudo, the link is followed as
    // the user again.
    const auto follow = [&](const std::string& link) {
        std::vector<std::string> argv = as_root;
        argv.insert(argv.end(),
                    {"unshare", "-m", "sh", "-c",
                     "mount --bind \"$0\" /etc/ssl/certs && exec \"$@\"", certs.string()});
        if (!as_root.empty())
            argv.insert(argv.end(), {"setpriv", "--reuid=" + std::to_string(::getuid()),
                                     "--regid=" + std::to_string(::getgid()), "--clear-groups"});
        argv.push_back("env");
        for (const auto& [name, value] : user)
            if (value.empty()) argv.insert(argv.end(), {"-u", name});
        for (const auto& [name, value] : user)
            if (!value.empty()) argv.push_back(name + "=" + value);
        argv.insert(argv.end(), {"xdg-open", link});
        auto r = run_program(argv, {}, 300);
        EXPECT_FALSE(r.timed_out) << r.output;
        return r;
    };
    // A link to a server the profile does not name: the same shop, as localhost. No request
    // reaches it.
    const std::string stranger = "https://localhost:" + base.substr(https_base.size());
    follow(scheme + "://key=PKG-0&svr=" + percent_encode(stranger + "/startup"));
    EXPECT_TRUE(contains(
        test_support::launcher_log(dir / "data"),
        "* 오류: 허용되지 않은 서버입니다. (url:" + stranger + "/startup?key=PKG-0&field=startup)"))
        << test_support::launcher_log(dir / "data");
    EXPECT_EQ(read_text(dir / "state" / "requests.txt"), "");

    const auto followed = follow(scheme + "://key=PKG-1&svr=" + percent_encode(base + "/startup"));
    ASSERT_FALSE(followed.timed_out) << followed.output;
    EXPECT_EQ(followed.exit_code, 0) << followed.output;

    // The installed launcher ran, headless, and the shop got the cart key.
    const std::string trace = read_text(dir / "trace.txt");
    EXPECT_TRUE(contains(trace, "Initialize|0|"))
        << "no headless editor run: " << trace << followed.output;
    EXPECT_TRUE(contains(read_text(dir / "state" / "cart.txt"), "key=PKG-1"))
        << read_text(dir / "state" / "cart.txt");
    EXPECT_TRUE(fs::exists(dir / "data" / "QuorlaDemo" / "editor" / "libquorla_sample_editor.so"));
    EXPECT_TRUE(fs::is_directory(dir / "data" / "QuorlaLauncher" / "log"));
    for (int i = 0; i < 500 && read_text(opened).empty(); ++i) ::usleep(20000);
    EXPECT_TRUE(contains(read_text(opened), base + "/return?exit_code=0")) << read_text(opened);

    // Removing the package takes the registration with it.
    const auto removed = root({"dpkg", "-r", package});
    ASSERT_EQ(removed.exit_code, 0) << removed.output;
    EXPECT_EQ(query_default(user), "");
    EXPECT_FALSE(fs::exists("/usr/share/applications/" + kDesktopFile));
    EXPECT_FALSE(contains(read_text("/usr/share/applications/mimeinfo.cache"), kDesktopFile));
    if (defaults_before) {
        const std::string after = read_text(kSystemDefaults);
        for (const auto& line : default_applications(after)) EXPECT_NE(line, entry);
        for (const auto& line : lines_of(*defaults_before)) {
            if (line == entry) continue;
            EXPECT_TRUE(contains(after, line)) << "lost from " << kSystemDefaults << ": " << line;
        }
    } else {
        EXPECT_FALSE(fs::exists(kSystemDefaults)) << read_text(kSystemDefaults);
    }
    const auto purged = root({"dpkg", "--purge", package});
    EXPECT_EQ(purged.exit_code, 0) << purged.output;
}

}  // namespace
