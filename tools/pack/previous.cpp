// Release-aware packing: reads the release a shop served before, decides which of its
// archives the new release keeps, repacks or drops, and writes the new release's archives.
#include "tools/pack/previous.h"

#include <unzip.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "os/posix_path.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/md5.h"
#include "xml/xml.h"

namespace fs = std::filesystem;

namespace {

// Archives of earlier releases one --archive group keeps, its repack counted: releases that
// each change another file would otherwise leave an archive apiece behind.
constexpr size_t kOldArchivesPerGroup = 3;

struct previous_archive {
    std::string name;
    uint64_t size = 0;
    // Each stored file with its bytes in the archive (zip) or its unpacked size (cabinet,
    // whose files are compressed together).
    std::map<std::string, uint64_t> entries;
    std::vector<std::string> listed;  // what the previous manifest lists in it
};

struct previous_listing {
    bool by_version = false;
    std::string value;
};

struct previous_release {
    std::vector<previous_archive> archives;  // in manifest order
    std::map<std::string, previous_listing> listing;
};

bool equal_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool is_cabinet(const std::string& name) {
    return name.size() >= 4 && equal_nocase(std::string_view(name).substr(name.size() - 4), ".cab");
}

bool list_zip(const fs::path& path, std::map<std::string, uint64_t>& entries) {
    unzFile zip = unzOpen64(path.c_str());
    if (zip == nullptr) return false;
    int status = unzGoToFirstFile(zip);
    while (status == UNZ_OK) {
        unz_file_info64 info{};
        char name[4096];
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            break;
        const std::string stored(name);
        // The data and its local and central headers.
        if (!stored.empty() && stored.back() != '/')
            entries[stored] += info.compressed_size + 76 + 2 * stored.size();
        status = unzGoToNextFile(zip);
    }
    unzClose(zip);
    return status == UNZ_END_OF_LIST_OF_FILE;
}

bool list_cab(const fs::path& path, std::map<std::string, uint64_t>& entries) {
    return iterate_cabinet(os::from_native_path(path.string()), [&entries](cab_notification& n) {
        std::string stored = to_utf8(n.stored_name);
        std::replace(stored.begin(), stored.end(), '\\', '/');
        entries[stored] += n.size;
        cab_reply reply;
        reply.what = cab_reply::action::skip;
        return reply;
    });
}

bool is_plain_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

// The previous manifest's list, unscrambled with the key of this packing. Attributes other
// than the ones compared here are left alone: the new manifest is written from the sources.
bool read_previous(const fs::path& dir, const update_key& key, previous_release& prev,
                   std::string& error) {
    const fs::path manifest = dir / "activeupdate.xml";
    std::ifstream in(manifest, std::ios::binary);
    if (!in) {
        error =
            "the previous release folder has no readable activeupdate.xml: " + manifest.string();
        return false;
    }
    std::stringstream bytes;
    bytes << in.rdbuf();
    xml::document outer;
    const xml::element* wrapper =
        outer.parse(from_utf8(bytes.str())) ? outer.find_first(u"update") : nullptr;
    if (wrapper == nullptr || wrapper->attribute(u"data").empty()) {
        error = manifest.string() + " is not an update manifest (no update element with data)";
        return false;
    }
    std::string plain;
    xml::document inner;
    const xml::element* update = nullptr;
    if (unscramble_bytes(to_utf8(wrapper->attribute(u"data")), key, plain) &&
        is_valid_utf8(plain) && plain.find("</update>") != std::string::npos &&
        inner.parse(from_utf8(plain)))
        update = inner.find_first(u"update");
    if (update == nullptr) {
        error = "the previous release in " + dir.string() +
                " was packed with other key material: its activeupdate.xml does not unscramble "
                "with this key (pass the --key-file it was packed with)";
        return false;
    }

    std::map<std::string, size_t> index;
    for (const xml::element* files : update->children()) {
        if (files->is_text() || !equal_nocase(to_utf8(files->name()), "files")) continue;
        const std::string name = to_utf8(files->attribute(u"name"));
        for (const xml::element* file : files->children()) {
            if (file->is_text() || !equal_nocase(to_utf8(file->name()), "file")) continue;
            const std::string path = to_utf8(file->text());
            if (path.empty()) continue;
            if (!is_plain_name(name)) {
                error =
                    "the previous release's activeupdate.xml names an archive that is no plain "
                    "file name: " +
                    name;
                return false;
            }
            if (!index.count(name)) {
                index[name] = prev.archives.size();
                prev.archives.push_back({name, 0, {}, {}});
            }
            prev.archives[index[name]].listed.push_back(path);
            const std::string hash = to_utf8(file->attribute(u"hash"));
            prev.listing[path] = hash.empty()
                                     ? previous_listing{true, to_utf8(file->attribute(u"version"))}
                                     : previous_listing{false, hash};
        }
    }
    if (prev.archives.empty()) {
        error = "the previous release's activeupdate.xml lists no files: " + manifest.string();
        return false;
    }
    for (auto& archive : prev.archives) {
        const fs::path path = dir / archive.name;
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) {
            error = "the previous release in " + dir.string() + " lacks " + archive.name +
                    ", which its activeupdate.xml names";
            return false;
        }
        archive.size = fs::file_size(path, ec);
        if (ec || !(is_cabinet(archive.name) ? list_cab(path, archive.entries)
                                             : list_zip(path, archive.entries))) {
            error = "cannot read " + path.string() + " of the previous release";
            return false;
        }
    }
    return true;
}

