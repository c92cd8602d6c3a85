// quorla-pack: turns a folder of editor module files into the archives and the scrambled
// activeupdate.xml that the launcher's update reads. The output folder is served as the
// update base address of the startup document.
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "os/platform.h"
#include "os/posix_path.h"
#include "text/confine.h"
#include "text/text.h"
#include "tools/pack/launcher_release.h"
#include "tools/pack/new_shop.h"
#include "tools/pack/previous.h"
#include "update/md5.h"
#include "update/pe_version.h"
#include "update/scramble.h"
#include "update/sha256.h"
#include "update/signature.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "Usage: quorla-pack [options] SOURCE_DIR OUT_DIR\n"
    "       quorla-pack --gen-key FILE | --gen-update-key FILE | --help\n"
    "       quorla-pack --new-shop DIR --scheme S --servers \"host;*.cdn.host\" [--name NAME]\n"
    "                   [--launcher-url https://host/launcher/]\n"
    "       quorla-pack --launcher-release PACKAGE --version X.Y.Z\n"
    "                   --platform windows-x64|linux-amd64 --sign-key FILE OUT_DIR\n"
    "\n"
    "Packs the editor module files in SOURCE_DIR into archives and a scrambled\n"
    "activeupdate.xml in OUT_DIR. Serve OUT_DIR at the startup document's update_url.\n"
    "\n"
    "Options:\n"
    "  --module REL_PATH      the module's main library, relative to SOURCE_DIR (required)\n"
    "  --archive NAME=GLOB    files matching GLOB go into archive NAME (repeatable; the first\n"
    "                         match wins). A NAME ending in .cab makes a cabinet, any other a\n"
    "                         zip archive. Files matching no GLOB go into module.zip.\n"
    "  --by-version GLOB      list matching files by their file version instead of their MD5\n"
    "                         hash (repeatable); a file without version information keeps its "
    "hash\n"
    "  --key-file FILE        manifest key material (default: the key built into this tool,\n"
    "                         which must be the launcher's)\n"
    "  --allow-subfolders     also pack files in subfolders (see below)\n"
    "  --sign-key FILE        sign the manifest with this PEM Ed25519 private key\n"
    "  --previous PREV_DIR    pack against the folder served for the previous release (same key\n"
    "                         material): its archives whose files are all unchanged are copied\n"
    "                         as they are, changed and new files go into new archives named\n"
    "                         after their contents; OUT_DIR must be another folder\n"
    "  --compact SHARE        with --previous, repack an old archive whose still-listed bytes\n"
    "                         fall below this share of its size (0 to 1, default 0.5)\n"
    "  --serial N             the manifest's serial (default: the packing time); a launcher\n"
    "                         with a key refuses a manifest older than one it accepted\n"
    "  --gen-key FILE         make a signing key pair: the private key goes to FILE (which must\n"
    "                         not exist), the public key is printed; nothing is packed\n"
    "  --gen-update-key FILE  write fresh random manifest key material to FILE (which must not\n"
    "                         exist) for -DQUORLA_UPDATE_KEY_FILE; nothing is packed\n"
    "  --new-shop DIR         make a shop profile in DIR: shop.cmake (build with\n"
    "                         cmake -C DIR/shop.cmake, make package SHOP=DIR/shop.cmake),\n"
    "                         signing-key.pem (private) and update-key.txt; needs --scheme and\n"
    "                         --servers, takes --name and --launcher-url URL (the https\n"
    "                         folder of the shop's launcher releases, on one of --servers:\n"
    "                         the launcher updates itself from it); nothing is packed\n"
    "  --launcher-release PACKAGE  publish a launcher package: copy it into OUT_DIR and add it\n"
    "                         to OUT_DIR/launcher.xml, signed with --sign-key (the manifest's\n"
    "                         key); the entry of that --platform is replaced, others are kept\n"
    "  --help                 this text\n"
    "Every option that takes a value also takes it as --option=VALUE.\n"
    "\n"
    "Subfolders: the launcher creates no folders under its install folder, so a file in a\n"
    "subfolder installs only where that folder already exists on the customer's machine.\n"
    "quorla-pack therefore refuses subfolders unless --allow-subfolders is given.\n"
    "GLOBs match the path relative to SOURCE_DIR (shell wildcards; '*' does not cross '/').\n";

struct options {
    std::string source, out, module;
    std::vector<std::pair<std::string, std::string>> archives;  // name, glob
    std::vector<std::string> by_version;
    std::string key_file;
    std::string sign_key;
    bool allow_subfolders = false;
    std::string previous;
    double compact = 0.5;
    bool compact_given = false;
    std::optional<uint64_t> serial;
};

