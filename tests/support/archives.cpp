#include "tests/support/archives.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/sandbox.h"

namespace {

std::string le16(uint16_t v) {
    return {char(v & 0xFF), char(v >> 8)};
}
std::string le32(uint32_t v) {
    return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

}  // namespace

std::filesystem::path utf8_path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string read_file_bytes(const std::string& path) {
    std::ifstream in(utf8_path(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool write_file_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(utf8_path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool make_zip(const std::string& path, const std::vector<zip_entry_spec>& entries) {
    zipFile zf = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zf) {
        ADD_FAILURE() << "zipOpen64 failed for " << path;
        return false;
    }
    bool ok = true;
    for (const auto& e : entries) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = e.year;
        info.tmz_date.tm_mon = e.month - 1;
        info.tmz_date.tm_mday = e.day;
        info.tmz_date.tm_hour = e.hour;
        info.tmz_date.tm_min = e.minute;
        info.tmz_date.tm_sec = e.second;
        info.external_fa = e.external_attributes | (e.folder ? 0x10 : 0);
        std::string local, central;
        if (e.ut_modified) {
            const bool access = e.ut_accessed.has_value();
            const uint8_t flags = access ? 3 : 1;
            std::string body = std::string(1, char(flags)) + le32(uint32_t(*e.ut_modified));
            central = le16(0x5455) + le16(uint16_t(body.size())) + body;
            if (access) body += le32(uint32_t(*e.ut_accessed));
            local = le16(0x5455) + le16(uint16_t(body.size())) + body;
        }
        const uLong made_by = (e.made_by_unix ? 3u << 8 : 0u) | 20u;
        const uLong flags = e.utf8_flag ? (1u << 11) : 0u;
        if (zipOpenNewFileInZip4_64(
                zf, e.name.c_str(), &info, local.empty() ? nullptr : local.data(),
                uInt(local.size()), central.empty() ? nullptr : central.data(),
                uInt(central.size()), nullptr, e.deflate ? Z_DEFLATED : 0,
                e.deflate ? Z_DEFAULT_COMPRESSION : 0, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                Z_DEFAULT_STRATEGY, nullptr, 0, made_by, flags, 0) != ZIP_OK ||
            (!e.data.empty() &&
             zipWriteInFileInZip(zf, e.data.data(), unsigned(e.data.size())) != ZIP_OK) ||
            zipCloseFileInZip(zf) != ZIP_OK) {
            ADD_FAILURE() << "minizip refused entry " << e.name;
            ok = false;
            break;
        }
    }
    if (zipClose(zf, nullptr) != ZIP_OK) ok = false;
    return ok;
}

bool make_cab(const std::string& path, const std::vector<cab_entry_spec>& files, bool compressed) {
    const std::filesystem::path dir = test_support::make_temporary_folder("quorla-cab");
    // gcab stores file system names; each entry gets a flat placeholder of the stored
    // name's length, replaced by the real bytes afterwards.
    std::vector<std::string> placeholders;
    std::string command = "cd " + shell_quote(test_support::build_machine_path(dir)) + " && gcab -c -n";
    if (compressed) command += " -z";
    command += " " + shell_quote(test_support::build_machine_path(std::filesystem::absolute(path)));
    for (size_t i = 0; i < files.size(); ++i) {
        const size_t len = files[i].name.size();
        std::string p = "Q" + std::to_string(i) + "~";
        if (len == 0 || len > 250 || (len < p.size() && i >= 24)) {
            ADD_FAILURE() << "cabinet entry names must be 1 to 250 bytes: " << files[i].name;
            std::filesystem::remove_all(dir);
            return false;
        }
        if (len < p.size())
            p = std::string(len, char('A' + i));
        else
            p += std::string(len - p.size(), 'z');
        placeholders.push_back(p);
        write_file_bytes((dir / p).string(), files[i].data);
        command += " " + shell_quote(p);
    }
    command += " >/dev/null 2>&1";
    const int rc = test_support::run_build_machine_command(command);
    std::filesystem::remove_all(dir);
    if (rc != 0) {
        ADD_FAILURE() << "gcab failed: " << command;
        return false;
    }
    std::string cab = read_file_bytes(path);
    if (cab.size() < 36) return false;
    const uint32_t files_at = uint8_t(cab[16]) | uint8_t(cab[17]) << 8 | uint8_t(cab[18]) << 16 |
                              uint32_t(uint8_t(cab[19])) << 24;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string key = placeholders[i] + '\0';
        const size_t at = cab.find(key, files_at);
        if (at == std::string::npos || at < 2) {
            ADD_FAILURE() << "placeholder not found in cabinet";
            return false;
        }
        std::memcpy(&cab[at], files[i].name.data(), files[i].name.size());
        if (files[i].utf8_flag)
            cab[at - 2] = char(uint8_t(cab[at - 2]) | 0x80);
        else
            cab[at - 2] = char(uint8_t(cab[at - 2]) & ~0x80);
    }
    return write_file_bytes(path, cab);
}
