// Zip extraction over minizip's unzip layer.
#include <unzip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "os/file_io.h"
#include "log/log_writer.h"
#include "os/system_error.h"
#include "os/platform.h"
#include "text/text.h"
#include "update/archive.h"
#include "update/files.h"
#include "update/zip_io.h"

namespace {

// Entries are inflated and written through one buffer of this size per open archive.
constexpr size_t kUnzipBufferSize = 8192000;
constexpr uint16_t kExtendedTimestamp = 0x5455;  // "UT"
constexpr uint32_t kDosReadOnly = 0x01, kDosDirectory = 0x10;
constexpr int kHostUnix = 3;
constexpr uLong kUtf8NameFlag = 1 << 11;  // general purpose bit 11: the name is UTF-8

int32_t s32(const unsigned char* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                uint32_t(p[3]) << 24);
}

// Times from the "UT" extra field: modification, then access and creation when present.
bool timestamps_from_extra(const std::vector<unsigned char>& extra, os::file_times& t) {
    size_t at = 0;
    while (at + 4 <= extra.size()) {
        const uint16_t id = static_cast<uint16_t>(extra[at] | extra[at + 1] << 8);
        const size_t size = static_cast<size_t>(extra[at + 2] | extra[at + 3] << 8);
        at += 4;
        if (size > extra.size() - at) return false;
        if (id == kExtendedTimestamp && size >= 1) {
            const unsigned char flags = extra[at];
            size_t p = 1;
            int64_t* slots[3] = {&t.modified, &t.accessed, &t.created};
            bool* have[3] = {&t.has_modified, &t.has_accessed, &t.has_created};
            for (int k = 0; k < 3; ++k) {
                if (!(flags & (1 << k))) continue;
                if (p + 4 > size) break;  // the central copy carries the modification time only
                *slots[k] = s32(&extra[at + p]);
                *have[k] = true;
                p += 4;
            }
            if (!t.has_modified) {
                t = os::file_times{};
                return false;
            }
            if (!t.has_accessed) t.accessed = t.modified, t.has_accessed = true;
            if (!t.has_created) t.created = t.modified, t.has_created = true;
            return true;
        }
        at += size;
    }
    return false;
}

os::file_times timestamps_from_dos(uLong dos) {
    os::file_times t;
    const unsigned date = static_cast<unsigned>(dos >> 16),
                   time = static_cast<unsigned>(dos & 0xFFFF);
    const int day = date & 0x1F, month = (date >> 5) & 0x0F, year = int(date >> 9) + 1980;
    const int second = (time & 0x1F) * 2, minute = (time >> 5) & 0x3F, hour = time >> 11;
    // An impossible date stamp leaves the file's own times.
    if (day == 0 || month == 0 || month > 12 || hour > 23 || minute > 59 || second > 59) return t;
    t.modified = os::local_time_to_utc(year, month, day, hour, minute, second);
    t.accessed = t.created = t.modified;
    t.has_modified = t.has_accessed = t.has_created = true;
    return t;
}

struct zip_entry {
    std::u16string name;    // decoded, name rules applied
    std::u16string stored;  // decoded, as stored
    bool folder = false;
    os::file_attributes attributes;
    os::file_times times;
    uint64_t size = 0, packed_size = 0;  // as the central directory declares them
};

bool read_entry(unzFile zf, zip_entry& e) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    std::vector<char> name(info.size_filename + 1);
    std::vector<unsigned char> extra(info.size_file_extra);
    if (unzGetCurrentFileInfo64(zf, &info, name.data(), name.size(),
                                extra.empty() ? nullptr : extra.data(), extra.size(), nullptr,
                                0) != UNZ_OK)
        return false;
    e.size = info.uncompressed_size;
    e.packed_size = info.compressed_size;
    e.stored = decode_entry_name(std::string_view(name.data(), info.size_filename),
                                 (info.flag & kUtf8NameFlag) != 0);
    e.name = apply_zip_name_rules(e.stored);
    const uint32_t attrs = static_cast<uint32_t>(info.external_fa);
    e.folder = (!e.stored.empty() && (e.stored.back() == u'/' || e.stored.back() == u'\\')) ||
               (attrs & kDosDirectory);
    e.attributes.read_only = (attrs & kDosReadOnly) != 0;
    if ((info.version >> 8) == kHostUnix && (attrs >> 16) != 0) {
        e.attributes.has_permissions = true;
        e.attributes.permissions = (attrs >> 16) & 0777;
    }
    if (!timestamps_from_extra(extra, e.times)) e.times = timestamps_from_dos(info.dosDate);
    return true;
}

