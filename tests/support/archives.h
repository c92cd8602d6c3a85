#pragma once
// Archives built at test time: zip archives with raw stored names (any bytes), folder entries,
// attributes and "UT" time stamps, and cabinets made by the gcab command with any stored names.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct zip_entry_spec {
    std::string name;     // stored name bytes, exactly as written (no conversion, no checks)
    std::string data;     // folder entries: leave empty
    bool folder = false;  // sets the DOS folder attribute; give the name a trailing "/"
    bool deflate = true;
    bool utf8_flag = false;            // general purpose bit 11
    uint32_t external_attributes = 0;  // e.g. 0x01 read-only; Unix mode << 16 with made_by_unix
    bool made_by_unix = false;
    // DOS time stamp, local time.
    int year = 2020, month = 6, day = 15, hour = 12, minute = 30, second = 44;
    std::optional<int32_t> ut_modified;  // "UT" extra field (seconds since 1970 UTC)
    std::optional<int32_t> ut_accessed;  // local header only, as zip tools write it
};

// Writes a zip archive with the entries in order; an empty list makes an empty archive.
// False (with a test failure message) when minizip refuses.
bool make_zip(const std::string& path, const std::vector<zip_entry_spec>& entries);

struct cab_entry_spec {
    std::string name;  // stored name bytes, exactly as they end up in the cabinet
    std::string data;
    bool utf8_flag = false;  // the cabinet's "name is UTF-8" attribute
};

// Builds a cabinet with the gcab command (MSZIP-compressed when `compressed`), then writes
// the stored names in place, so names gcab itself would never store (.., \, drive prefixes)
// can be tested. False when gcab fails.
bool make_cab(const std::string& path, const std::vector<cab_entry_spec>& files, bool compressed);

// A UTF-8 path as a file system path (a narrow path on Windows is read in the ANSI code page).
std::filesystem::path utf8_path(const std::string& path);
// Reads a whole file; empty when it cannot be read. Paths are UTF-8.
std::string read_file_bytes(const std::string& path);
bool write_file_bytes(const std::string& path, const std::string& bytes);
