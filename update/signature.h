#pragma once
// Optional signatures of the update manifest: the outer `update` element may carry a
// `signature` attribute, the base64 Ed25519 signature of the exact bytes of its `data` value.
// A launcher built with a manifest public key accepts only manifests whose signature verifies.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using manifest_public_key = std::array<uint8_t, 32>;

enum class signature_check { verified, missing, does_not_verify };

signature_check check_manifest_signature(std::string_view data, std::string_view signature_base64,
                                         const manifest_public_key& key);

// The keys this launcher was built with (QUORLA_MANIFEST_PUBLIC_KEY: the current one and,
// while keys are rotated, the next), or none.
std::vector<manifest_public_key> builtin_manifest_public_keys();
// Reads a raw 32-byte key given as base64; none when it is not one.
std::optional<manifest_public_key> parse_manifest_public_key(std::string_view base64);
// "key;key": every key of the list, or none at all when one of them does not read.
std::vector<manifest_public_key> parse_manifest_public_keys(std::string_view list);
// Tests only: replace the built-in keys (none: signatures are not required).
void set_manifest_public_key_for_tests(std::optional<manifest_public_key> key);
void set_manifest_public_keys_for_tests(std::vector<manifest_public_key> keys);

// For the shop's tool: signs with a PEM Ed25519 private key file; empty on failure with the
// reason in `error`.
std::string sign_manifest_data(std::string_view data, const std::string& private_key_pem_file, std::string& error);
// Makes a key pair: writes the PEM private key file (mode 0600) and returns the public key as
// base64; empty on failure.
std::string generate_manifest_key(const std::string& private_key_pem_file, std::string& error);
