#pragma once
// What this build trusts, in one place: the servers it may talk to, whether it takes plain
// http, whether certificates are verified (and which extra authority signs them), the keys
// manifests must be signed with, and whether it is an open demo package. trust_settings.cpp
// holds the build's own values (quorla_config.h), in a source of its own, so that a test
// launcher links its own definition instead (tests/e2e/profile_test_settings.cpp).
#include <string>

namespace inet {

struct trust_settings {
    bool verify_tls = false;
    bool https_only = false;
    std::string allowed_servers;       // "host;*.cdn.host"; empty allows any
    std::string manifest_public_keys;  // "key;key" (base64); empty requires no signature
    bool insecure_package = false;
    // A test launcher's own certificate authority (a PEM file): its servers' certificates are
    // checked against it instead of the system's. Only a test launcher's settings name one;
    // the build's own never do, and no build option sets it.
    std::u16string extra_ca_file;
};

// This process's settings, read once.
const trust_settings& builtin_trust_settings();

}  // namespace inet
