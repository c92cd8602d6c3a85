#include "tools/pack/new_shop.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <random>
#include <sstream>
#include <vector>

#include "update/scramble.h"
#include "update/signature.h"

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message) {
    std::cerr << "quorla-pack: " << message << "\n";
    return 1;
}

// The rules the build checks too (CMakeLists.txt): xdg-open takes a link whose scheme is
// anything else for a file name, and the browser's own schemes are never a shop's.
bool scheme_is_usable(const std::string& scheme) {
    if (scheme.empty() || scheme[0] < 'a' || scheme[0] > 'z') return false;
    for (const char c : scheme)
        if (!((c >= 'a' && c <= 'z') || c == '+' || c == '-' || c == '.')) return false;
    for (const char* own : {"http", "https", "file", "ftp", "mailto"})
        if (scheme == own) return false;
    return true;
}

// A host name, or "*." and a domain; nothing that could end the CMake string it goes into.
bool server_is_usable(const std::string& name) {
    const std::string host = name.rfind("*.", 0) == 0 ? name.substr(2) : name;
    if (host.empty() || host.front() == '.' || host.front() == '-') return false;
    for (const char c : host)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-'))
            return false;
    return true;
}

std::vector<std::string> split_servers(const std::string& text) {
    std::vector<std::string> names;
    std::string name;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ';';
        if (c == ';' || c == ',' || c == ' ' || c == '\t') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name += c;
        }
    }
    return names;
}

// The release folder a profile's launcher can reach: https (the profile takes nothing else),
// a folder ending with '/', on one of the shop's hosts; nothing that could end a CMake string.
std::string launcher_url_problem(const std::string& url, const std::vector<std::string>& servers) {
    const std::string https = "https://";
    if (url.rfind(https, 0) != 0) return "must be an https:// address (the profile takes no other)";
    if (url.find_first_of("\"\\$?# \t\r\n") != std::string::npos)
        return "may not hold quotes, backslashes, '$', '?', '#' or spaces";
    const size_t slash = url.find('/', https.size());
    if (slash == std::string::npos || url.back() != '/')
        return "must be a folder address ending with '/'";
    std::string host = url.substr(https.size(), slash - https.size());
    if (const size_t colon = host.find(':'); colon != std::string::npos) host.resize(colon);
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::string server : servers) {
        for (char& c : server) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (server == host) return "";
        if (server.rfind("*.", 0) == 0 && host.size() > server.size() - 1 &&
            host.compare(host.size() - (server.size() - 1), server.size() - 1, server, 1) == 0)
            return "";
    }
    return "names host '" + host + "', which is not one of --servers (the launcher would refuse it)";
}

