// trust_certificate CERT.der: adds a certificate to the machine's trusted root certificates
// (the local machine's "Root" system store), as an administrator does for a shop's own
// certificate authority. The installer test runs it only in its own wine prefix, so that the
// installed launcher verifies the test shop's certificate the way it verifies any other: against
// the Windows certificate store. Exit status 0 when the certificate is in the store (added now
// or already there).
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 2) {
        std::fputs("usage: trust_certificate CERT.der\n", stderr);
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "trust_certificate: cannot open the certificate: 0x%08lx\n",
                     GetLastError());
        return 1;
    }
    std::vector<BYTE> der(64 * 1024);
    DWORD size = 0;
    const BOOL read = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &size, nullptr);
    CloseHandle(file);
    if (!read || size == 0 || size == der.size()) {
        std::fputs("trust_certificate: cannot read the certificate (DER, under 64 KiB)\n", stderr);
        return 1;
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        std::fprintf(stderr, "trust_certificate: cannot open the Root store: 0x%08lx\n",
                     GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "trust_certificate: the certificate was not added: 0x%08lx\n", error);
        return 1;
    }
    return 0;
}
