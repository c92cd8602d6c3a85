#include "update/fuzz_checks.h"

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "os/file_io.h"
#include "log/log_writer.h"
#include "os/platform.h"
#include "update/archive.h"
#include "update/files.h"
#include "update/pe_version.h"

bool check_zip_name(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string name = decode_entry_name(bytes);
    if (name.size() > kEntryNameLimit) return false;
    const std::u16string ruled = apply_zip_name_rules(name);
    // The rules reach a point where none applies.
    if (apply_zip_name_rules(ruled) != ruled) return false;
    if (!ruled.empty() && (ruled[0] == u'/' || ruled[0] == u'\\')) return false;
    if (ruled.size() >= 2 && ruled[1] == u':') return false;
    for (const std::u16string& candidate : {name, ruled}) {
        std::u16string relative;
        if (!confine_entry_name(candidate, relative) || relative.empty()) continue;
        size_t start = 0;
        for (size_t i = 0; i <= relative.size(); ++i) {
            if (i < relative.size() && relative[i] != os::path_separator()) continue;
            const std::u16string_view part(relative.data() + start, i - start);
            if (part.empty() || part == u"." || part == u"..") return false;
            start = i + 1;
        }
    }
    return true;
}

bool check_pe_version(const uint8_t* data, size_t size) {
    uint32_t ms = 0, ls = 0;
    bool ok = true;
    pe_fixed_file_version(
        [&](uint64_t offset, void* out, size_t n) {
            if (n > 4096) ok = false;
            if (offset > size || n > size - offset) return false;
            std::memcpy(out, data + offset, n);
            return true;
        },
        ms, ls);
    pe_version_text_from_memory(data, size);
    return ok;
}

namespace {

bool only_names(const std::u16string& folder, std::vector<std::u16string> allowed) {
    std::vector<os::folder_entry> entries;
    if (!os::list_folder(folder, entries)) return true;  // nothing there
    allowed.push_back(u".");
    allowed.push_back(u"..");
    for (const auto& e : entries) {
        bool found = false;
        for (const auto& a : allowed) found = found || e.name == a;
        if (!found) return false;
    }
    return true;
}

}  // namespace

bool check_archive_open(const uint8_t* data, size_t size) {
    static const struct workspace {
        workspace() {
            // A new folder of this process's own under the temporary folder.
            std::random_device random;
            std::filesystem::path folder;
            do {
                folder = std::filesystem::temp_directory_path() /
                         ("quorla-archive-fuzz-" + std::to_string(random()));
            } while (!std::filesystem::create_directory(folder));
            // The log beside the work folder, whose names the checks count.
            base = folder.u16string() + os::path_separator();
            LogWriter::Instance().SetPath(base + u"fuzz.log");
            root = base + u"work" + os::path_separator();
            create_folder(root);
        }
        ~workspace() { delete_folder_tree(base, true); }
        std::u16string base, root;
    } ws;
    const std::u16string& root = ws.root;
    const char16_t sep = os::path_separator();
    const std::u16string archive = root + u"in.bin", dest = root + u"dest" + sep + u"sub" + sep;
    std::FILE* f = os::open_file(archive, "wb");
    if (!f) abort();
    if (size && std::fwrite(data, 1, size, f) != size) abort();
    std::fclose(f);
    bool ok = true;
    extract_zip(archive, dest, u"", u"");
    ok = ok && only_names(root, {u"in.bin", u"dest"}) && only_names(root + u"dest", {u"sub"});
    delete_folder_tree(root + u"dest", true);
    create_folder(dest);
    extract_cab(archive, dest, u"", u"");
    ok = ok && only_names(root, {u"in.bin", u"dest"}) && only_names(root + u"dest", {u"sub"});
    delete_folder_tree(root + u"dest", true);
    return ok;
}