// minizip cannot open an archive whose end record sits at offset 0, which is exactly the
// archive without entries: such a file is recognised here.
bool is_empty_zip(const std::u16string& archive) {
    std::FILE* f = os::open_file(archive, "rb");
    if (!f) return false;
    unsigned char head[22];
    const size_t n = std::fread(head, 1, sizeof head, f);
    long size = -1;
    if (n == sizeof head && std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    std::fclose(f);
    if (n != sizeof head || std::memcmp(head, "PK\x05\x06", 4) != 0) return false;
    for (int i = 4; i < 20; ++i)
        if (head[i] != 0) return false;
    const long comment = head[20] | head[21] << 8;
    return size == 22 + comment;
}

unzFile open_zip(const std::u16string& archive) {
    zlib_filefunc64_def functions;
    fill_zip_file_functions(&functions);
    return unzOpen2_64(archive.c_str(), &functions);
}

class zip_reader {
  public:
    explicit zip_reader(const std::u16string& archive)
        : zf(open_zip(archive)), empty(!zf && is_empty_zip(archive)) {}
    ~zip_reader() {
        if (zf) unzClose(zf);
    }
    unzFile zf;
    bool empty;
    std::vector<unsigned char> buffer;  // allocated at the first unpacked file
};

// Writes the current entry's data into `path`; a failed file is not left behind half written.
bool unpack_file(zip_reader& zip, const zip_entry& e, const std::u16string& path) {
    if (unzOpenCurrentFile(zip.zf) != UNZ_OK) return false;
    os::output_file* out = os::create_output_file(path, e.attributes);
    if (!out) {
        unzCloseCurrentFile(zip.zf);
        return false;
    }
    if (zip.buffer.empty()) zip.buffer.resize(kUnzipBufferSize);
    bool ok = true;
    for (;;) {
        const int n =
            unzReadCurrentFile(zip.zf, zip.buffer.data(), static_cast<unsigned>(zip.buffer.size()));
        if (n == 0) break;
        if (n < 0 || !os::write_output_file(out, zip.buffer.data(), size_t(n))) {
            ok = false;
            break;
        }
    }
    // Closing checks the CRC of what was inflated.
    if (unzCloseCurrentFile(zip.zf) != UNZ_OK) ok = false;
    if (!ok) {
        os::abandon_output_file(out);
        const uint32_t err = os::last_system_error();
        os::remove_file(path);
        os::set_last_system_error(err);
        return false;
    }
    return os::finish_output_file(out, e.times);
}

bool parent_folders(const std::u16string& base, const std::u16string& relative) {
    const size_t cut = relative.rfind(os::path_separator());
    if (cut == std::u16string::npos) return true;
    const std::u16string folder = base + relative.substr(0, cut);
    return os::make_folder_levels(folder) == 0;
}

// Byte and entry counts pass 32 bits; the log's %u does not.
std::u16string number_text(uint64_t value) {
    return from_utf8(std::to_string(value));
}

// One walk over the entries before anything is written. An archive the shop packed passes;
// one built to fill the disk does not: too many entries, entries sharing one block of data
// (each would be unpacked in full), or more unpacked bytes than the volume has above the
// free-space floor. The unpacked size declared per entry bounds what minizip inflates.
bool archive_is_acceptable(zip_reader& zip, uint64_t entries, const std::u16string& filter,
                           const std::u16string& dest) {
    LogWriter& log = LogWriter::Instance();
    if (entries > kMaxArchiveEntries) {
        log.Write(u"Extract Zip refused an archive of %s entries (limit %s)", number_text(entries),
                  number_text(kMaxArchiveEntries));
        return false;
    }
    std::vector<std::tuple<uint64_t, uint64_t, std::u16string>> spans;  // data start, end, name
    spans.reserve(static_cast<size_t>(entries));
    uint64_t unpacked = 0;
    for (uint64_t i = 0; i < entries; ++i) {
        zip_entry e;
        // A record that cannot be read ends the walk; the extraction fails there as before.
        const int moved = i == 0 ? unzGoToFirstFile(zip.zf) : unzGoToNextFile(zip.zf);
        if (moved != UNZ_OK || !read_entry(zip.zf, e)) break;
        if (unzOpenCurrentFile(zip.zf) == UNZ_OK) {
            const uint64_t start = unzGetCurrentFileZStreamPos64(zip.zf);
            unzCloseCurrentFile(zip.zf);
            // Every entry owns at least one byte: its local header stands before its data.
            spans.emplace_back(start, start + std::max<uint64_t>(e.packed_size, 1), e.stored);
        }
        if (!e.folder && (filter.empty() || equals_nocase(e.name, filter)))
            unpacked += (std::max<uint64_t>(e.size, 1) + 4095) / 4096 * 4096;  // whole blocks
    }
    std::sort(spans.begin(), spans.end());
    for (size_t k = 1; k < spans.size(); ++k) {
        if (std::get<0>(spans[k]) < std::get<1>(spans[k - 1])) {
            log.Write(u"Extract Zip refused entries whose data overlap (%s, %s)",
                      std::get<2>(spans[k - 1]), std::get<2>(spans[k]));
            return false;
        }
    }
    const int64_t room = space_above_floor(dest);
    if (room >= 0 && unpacked > static_cast<uint64_t>(room)) {
        log.Write(
            u"Extract Zip refused an archive of %s bytes unpacked: the volume has %s bytes "
            u"above its free-space floor of %s",
            number_text(unpacked), number_text(static_cast<uint64_t>(room)),
            number_text(free_space_floor()));
        return false;
    }
    return true;
}

}  // namespace