// What becomes of one archive of the previous release.
struct old_state {
    bool keep = false, repack = false;
    std::vector<std::string> live;  // its listed files that the new release lists unchanged
    uint64_t live_weight = 0, total_weight = 0;
    std::string group;  // the --archive group of its first live file
};

}  // namespace

bool pack_release(const fs::path& previous, const fs::path& out, const update_key& key,
                  const std::vector<release_file>& files, double compact_share,
                  const archive_writer& write, release_plan& plan, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(previous, ec)) {
        error = "previous release folder not found: " + previous.string();
        return false;
    }
    // The served folder would change under its customers, and kept archives would be copied
    // onto themselves.
    if (fs::equivalent(previous, out, ec)) {
        error = "OUT_DIR must be a folder of its own, not the previous release's: " + out.string();
        return false;
    }
    previous_release prev;
    if (!read_previous(previous, key, prev, error)) return false;
    fs::create_directories(out, ec);
    if (!fs::is_directory(out, ec)) {
        error = "cannot create output folder: " + out.string();
        return false;
    }

    std::map<std::string, const release_file*> now;
    for (const auto& f : files) now[f.path] = &f;
    const auto unchanged = [&](const std::string& path) {
        const auto is = now.find(path);
        const auto was = prev.listing.find(path);
        return is != now.end() && was != prev.listing.end() &&
               is->second->by_version == was->second.by_version &&
               equal_nocase(is->second->value, was->second.value);
    };

    std::vector<old_state> state(prev.archives.size());
    std::set<std::string> claimed;  // files that stay in an archive of the previous release
    for (size_t i = 0; i < prev.archives.size(); ++i) {
        const auto& archive = prev.archives[i];
        auto& s = state[i];
        for (const auto& [stored, weight] : archive.entries) s.total_weight += weight;
        for (const auto& path : archive.listed) {
            const auto entry = archive.entries.find(path);
            if (entry == archive.entries.end() || !unchanged(path) || !claimed.insert(path).second)
                continue;
            s.live.push_back(path);
            s.live_weight += entry->second;
        }
        if (s.live.empty()) continue;  // dropped
        s.group = now.at(s.live.front())->group;
        const double share =
            s.total_weight == 0 ? 1.0 : double(s.live_weight) / double(s.total_weight);
        (share < compact_share ? s.repack : s.keep) = true;
    }

    // Each group keeps its largest old archives; the rest are repacked together.
    std::map<std::string, std::vector<size_t>> kept_of_group;
    std::set<std::string> repacking;
    for (size_t i = 0; i < state.size(); ++i) {
        if (state[i].keep) kept_of_group[state[i].group].push_back(i);
        if (state[i].repack) repacking.insert(state[i].group);
    }
    for (auto& [group, kept] : kept_of_group) {
        if (kept.size() + repacking.count(group) <= kOldArchivesPerGroup) continue;
        std::stable_sort(kept.begin(), kept.end(), [&](size_t a, size_t b) {
            return state[a].live_weight > state[b].live_weight;
        });
        for (size_t k = kOldArchivesPerGroup - 1; k < kept.size(); ++k) {
            state[kept[k]].keep = false;
            state[kept[k]].repack = true;
        }
    }

    // The launcher unpacks the archives it needs, in manifest order, into one folder, so a
    // stale copy that a kept archive still carries must never come after the current one.
    // Kept archives stay in their old order and are listed first; repacked and added
    // archives carry current files only.
    for (bool moved = true; moved;) {
        moved = false;
        std::map<std::string, size_t> home;
        for (size_t i = 0; i < state.size(); ++i)
            if (state[i].keep)
                for (const auto& path : state[i].live) home[path] = i;
        for (size_t i = 0; i < state.size() && !moved; ++i) {
            if (!state[i].keep) continue;
            for (const auto& [stored, weight] : prev.archives[i].entries) {
                const auto h = home.find(stored);
                if (h != home.end() && h->second < i) {
                    state[i].keep = false;
                    state[i].repack = true;
                    moved = true;
                    break;
                }
            }
        }
    }

    plan = release_plan{};
    std::set<std::string> used;  // names the previous folder knows: never given to other bytes
    for (const auto& archive : prev.archives) used.insert(archive.name);
    for (const auto& entry : fs::directory_iterator(previous, ec))
        used.insert(entry.path().filename().string());

    std::map<std::string, size_t> repacked_in;  // live file -> previous archive
    for (size_t i = 0; i < state.size(); ++i) {
        const auto& archive = prev.archives[i];
        if (state[i].repack)
            for (const auto& path : state[i].live) repacked_in[path] = i;
        if (!state[i].keep) {
            if (!state[i].repack) plan.dropped.push_back(archive.name);
            continue;
        }
        const fs::path target = out / archive.name;
        fs::remove(target, ec);
        if (!fs::copy_file(previous / archive.name, target, ec)) {
            error = "cannot copy " + (previous / archive.name).string() + " to " + target.string() +
                    ": " + ec.message();
            return false;
        }
        planned_archive kept;
        kept.name = archive.name;
        kept.files = state[i].live;
        kept.fate = archive_fate::kept;
        kept.size = archive.size;
        kept.live_share = state[i].total_weight == 0
                              ? 1.0
                              : double(state[i].live_weight) / double(state[i].total_weight);
        plan.archives.push_back(std::move(kept));
    }

    // One repacked and one added archive per group, in the order of the groups' first files.
    std::vector<std::string> groups;
    std::map<std::string, planned_archive> repacks, added;
    for (const auto& f : files) {
        if (std::find(groups.begin(), groups.end(), f.group) == groups.end())
            groups.push_back(f.group);
        const auto from = repacked_in.find(f.path);
        if (from != repacked_in.end()) {
            auto& r = repacks[f.group];
            r.fate = archive_fate::repacked;
            r.files.push_back(f.path);
            const std::string& old = prev.archives[from->second].name;
            if (std::find(r.from.begin(), r.from.end(), old) == r.from.end()) r.from.push_back(old);
        } else if (!claimed.count(f.path)) {
            auto& a = added[f.group];
            a.files.push_back(f.path);
            ++(prev.listing.count(f.path) ? a.changed : a.fresh);
        }
    }
    // Written under a name made from their bytes, which the folder has never used.
    const auto make = [&](const std::string& group, planned_archive a) {
        const size_t dot = group.rfind('.');
        const std::string stem =
            dot == std::string::npos || dot == 0 ? group : group.substr(0, dot);
        const std::string extension = dot == std::string::npos || dot == 0 ? "" : group.substr(dot);
        // The writer tells a cabinet by the extension, so the temporary name keeps it.
        const fs::path temporary = out / (".quorla-pack-part-" + group);
        fs::remove(temporary, ec);
        if (!write(temporary, a.files)) {
            fs::remove(temporary, ec);
            error = "cannot write an archive for " + group + " in " + out.string();
            return false;
        }
        const std::string digest = to_utf8(file_md5_hex(os::from_native_path(temporary.string())));
        if (digest.size() != 32) {
            fs::remove(temporary, ec);
            error = "cannot read back " + temporary.string();
            return false;
        }
        a.name = stem + "-" + digest.substr(0, 16) + extension;
        for (int n = 2; used.count(a.name); ++n)
            a.name = stem + "-" + digest.substr(0, 16) + "-" + std::to_string(n) + extension;
        used.insert(a.name);
        fs::rename(temporary, out / a.name, ec);
        if (ec) {
            error = "cannot name " + (out / a.name).string() + ": " + ec.message();
            return false;
        }
        a.size = fs::file_size(out / a.name, ec);
        plan.archives.push_back(std::move(a));
        return true;
    };
    for (const auto& group : groups)
        if (repacks.count(group) && !make(group, repacks[group])) return false;
    for (const auto& group : groups)
        if (added.count(group) && !make(group, added[group])) return false;

    for (const auto& a : plan.archives) {
        plan.install_bytes += a.size;
        if (a.fate == archive_fate::added) plan.update_bytes += a.size;
    }
    return true;
}