int fail(const std::string& message) {
    std::cerr << "quorla-pack: " << message << "\n";
    return 1;
}

void warn(const std::string& message) { std::cerr << "quorla-pack: warning: " << message << "\n"; }

// Fresh key material in the format of the key file a build takes (QUORLA_UPDATE_KEY_FILE).
int generate_update_key(const std::string& file) {
    const std::string key_text = fresh_update_key_text();
    update_key check;
    if (!parse_update_key_file(key_text, check)) return fail("made a key that does not read back");
    // "x": never overwrite a key that launchers in the field may already carry.
    FILE* out = std::fopen(file.c_str(), "wx");
    if (out == nullptr) return fail("cannot create " + file + " (it must not exist yet): " + std::strerror(errno));
    const std::string& bytes = key_text;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) return fail("cannot write " + file);
    std::error_code ec;
    const fs::path absolute = fs::absolute(file, ec);
    std::cout << "quorla-pack: update key written to " << file << "\n"
              << "build the launcher (and with it this tool) with -DQUORLA_UPDATE_KEY_FILE="
              << (ec ? file : absolute.string()) << "\n";
    return 0;
}

bool matches(const std::string& glob, const std::string& relative) {
    return fnmatch(glob.c_str(), relative.c_str(), FNM_PATHNAME) == 0;
}

// The launcher's reader keeps references unexpanded, so names are written as they are and
// characters that would break the document are refused instead.
// It also trims white space from text and attribute values, so names may not begin or end
// with it.
bool name_is_writable(const std::string& name) {
    return !name.empty() && name.find_first_of("<>\"\r\n\t") == std::string::npos &&
           name.front() != ' ' && name.back() != ' ';
}

// Why Windows would refuse `relative` (a listed file or an archive name) as a file name, or
// empty when it takes it: a device name ("CON", "aux.dll", "COM1"), a step ending in a dot
// or a space, or a character Windows does not allow in names. Such a file never installs
// there, whatever the launcher does.
std::string windows_name_problem(const std::string& relative) {
    const std::u16string wide = from_utf8(relative);
    size_t begin = 0;
    for (size_t i = 0; i <= wide.size(); ++i) {
        if (i < wide.size() && wide[i] != u'/') continue;
        const std::u16string step = wide.substr(begin, i - begin);
        begin = i + 1;
        if (!step.empty() && (step.back() == u'.' || step.back() == u' '))
            return "ends with a dot or a space";
        for (const char16_t c : step)
            if (c < 0x20 || std::u16string_view(u"<>:\"\\|?*").find(c) != std::u16string_view::npos)
                return "holds a character Windows does not allow in names (< > : \" \\ | ? * or a "
                       "control character)";
        if (!path_stays_inside(step)) return "a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    }
    return {};
}

// Every listed file and archive as Windows would take it; false, with the reason, for the first
// that it would not.
bool names_install_on_windows(const std::vector<std::string>& relatives,
                              const std::vector<std::pair<std::string, std::string>>& archives) {
    std::vector<std::string> names = relatives;
    for (const auto& archive : archives) names.push_back(archive.first);
    for (const auto& name : names) {
        const std::string problem = windows_name_problem(name);
        if (problem.empty()) continue;
        fail("Windows refuses the name " + name + ": " + problem +
             "\n  Such a file never installs on Windows; rename it.");
        return false;
    }
    return true;
}

bool write_zip(const fs::path& archive, const fs::path& source,
               const std::vector<std::string>& files) {
    zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) return false;
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (const auto& relative : files) {
        const fs::path path = source / relative;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            ok = false;
            break;
        }
        zip_fileinfo info{};
        struct tm t {};
        localtime_r(&st.st_mtime, &t);
        info.tmz_date.tm_sec = t.tm_sec;
        info.tmz_date.tm_min = t.tm_min;
        info.tmz_date.tm_hour = t.tm_hour;
        info.tmz_date.tm_mday = t.tm_mday;
        info.tmz_date.tm_mon = t.tm_mon;
        info.tmz_date.tm_year = t.tm_year + 1900;
        info.external_fa = (static_cast<uLong>(st.st_mode & 0777) | S_IFREG) << 16;
        // "Made by" Unix (3), so the permission bits travel with the entry.
        if (zipOpenNewFileInZip4_64(zip, relative.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                    Z_DEFAULT_STRATEGY, nullptr, 0, 3 << 8, 1 << 11, 1) != ZIP_OK) {
            ok = false;
            break;
        }
        std::ifstream in(path, std::ios::binary);
        while (in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            if (in.gcount() > 0 &&
                zipWriteInFileInZip(zip, buffer.data(), static_cast<unsigned>(in.gcount())) !=
                    ZIP_OK)
                ok = false;
        }
        if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
        if (!ok) break;
    }
    if (zipClose(zip, nullptr) != ZIP_OK) ok = false;
    return ok;
}

