#pragma once
// What an install folder remembers about the shop that filled it, in its own bookkeeping file
// `update.state` (beside update.lock; never a listed module file):
//   owner   "key:<base64>" of the manifest key that first verified a manifest for it, or
//           "host:<name>" of the update server, for a launcher without a key;
//   serial  the highest manifest serial a launcher with a key accepted for it.
// A startup document that points a launcher at another shop's folder is refused before any
// download, and an older signed manifest served again (a replay) is refused.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/manifest.h"

struct install_state {
    std::u16string owner;
    std::optional<uint64_t> serial;
};

// The bookkeeping file of an install folder (ending with the separator).
std::u16string install_state_path(const std::u16string& install_folder);
// Nothing (an empty state) when the folder has no readable file yet.
install_state read_install_state(const std::u16string& install_folder);
// Through a temporary file renamed over the old one, so that a killed launcher leaves either.
bool write_install_state(const std::u16string& install_folder, const install_state& state);

// Before any download: false, with a log line, when the folder belongs to another shop than
// this launcher's (its keys) or, without keys, the update server's host.
bool install_folder_is_ours(const std::u16string& install_folder, const std::u16string& update_url);

// After the manifest loaded: a launcher with keys refuses a serial below the one it accepted
// last (log line with both); then the folder's owner and serial are recorded.
bool accept_manifest_for_folder(const std::u16string& install_folder,
                                const std::u16string& update_url, const update_file_xml& manifest);

// A launcher with keys removes the executable images (ELF, PE) in the install folder that
// the verified manifest does not list, before the module is loaded: a library planted there
// would be found first through the module's own run path. Other files stay.
void remove_unlisted_executables(const std::u16string& install_folder,
                                 const std::vector<update_file_entry>& listed);