int extract_zip(const std::u16string& archive, std::u16string dest, const std::u16string& filter,
                std::u16string new_name) {
    LogWriter& log = LogWriter::Instance();
    if (!file_exists(archive)) {
        log.Write(u"Extract Zip failed to File not found");
        return 0;
    }
    dest = with_trailing_separator(dest);
    if (!folder_exists(dest)) {
        const uint32_t err = os::make_folder_levels(dest);
        if (err != 0 && !os::error_is_already_exists(err)) {
            log.Write(u"Extract Zip failed to SHCreateDirectoryExA");
            os::set_last_system_error(err);
            return 0;
        }
    }
    if (new_name.empty()) new_name = filter;
    if (new_name.size() > kEntryNameLimit) new_name.resize(kEntryNameLimit);

    zip_reader zip(archive);
    if (zip.empty) return folder_exists(dest) ? 1 : 0;
    if (!zip.zf) {
        log.Write(u"Extract Zip failed to OpenZip");
        return 0;
    }
    if (!folder_exists(dest)) {
        log.Write(u"Extract Zip failed to SetUnzipBaseDir");
        return 0;
    }
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip.zf, &global) != UNZ_OK) {
        log.Write(u"Extract Zip failed to GetZipItem");
        return 0;
    }

    if (!archive_is_acceptable(zip, global.number_entry, filter, dest)) {
        os::set_last_system_error(os::error_access_denied());
        return 0;
    }

    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        zip_entry e;
        const int moved = i == 0 ? unzGoToFirstFile(zip.zf) : unzGoToNextFile(zip.zf);
        if (moved != UNZ_OK || !read_entry(zip.zf, e)) {
            log.Write(u"Extract Zip failed to GetZipItem");
            return 0;
        }
        std::u16string name = e.name;
        if (!filter.empty()) {
            if (!equals_nocase(e.name, filter)) continue;
            name = new_name;
        }
        std::u16string relative;
        if (!confine_entry_name(name, relative)) {
            const uint32_t err = os::error_access_denied();
            log.Write(u"Extract Zip failed to UnzipItem");
            log.Write(u"Extract Zip refused entry outside the destination (%s)", e.stored);
            os::set_last_system_error(err);
            return 0;
        }
        const std::u16string target = dest + relative;
        bool ok;
        if (e.folder) {
            ok = relative.empty() || os::make_folder_levels(target) == 0;
        } else {
            ok = !relative.empty() && parent_folders(dest, relative) && unpack_file(zip, e, target);
        }
        if (!ok) {
            const uint32_t err = os::last_system_error();
            log.Write(u"Extract Zip failed to UnzipItem");
            os::set_last_system_error(err);
            return 0;
        }
    }
    return 1;
}