// gcab stores each name as given on its command line (with "\\" for "/"), relative to its
// working folder, so it runs inside the source folder; "--" keeps names beginning with "-"
// from being read as options.
bool write_cab(const fs::path& archive, const fs::path& source,
               const std::vector<std::string>& files) {
    std::error_code ec;
    const fs::path target = fs::absolute(archive, ec);
    if (ec) return false;
    std::vector<std::string> args = {"gcab", "-c", "-z", target.string(), "--"};
    args.insert(args.end(), files.begin(), files.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::cout.flush();
    std::cerr.flush();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(source.c_str()) != 0) {
            std::perror("quorla-pack: cannot enter the source folder");
            ::_exit(126);
        }
        ::execvp("gcab", argv.data());
        std::perror("quorla-pack: cannot run gcab (install the gcab package)");
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) < 0) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// How each file would be listed, as the manifest below lists it: the file version for
// --by-version files that have one, else the MD5 digest.
release_file listing_of(const options& o, const fs::path& source, const std::string& relative,
                        const std::string& group) {
    release_file f{relative, group, false, ""};
    const std::u16string path16 = os::from_native_path((source / relative).string());
    if (std::any_of(o.by_version.begin(), o.by_version.end(),
                    [&](const std::string& glob) { return matches(glob, relative); }))
        f.value = to_utf8(file_version_text(path16));
    f.by_version = !f.value.empty();
    if (!f.by_version) f.value = to_utf8(file_md5_hex(path16));
    return f;
}

// Replaces the archives of a fresh packing with those of a release packed against the
// previous one, written into `out`; false once the reason is said.
bool plan_from_previous(const options& o, const fs::path& source, const fs::path& out,
                        const update_key& key, std::vector<std::string>& archive_order,
                        std::map<std::string, std::vector<std::string>>& members,
                        release_plan& plan) {
    std::vector<release_file> files;
    for (const auto& archive : archive_order)
        for (const auto& relative : members[archive])
            files.push_back(listing_of(o, source, relative, archive));
    std::sort(files.begin(), files.end(),
              [](const release_file& a, const release_file& b) { return a.path < b.path; });
    const archive_writer write = [&](const fs::path& archive,
                                     const std::vector<std::string>& names) {
        return ends_with_nocase(ascii_to_wide(archive.string()), u".cab")
                   ? write_cab(archive, source, names)
                   : write_zip(archive, source, names);
    };
    std::string error;
    if (!pack_release(o.previous, out, key, files, o.compact, write, plan, error)) {
        fail(error);
        return false;
    }
    archive_order.clear();
    members.clear();
    for (const auto& archive : plan.archives) {
        archive_order.push_back(archive.name);
        members[archive.name] = archive.files;
    }
    return true;
}

