#include "update/sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "os/file_io.h"

namespace {
struct md_free {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct file_close {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

std::u16string file_sha256_hex(const std::u16string& path) {
    std::unique_ptr<std::FILE, file_close> file(os::open_file(path, "rb"));
    std::unique_ptr<EVP_MD_CTX, md_free> ctx(EVP_MD_CTX_new());
    if (!file || !ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return u"-1";
    std::vector<unsigned char> piece(1 << 20);
    size_t n = 0;
    while ((n = std::fread(piece.data(), 1, piece.size(), file.get())) > 0)
        if (EVP_DigestUpdate(ctx.get(), piece.data(), n) != 1) return u"-1";
    // A folder opens on some systems and then fails to read.
    if (std::ferror(file.get())) return u"-1";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1) return u"-1";
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex.push_back(digits[digest[i] >> 4]);
        hex.push_back(digits[digest[i] & 15]);
    }
    return hex;
}

bool is_sha256_hex(std::u16string_view text) {
    if (text.size() != 64) return false;
    for (const char16_t c : text)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    return true;
}
