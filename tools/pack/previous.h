#pragma once
// Release-aware packing (quorla-pack --previous): a release is packed against the folder the
// shop served for the one before, so that a customer who has that release downloads only the
// archives that carry changed or new files. The launcher fetches every archive that holds a
// stale file, so those archives hold nothing else; every other archive of the previous
// release is copied byte for byte under its old name. Archives made here get names derived
// from their bytes, so no name ever stands for two contents on a server, proxy or cache.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "update/scramble.h"

// One file of the new release: its path, the archive its --archive rule names, and how the
// manifest lists it.
struct release_file {
    std::string path;
    std::string group;
    bool by_version = false;  // listed by file version, else by MD5 digest
    std::string value;        // the digest or the version
};

enum class archive_fate { kept, repacked, added };

struct planned_archive {
    std::string name;
    std::vector<std::string> files;  // what the new manifest lists in it
    archive_fate fate = archive_fate::added;
    std::vector<std::string> from;  // repacked: the previous archives its files came from
    uint64_t size = 0;
    double live_share = 1;       // kept: the share of its bytes still listed
    int changed = 0, fresh = 0;  // added: changed and new files
};

struct release_plan {
    std::vector<planned_archive> archives;  // in manifest order, oldest first
    std::vector<std::string> dropped;       // previous archives that list nothing any more
    uint64_t update_bytes = 0;   // what a customer who has the previous release downloads
    uint64_t install_bytes = 0;  // what a fresh install downloads
};

// Writes an archive (a zip or a cabinet, by the name's extension) of these source files.
using archive_writer = std::function<bool(const std::filesystem::path& archive,
                                          const std::vector<std::string>& files)>;

// Reads the previous release in `previous` with `key`, writes every archive of the new one into
// `out` (kept ones copied, the others written with `write`) and says what it did in `plan`.
// An archive whose still-listed share of bytes is below `compact_share` is repacked. False with
// the reason in `error` when the previous folder cannot be used or an archive not written.
bool pack_release(const std::filesystem::path& previous, const std::filesystem::path& out,
                  const update_key& key, const std::vector<release_file>& files,
                  double compact_share, const archive_writer& write, release_plan& plan,
                  std::string& error);

// The lines quorla-pack prints about a release packed against the previous one.
std::string describe_release(const release_plan& plan);