std::string describe_release(const release_plan& plan) {
    std::ostringstream text;
    int kept = 0, added = 0, repacked = 0, updates = 0;
    for (const auto& a : plan.archives) {
        text << "  ";
        switch (a.fate) {
            case archive_fate::kept:
                ++kept;
                text << "kept      " << a.name << " (" << a.size << " bytes, "
                     << std::lround(a.live_share * 100) << "% still listed)\n";
                break;
            case archive_fate::added:
                ++added;
                ++updates;
                text << "added     " << a.name << " (" << a.size << " bytes; " << a.changed
                     << " changed, " << a.fresh << " new file(s))\n";
                break;
            case archive_fate::repacked: {
                ++repacked;
                text << "repacked  " << a.name << " (" << a.size << " bytes) from";
                for (const auto& old : a.from) text << " " << old;
                text << "\n";
                break;
            }
        }
    }
    for (const auto& old : plan.dropped)
        text << "  dropped   " << old << " (lists nothing any more)\n";
    std::ostringstream head;
    head << "quorla-pack: against the previous release: " << kept << " archive(s) kept, " << added
         << " added, " << repacked << " repacked, " << plan.dropped.size() << " dropped\n"
         << text.str() << "quorla-pack: a customer who has the previous release downloads "
         << plan.update_bytes << " bytes (" << updates << " archive(s)); a fresh install "
         << plan.install_bytes << " bytes\n";
    return head.str();
}
