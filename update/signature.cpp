#include "update/signature.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>

#include "inet/trust_settings.h"
#include "os/file_io.h"
#include "text/text.h"
#include "update/scramble.h"

namespace {

std::vector<manifest_public_key>& override_keys() {
    static std::vector<manifest_public_key> keys;
    return keys;
}
bool& overridden() {
    static bool flag = false;
    return flag;
}

struct pkey_free {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct md_free {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

std::optional<manifest_public_key> parse_manifest_public_key(std::string_view base64) {
    const std::vector<uint8_t> raw = base64_decode(base64);
    if (raw.size() != 32) return std::nullopt;
    manifest_public_key key{};
    std::copy(raw.begin(), raw.end(), key.begin());
    return key;
}

std::vector<manifest_public_key> parse_manifest_public_keys(std::string_view list) {
    std::vector<manifest_public_key> keys;
    size_t at = 0;
    while (at <= list.size()) {
        size_t end = list.find(';', at);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view text = list.substr(at, end - at);
        at = end + 1;
        if (text.empty()) continue;
        const auto key = parse_manifest_public_key(text);
        // A key that does not read must never leave fewer keys in force than were meant.
        if (!key) return {};
        keys.push_back(*key);
    }
    return keys;
}

std::vector<manifest_public_key> builtin_manifest_public_keys() {
    if (overridden()) return override_keys();
    static const std::vector<manifest_public_key> keys =
        parse_manifest_public_keys(inet::builtin_trust_settings().manifest_public_keys);
    return keys;
}

void set_manifest_public_keys_for_tests(std::vector<manifest_public_key> keys) {
    overridden() = true;
    override_keys() = std::move(keys);
}

void set_manifest_public_key_for_tests(std::optional<manifest_public_key> key) {
    set_manifest_public_keys_for_tests(key ? std::vector<manifest_public_key>{*key}
                                           : std::vector<manifest_public_key>{});
}

signature_check check_manifest_signature(std::string_view data, std::string_view signature_base64,
                                         const manifest_public_key& key) {
    if (signature_base64.empty()) return signature_check::missing;
    const std::vector<uint8_t> signature = base64_decode(signature_base64);
    if (signature.size() != 64) return signature_check::does_not_verify;
    std::unique_ptr<EVP_PKEY, pkey_free> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    std::unique_ptr<EVP_MD_CTX, md_free> ctx(EVP_MD_CTX_new());
    if (!pkey || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return signature_check::does_not_verify;
    const int ok = EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                                    reinterpret_cast<const unsigned char*>(data.data()), data.size());
    return ok == 1 ? signature_check::verified : signature_check::does_not_verify;
}

std::string sign_manifest_data(std::string_view data, const std::string& private_key_pem_file, std::string& error) {
    FILE* file = os::open_file(from_utf8(private_key_pem_file), "r");
    if (file == nullptr) {
        error = "cannot read " + private_key_pem_file;
        return {};
    }
    std::unique_ptr<EVP_PKEY, pkey_free> pkey(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    if (!pkey || EVP_PKEY_id(pkey.get()) != EVP_PKEY_ED25519) {
        error = private_key_pem_file + " is not a PEM Ed25519 private key";
        return {};
    }
    std::unique_ptr<EVP_MD_CTX, md_free> ctx(EVP_MD_CTX_new());
    unsigned char signature[64];
    size_t size = sizeof signature;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature, &size, reinterpret_cast<const unsigned char*>(data.data()),
                       data.size()) != 1) {
        error = "signing failed";
        return {};
    }
    return base64_encode(signature, size);
}

std::string generate_manifest_key(const std::string& private_key_pem_file, std::string& error) {
    std::unique_ptr<EVP_PKEY, pkey_free> pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!pkey) {
        error = "cannot make an Ed25519 key";
        return {};
    }
    FILE* file = os::create_private_file(from_utf8(private_key_pem_file));
    if (file == nullptr) {
        error = "cannot create " + private_key_pem_file + " (it must not exist yet)";
        return {};
    }
    const bool written = PEM_write_PrivateKey(file, pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write " + private_key_pem_file;
        return {};
    }
    unsigned char raw[32];
    size_t size = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(pkey.get(), raw, &size) != 1 || size != 32) {
        error = "cannot read the public key";
        return {};
    }
    return base64_encode(raw, size);
}
