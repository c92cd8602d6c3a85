#pragma once
// The launcher brings itself up to date: after a run has returned the customer to the shop
// page, it reads the shop's signed launcher.xml and, when the release for its own platform is
// newer than itself, installs it (Windows: the MSI, quietly, for the next link) or names it
// in the log (Linux: the package manager upgrades the Debian package). Nothing here changes
// the run's own result; every failure is one log line and leaves the installed launcher alone.
#include <string>
#include <vector>

#include "update/launcher_release.h"
#include "update/signature.h"

struct self_update_settings {
    std::u16string release_folder;           // address ending with '/'; empty: self-update is off
    std::vector<manifest_public_key> keys;  // the current and the next; none: self-update is off
    std::string own_version;
    std::string platform;            // this build's entry in launcher.xml
    std::u16string download_folder;  // where a downloaded package is kept, with a separator
};

// This build's: QUORLA_LAUNCHER_UPDATE_URL, the manifest public key, QUORLA_VERSION.
self_update_settings builtin_self_update_settings();
// Settings for this launcher (version, platform, data folder) with the given release folder
// and keys.
self_update_settings self_update_settings_for(std::u16string release_folder,
                                              std::vector<manifest_public_key> keys);

enum class self_update_outcome {
    off,         // not built in
    failed,      // fetch, signature, package or install failed (logged)
    up_to_date,  // no newer release for this platform
    announced,   // a newer release was named in the log (Linux)
    left_alone,  // a newer release this customer cannot install (logged)
    started,     // the installer of a newer release was started
};

self_update_outcome update_launcher(const self_update_settings& settings);

// The platform's half (self_update_posix.cpp, self_update_win.cpp).
const char* launcher_platform();
self_update_outcome install_launcher_release(const self_update_settings& settings,
                                             const launcher_release& release);
