// quorla-pack --launcher-release PACKAGE --version X.Y.Z --platform P --sign-key KEY OUT_DIR:
// copies the package into OUT_DIR and writes, or brings up to date, OUT_DIR/launcher.xml,
// the signed list of the newest launcher per platform that installed launchers read.
#include "tools/pack/launcher_release.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "os/posix_path.h"
#include "text/text.h"
#include "update/launcher_release.h"
#include "update/sha256.h"

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message) {
    std::cerr << "quorla-pack: " << message << "\n";
    return 1;
}

struct release_options {
    std::string package, version, platform, sign_key, out;
};

bool parse(int argc, char** argv, release_options& o, std::string& error) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string inline_value;
        bool has_inline = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_value = arg.substr(eq + 1);
            has_inline = true;
            arg.resize(eq);
        }
        std::string* target = arg == "--launcher-release" ? &o.package
                              : arg == "--version"        ? &o.version
                              : arg == "--platform"       ? &o.platform
                              : arg == "--sign-key"       ? &o.sign_key
                                                          : nullptr;
        if (target == nullptr) {
            if (arg.rfind("--", 0) == 0) {
                error = "--launcher-release does not take " + arg;
                return false;
            }
            positional.push_back(arg);
            continue;
        }
        if (!has_inline && i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        *target = has_inline ? inline_value : argv[++i];
        if (target->empty()) {
            error = arg + " needs a value";
            return false;
        }
    }
    if (positional.size() != 1) {
        error = "--launcher-release needs exactly one OUT_DIR";
        return false;
    }
    o.out = positional[0];
    return true;
}

}  // namespace

bool is_launcher_release_command(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--launcher-release" || arg.rfind("--launcher-release=", 0) == 0) return true;
    }
    return false;
}

int launcher_release_main(int argc, char** argv) {
    release_options o;
    std::string error;
    if (!parse(argc, argv, o, error)) return fail(error);
    if (o.version.empty() || o.platform.empty() || o.sign_key.empty())
        return fail("--launcher-release needs --version, --platform and --sign-key");
    if (!parse_launcher_version(o.version))
        return fail("--version must be MAJOR.MINOR.BUILD, got: " + o.version);
    if (o.platform != "windows-x64" && o.platform != "linux-amd64")
        return fail("--platform must be windows-x64 or linux-amd64, got: " + o.platform);
    std::error_code ec;
    const fs::path source(o.package);
    if (!fs::is_regular_file(source, ec)) return fail("package not found: " + o.package);
    launcher_release release;
    release.platform = o.platform;
    release.version = o.version;
    release.package = source.filename().string();
    if (!release_package_name_ok(release.package))
        return fail("package file name must be letters, digits, '.', '_', '+' and '-' only: " +
                    release.package);
    const auto key = public_key_of_private_key_file(o.sign_key, error);
    if (!key) return fail(error);

    const fs::path out(o.out);
    fs::create_directories(out, ec);
    if (!fs::is_directory(out)) return fail("cannot create output folder: " + o.out);
    const fs::path document_path = out / "launcher.xml";

    // The document already published: its other platforms stay as they are, and only one this
    // key signed is carried on (never entries from a document of unknown origin).
    std::vector<launcher_release> releases;
    if (fs::exists(document_path, ec)) {
        std::ifstream in(document_path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> skipped;
        if (read_release_document(text.str(), *key, releases, skipped) !=
            release_document_check::verified)
            return fail(document_path.string() + " is not signed with " + o.sign_key +
                        "; remove it to start a new release document");
        for (const auto& s : skipped)
            std::cerr << "quorla-pack: warning: dropped a malformed entry: " << s << "\n";
    }
    const auto same =
        std::find_if(releases.begin(), releases.end(),
                     [&](const launcher_release& r) { return r.platform == release.platform; });
    if (same != releases.end()) {
        if (*parse_launcher_version(same->version) > *parse_launcher_version(release.version))
            std::cerr << "quorla-pack: warning: " << release.platform << " goes back from "
                      << same->version << " to " << release.version
                      << "; installed launchers of a newer version keep theirs\n";
        releases.erase(same);
    }

    const fs::path copy = out / release.package;
    if (!fs::equivalent(source, copy, ec) &&
        !fs::copy_file(source, copy, fs::copy_options::overwrite_existing, ec))
        return fail("cannot copy " + o.package + " to " + copy.string() + ": " + ec.message());
    release.size = fs::file_size(copy, ec);
    release.sha256 = to_utf8(file_sha256_hex(os::from_native_path(copy.string())));
    if (ec || release.sha256 == "-1") return fail("cannot read " + copy.string());
    releases.push_back(release);
    std::sort(releases.begin(), releases.end(),
              [](const launcher_release& a, const launcher_release& b) {
                  return a.platform < b.platform;
              });

    const std::string data = release_document_data(releases);
    const std::string signature = sign_manifest_data(data, o.sign_key, error);
    if (signature.empty()) return fail(error);
    // Written beside and renamed, so that a server never hands out half a document.
    const fs::path temporary = out / "launcher.xml.tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << release_document_text(data, signature);
        file.close();
        if (!file) return fail("cannot write " + temporary.string());
    }
    fs::rename(temporary, document_path, ec);
    if (ec) return fail("cannot write " + document_path.string() + ": " + ec.message());

    std::cout << "quorla-pack: " << release.platform << " " << release.version << ": "
              << release.package << " (" << release.size << " bytes, sha256 " << release.sha256
              << ") in " << o.out << "\n"
              << "upload " << release.package << " before launcher.xml\n";
    return 0;
}