// Text for a CMake quoted argument.
std::string cmake_quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\' || c == '$') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Written only when nothing stands there: a profile's keys may already be in customers' hands.
bool write_new_file(const fs::path& path, const std::string& bytes, std::string& error) {
    FILE* out = std::fopen(path.c_str(), "wx");
    if (out == nullptr) {
        error =
            "cannot create " + path.string() + " (it must not exist yet): " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

}  // namespace

std::string fresh_update_key_text() {
    std::random_device random;
    const uint32_t seed = random();
    std::ostringstream text;
    text << "# Update manifest key material shared by the launcher and the shop's packing tool,\n"
            "# made by quorla-pack.\n# data_key_seed (unsigned 32-bit):\n"
         << "data_key_seed = 0x" << std::uppercase << std::hex << std::setfill('0') << std::setw(8)
         << seed << "\n# data_key_table (128 bytes), 16 per line, in order:\n";
    for (int i = 0; i < 128; ++i)
        text << std::setw(2) << (random() & 0xFFu) << (i % 16 == 15 ? "\n" : " ");
    return text.str();
}

int write_new_shop(const new_shop_options& o) {
    if (o.folder.empty()) return fail("--new-shop needs a folder");
    if (!scheme_is_usable(o.scheme))
        return fail(
            "--scheme must be the shop's own link scheme: lower-case letters, '+', '-' or '.', "
            "got: '" +
            o.scheme + "'");
    const std::vector<std::string> servers = split_servers(o.servers);
    if (servers.empty())
        return fail("--servers must name the shop's hosts, e.g. \"shop.example;*.cdn.example\"");
    for (const auto& server : servers)
        if (!server_is_usable(server)) return fail("--servers: not a host name: '" + server + "'");
    if (o.name.find_first_of("\"\\\r\n") != std::string::npos)
        return fail("--name may not hold quotes, backslashes or line breaks");
    if (!o.launcher_url.empty())
        if (const std::string problem = launcher_url_problem(o.launcher_url, servers);
            !problem.empty())
            return fail("--launcher-url " + problem + ", got: '" + o.launcher_url + "'");

    std::error_code ec;
    fs::create_directories(o.folder, ec);
    const fs::path folder = fs::absolute(o.folder, ec);
    if (ec || !fs::is_directory(folder))
        return fail("cannot create the profile folder " + o.folder);
    const fs::path profile = folder / "shop.cmake", signing = folder / "signing-key.pem",
                   update_key_file = folder / "update-key.txt";
    for (const fs::path& path : {profile, signing, update_key_file})
        if (fs::exists(fs::symlink_status(path, ec)))
            return fail(path.string() +
                        " exists already: a profile is made once (its keys may be in use)");

    update_key check;
    const std::string key_text = fresh_update_key_text();
    if (!parse_update_key_file(key_text, check)) return fail("made a key that does not read back");
    std::string error;
    if (!write_new_file(update_key_file, key_text, error)) return fail(error);
    const std::string public_key = generate_manifest_key(signing.string(), error);
    if (public_key.empty()) return fail(error);

    std::string list;
    for (const auto& server : servers) list += (list.empty() ? "" : ";") + server;
    std::ostringstream text;
    text << "# Build profile of the shop" << (o.name.empty() ? "" : " \"" + o.name + "\"")
         << ", made by quorla-pack --new-shop.\n"
            "# A CMake initial cache: cmake -C "
         << profile.string()
         << " -S <source> -B <build>\n"
            "# Packages: make package SHOP="
         << profile.string()
         << "\n"
            "#           make windows-package SHOP="
         << profile.string()
         << "\n"
            "# Pack updates with: quorla-pack --sign-key "
         << signing.string()
         << " ...\n"
            "# Keep signing-key.pem on the machine that packs, never on the web server.\n"
         << "set(QUORLA_SHOP_PROFILE ON CACHE BOOL \"Built from a shop profile\")\n"
         << "set(QUORLA_URL_SCHEME " << cmake_quoted(o.scheme)
         << " CACHE STRING \"Scheme of the shop's links\")\n";
    if (!o.name.empty())
        text << "set(QUORLA_SHOP_NAME " << cmake_quoted(o.name)
             << " CACHE STRING \"The shop's product name\")\n";
    text << "set(QUORLA_ALLOWED_SERVERS " << cmake_quoted(list)
         << " CACHE STRING \"Hosts the launcher may talk to\")\n"
         << "set(QUORLA_MANIFEST_PUBLIC_KEY " << cmake_quoted(public_key)
         << " CACHE STRING \"Public keys manifests must be signed with (current;next)\")\n"
         << "set(QUORLA_UPDATE_KEY_FILE " << cmake_quoted(update_key_file.string())
         << " CACHE FILEPATH \"Manifest key material\")\n"
         << "set(QUORLA_SIGNING_KEY_FILE " << cmake_quoted(signing.string())
         << " CACHE FILEPATH \"The shop's private signing key (read only by packing, never built "
            "in)\")\n"
         << "set(QUORLA_VERIFY_TLS ON CACHE BOOL \"Verify server certificates and host names\")\n"
         << "set(QUORLA_ALLOW_HTTP OFF CACHE BOOL \"Also take plain http addresses\")\n";
    if (!o.launcher_url.empty())
        text << "set(QUORLA_LAUNCHER_UPDATE_URL " << cmake_quoted(o.launcher_url)
             << " CACHE STRING \"Folder of the shop's launcher releases (quorla-pack "
                "--launcher-release)\")\n";
    if (!write_new_file(profile, text.str(), error)) return fail(error);

    std::cout << "quorla-pack: shop profile written to " << folder.string() << "\n"
              << "  shop.cmake       build with: cmake -C " << profile.string() << "\n"
              << "                   packages:   make package SHOP=" << profile.string() << "\n"
              << "                               make windows-package SHOP=" << profile.string()
              << "\n"
              << "  signing-key.pem  private (mode 0600): pack with --sign-key, keep it off the "
                 "web server\n"
              << "  update-key.txt   manifest key material\n"
              << "  public key       " << public_key << "\n";
    return 0;
}