int run(const options& o) {
    const fs::path source(o.source), out(o.out);
    std::error_code ec;
    if (!fs::is_directory(source, ec)) return fail("source folder not found: " + o.source);
    if (o.module.empty()) return fail("--module REL_PATH is required");
    if (o.compact_given && o.previous.empty()) return fail("--compact works only with --previous");
    const std::string module = fs::path(o.module).lexically_normal().generic_string();

    update_key key = builtin_update_key();
    if (!o.key_file.empty()) {
        std::ifstream in(o.key_file);
        std::stringstream text;
        text << in.rdbuf();
        if (!in || !parse_update_key_file(text.str(), key))
            return fail("cannot read key file: " + o.key_file);
    }

    // Every file, in a stable order.
    std::vector<std::string> relatives;
    for (auto it = fs::recursive_directory_iterator(source, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        const std::string relative = fs::relative(it->path(), source).generic_string();
        if (!name_is_writable(relative)) return fail("file name cannot be listed: " + relative);
        if (relative.find('/') != std::string::npos && !o.allow_subfolders)
            return fail(
                "file in a subfolder: " + relative +
                "\n  The launcher creates no folders under its install folder, so this file "
                "would fail to install.\n  Move it to the top of SOURCE_DIR, or pass "
                "--allow-subfolders if the folder is sure to exist on customers' machines.");
        relatives.push_back(relative);
    }
    if (ec) return fail("cannot read " + o.source + ": " + ec.message());
    std::sort(relatives.begin(), relatives.end());
    if (relatives.empty()) return fail("no files in " + o.source);
    if (std::find(relatives.begin(), relatives.end(), module) == relatives.end())
        return fail("module file not found in the source folder: " + o.module);
    for (const auto& [name, glob] : o.archives)
        if (name.empty() || name.find_first_of("/\\") != std::string::npos || name == "." ||
            name == ".." || !name_is_writable(name))
            return fail("archive name must be a plain file name: " + name);
    if (!names_install_on_windows(relatives, o.archives)) return 1;

    // Archive of each file: the first matching --archive, else module.zip; archives keep the
    // order of their first file.
    std::vector<std::string> archive_order;
    std::map<std::string, std::vector<std::string>> members;
    for (const auto& relative : relatives) {
        std::string archive = "module.zip";
        for (const auto& [name, glob] : o.archives)
            if (matches(glob, relative)) {
                archive = name;
                break;
            }
        if (!members.count(archive)) archive_order.push_back(archive);
        members[archive].push_back(relative);
    }

    // A pattern that picks nothing is most often a typo; the files it meant still go into
    // module.zip, so the update works, but the shop should know.
    for (const auto& [name, glob] : o.archives)
        if (!members.count(name))
            warn("--archive " + name + "=" + glob + " matches no file (or only files an earlier --archive took); " +
                 name + " is not written");
    for (const auto& glob : o.by_version)
        if (std::none_of(relatives.begin(), relatives.end(), [&](const std::string& r) { return matches(glob, r); }))
            warn("--by-version " + glob + " matches no file");

    // Against the previous release, the archives come from its plan and are all in place
    // before the manifest is written.
    std::set<std::string> in_place;
    release_plan plan;
    if (!o.previous.empty()) {
        if (!plan_from_previous(o, source, out, key, archive_order, members, plan)) return 1;
        in_place.insert(archive_order.begin(), archive_order.end());
    }

    fs::create_directories(out, ec);
    if (!fs::is_directory(out)) return fail("cannot create output folder: " + o.out);

    // Grows with every packing, so that a launcher with a key can tell an older manifest
    // served again; the time in microseconds keeps two packings in one second apart.
    const uint64_t serial =
        o.serial ? *o.serial
                 : static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count());
    std::string inner = "<update serial=\"" + std::to_string(serial) + "\">\n";
    for (const auto& archive : archive_order) {
        const fs::path archive_path = out / archive;
        const bool ready = in_place.count(archive) != 0;
        if (!ready) fs::remove(archive_path, ec);
        const bool cab = ends_with_nocase(ascii_to_wide(archive), u".cab");
        if (!ready && !(cab ? write_cab(archive_path, source, members[archive])
                            : write_zip(archive_path, source, members[archive])))
            return fail("cannot write archive " + archive_path.string());
        inner += "  <files name=\"" + archive + "\">\n";
        for (const auto& relative : members[archive]) {
            const std::u16string path16 = os::from_native_path((source / relative).string());
            std::string attribute;
            bool by_version = false;
            for (const auto& glob : o.by_version)
                by_version = by_version || matches(glob, relative);
            if (by_version) {
                const std::string version = to_utf8(file_version_text(path16));
                if (version.empty())
                    std::cerr << "quorla-pack: warning: " << relative
                              << " has no file version; listed by its MD5 hash\n";
                else
                    attribute = " version=\"" + version + "\"";
            }
            if (attribute.empty()) attribute = " hash=\"" + to_utf8(file_md5_hex(path16)) + "\"";
            // Older launchers ignore it; a launcher with a key requires it on every file.
            attribute += " sha256=\"" + to_utf8(file_sha256_hex(path16)) + "\"";
            const bool is_module = relative == module;
            inner += "    <file";
            if (is_module) inner += " id=\"module\"";
            inner += attribute + ">" + relative + "</file>\n";
        }
        inner += "  </files>\n";
    }
    inner += "</update>\n";

    // Fresh header words every run, so equal lists never scramble alike.
    std::random_device random;
    const std::string data = scramble_update_data(inner, random(), random(), key);
    // The value as the launcher reads it: lines of 76, the white space around them trimmed.
    std::string value;
    for (size_t i = 0; i < data.size(); i += 76) value += (i ? "\n" : "") + data.substr(i, 76);
    std::string signature;
    if (!o.sign_key.empty()) {
        std::string error;
        signature = sign_manifest_data(value, o.sign_key, error);
        if (signature.empty()) return fail(error);
    }
    std::string document = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update data=\"\n" + value + "\n\"";
    if (!signature.empty()) document += "\n        signature=\"" + signature + "\"";
    document += "></update>\n";
    std::ofstream manifest(out / "activeupdate.xml", std::ios::binary | std::ios::trunc);
    manifest << document;
    manifest.close();
    if (!manifest) return fail("cannot write " + (out / "activeupdate.xml").string());

    std::cout << "quorla-pack: " << relatives.size() << " files in " << archive_order.size()
              << " archive(s), module " << o.module << ", serial " << serial << ", written to "
              << o.out << "\n";
    for (const auto& archive : archive_order)
        std::cout << "  " << archive << ": " << members[archive].size() << " file(s)\n";
    if (!o.previous.empty()) std::cout << describe_release(plan);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (is_launcher_release_command(argc, argv)) return launcher_release_main(argc, argv);
    options o;
    std::optional<new_shop_options> shop;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        // "--name=value" is "--name value".
        std::optional<std::string> inline_value;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto value = [&]() -> std::string {
            if (inline_value) {
                if (inline_value->empty()) std::exit(fail(arg + " needs a value"));
                return *std::exchange(inline_value, std::nullopt);
            }
            if (i + 1 >= argc) std::exit(fail(arg + " needs a value"));
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            if (inline_value) return fail(arg + " takes no value");
            std::cout << kUsage;
            return 0;
        } else if (arg == "--module") {
            o.module = value();
        } else if (arg == "--archive") {
            const std::string v = value();
            const size_t split = v.find('=');
            if (split == std::string::npos || split == 0 || split + 1 == v.size())
                return fail("--archive needs NAME=GLOB, got: " + v);
            o.archives.emplace_back(v.substr(0, split), v.substr(split + 1));
        } else if (arg == "--by-version") {
            o.by_version.push_back(value());
        } else if (arg == "--key-file") {
            o.key_file = value();
        } else if (arg == "--sign-key") {
            o.sign_key = value();
        } else if (arg == "--previous") {
            o.previous = value();
        } else if (arg == "--compact") {
            const std::string v = value();
            char* end = nullptr;
            o.compact = std::strtod(v.c_str(), &end);
            if (end == v.c_str() || *end != '\0' || !(o.compact >= 0 && o.compact <= 1))
                return fail("--compact needs a share from 0 to 1, got: " + v);
            o.compact_given = true;
        } else if (arg == "--gen-key") {
            std::string error;
            const std::string file = value();
            const std::string public_key = generate_manifest_key(file, error);
            if (public_key.empty()) return fail(error);
            std::cout << "quorla-pack: private key written to " << file << " (keep it off the web server)\n"
                      << "public key (build the launcher with -DQUORLA_MANIFEST_PUBLIC_KEY=" << public_key << "):\n"
                      << public_key << "\n";
            return 0;
        } else if (arg == "--gen-update-key") {
            return generate_update_key(value());
        } else if (arg == "--new-shop") {
            if (!shop) shop.emplace();
            shop->folder = value();
        } else if (arg == "--scheme" || arg == "--servers" || arg == "--name" ||
                   arg == "--launcher-url") {
            if (!shop) shop.emplace();
            (arg == "--scheme"    ? shop->scheme
             : arg == "--servers" ? shop->servers
             : arg == "--name"    ? shop->name
                                  : shop->launcher_url) = value();
        } else if (arg == "--serial") {
            const std::string v = value();
            if (v.empty() || v.size() > 19 ||
                v.find_first_not_of("0123456789") != std::string::npos)
                return fail("--serial needs a decimal number, got: " + v);
            o.serial = std::stoull(v);
        } else if (arg == "--allow-subfolders") {
            if (inline_value) return fail(arg + " takes no value");
            o.allow_subfolders = true;
        } else if (arg.rfind("--", 0) == 0) {
            std::cerr << kUsage;
            return fail("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (shop) {
        if (shop->folder.empty())
            return fail("--scheme, --servers, --name and --launcher-url go with --new-shop DIR");
        if (!positional.empty())
            return fail("--new-shop packs nothing; leave out SOURCE_DIR and OUT_DIR");
        return write_new_shop(*shop);
    }
    if (positional.size() != 2) {
        std::cerr << kUsage;
        return fail("expected SOURCE_DIR and OUT_DIR");
    }
    o.source = positional[0];
    o.out = positional[1];
    return run(o);
}
