#pragma once
// quorla-pack --new-shop: a shop's build profile. One folder holds everything a shop's own
// launcher is built from: shop.cmake (a CMake initial cache: `cmake -C DIR/shop.cmake`), the
// private signing key and the manifest key material.
#include <string>

struct new_shop_options {
    std::string folder;
    std::string scheme;
    std::string servers;       // "host;*.cdn.host"
    std::string name;          // optional product name
    std::string launcher_url;  // optional: the folder of the shop's launcher releases
};

// Writes the profile; 0 on success, else 1 with the reason on standard error.
int write_new_shop(const new_shop_options& options);

// Fresh random manifest key material in the format of res/update-key.txt.
std::string fresh_update_key_text();
