#pragma once
// The shop's signed release document of the launcher itself, launcher.xml, beside the
// packages in the folder QUORLA_LAUNCHER_UPDATE_URL names:
//
//   <launcher data="BASE64" signature="BASE64"></launcher>
//
// `data` is the base64 of a UTF-8 list of releases, one per platform,
//
//   <releases><release platform="windows-x64" version="1.2.3" package="NAME" size="N"
//                      sha256="HEX"/></releases>
//
// and `signature` the Ed25519 signature of the exact `data` text with the shop's manifest key.
// quorla-pack --launcher-release writes it; the launcher reads it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/signature.h"

struct launcher_release {
    std::string platform;  // "windows-x64", "linux-amd64"
    std::string version;   // MAJOR.MINOR.BUILD
    std::string package;   // plain file name in the release folder
    uint64_t size = 0;
    std::string sha256;  // 64 lower-case hexadecimal digits
};

// Largest launcher.xml the launcher reads; the document lists a handful of platforms.
constexpr int64_t max_release_document_bytes = 64 * 1024;

using launcher_version_number = std::array<uint32_t, 3>;
// "MAJOR.MINOR.BUILD" of decimal digits, each below 2^32; none otherwise.
std::optional<launcher_version_number> parse_launcher_version(std::string_view text);
// Letters, digits, '.', '_', '+', '-'; not beginning with '.': safe in an address and as a
// file name on every platform.
bool release_package_name_ok(std::string_view name);
// Every field well formed.
bool launcher_release_ok(const launcher_release& release);

enum class release_document_check { verified, unreadable, not_signed, does_not_verify };
// Reads and verifies a document. `releases` holds the well-formed entries of a verified
// document only; a malformed entry is skipped and named in `skipped`.
release_document_check read_release_document(std::string_view document,
                                             const manifest_public_key& key,
                                             std::vector<launcher_release>& releases,
                                             std::vector<std::string>& skipped);
// The `data` value for `releases` (sign exactly this text), and the document around it.
std::string release_document_data(const std::vector<launcher_release>& releases);
std::string release_document_text(const std::string& data, const std::string& signature);

// The public key of a PEM Ed25519 private key file (the shop's signing key); none on failure
// with the reason in `error`.
std::optional<manifest_public_key> public_key_of_private_key_file(
    const std::string& private_key_pem_file, std::string& error);
