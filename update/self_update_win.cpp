// Windows: the newer MSI is downloaded into the data folder, checked, and installed quietly by
// msiexec once this launcher has ended, so that the next link runs the new version.
// windows.h first: the others build on it.
#include <windows.h>
// clang-format off
#include <knownfolders.h>
#include <shlobj.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
// clang-format on

#include <memory>

#include "inet/rest.h"
#include "log/log_writer.h"
#include "os/folders.h"
#include "os/platform.h"
#include "os/wide_path.h"
#include "text/text.h"
#include "update/files.h"
#include "update/self_update.h"
#include "update/sha256.h"

namespace {

std::u16string known_folder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::u16string text;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)) && path != nullptr)
        text = reinterpret_cast<const char16_t*>(path);
    CoTaskMemFree(path);
    return text;
}

bool starts_with_folder(const std::u16string& path, const std::u16string& folder) {
    if (folder.empty() || path.size() <= folder.size()) return false;
    return to_lower_ascii(path.substr(0, folder.size())) == to_lower_ascii(folder) &&
           (path[folder.size()] == u'\\' || folder.back() == u'\\');
}

// Whether this user may replace the files of the installed launcher: a per-machine install
// in Program Files needs an administrator, and msiexec /qn cannot ask for one.
bool folder_writable(const std::u16string& folder) {
    const std::u16string probe = folder + u"self-update.probe~";
    HANDLE h = CreateFileW(os::wide(probe), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// The subject of the certificate that signed the file (Authenticode, embedded); empty when
// the file carries no signature.
std::u16string signer_subject(const std::u16string& path) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, os::wide(path),
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                          0, nullptr, nullptr, nullptr, &store, &message, nullptr))
        return {};
    std::u16string subject;
    DWORD size = 0;
    if (CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size > 0) {
        std::vector<unsigned char> buffer(size);
        auto* info = reinterpret_cast<CMSG_SIGNER_INFO*>(buffer.data());
        if (CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, info, &size)) {
            CERT_INFO wanted{};
            wanted.Issuer = info->Issuer;
            wanted.SerialNumber = info->SerialNumber;
            PCCERT_CONTEXT cert =
                CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                           CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
            if (cert != nullptr) {
                const DWORD length = CertNameToStrW(X509_ASN_ENCODING, &cert->pCertInfo->Subject,
                                                    CERT_X500_NAME_STR, nullptr, 0);
                std::vector<wchar_t> name(length + 1);
                CertNameToStrW(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR,
                               name.data(), length);
                subject = reinterpret_cast<const char16_t*>(name.data());
                CertFreeCertificateContext(cert);
            }
        }
    }
    CryptMsgClose(message);
    CertCloseStore(store, 0);
    return subject;
}

// WinVerifyTrust's answer for the file's Authenticode signature (0: trusted).
LONG trust_of(const std::u16string& path) {
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = os::wide(path);
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return status;
}

std::u16string text_of(uint64_t value) {
    return ascii_to_wide(std::to_string(value));
}

bool download_package(const self_update_settings& settings, const launcher_release& release,
                      const std::u16string& target) {
    auto& log = LogWriter::Instance();
    const std::u16string url = settings.release_folder + from_utf8(release.package);
    const std::u16string folder = target.substr(0, target.rfind(u'\\') + 1);
    const int64_t room = space_above_floor(folder);
    if (room >= 0 && static_cast<uint64_t>(room) < release.size) {
        log.Write(
            u"*오류 : 디스크 여유 공간이 부족해 런처를 업데이트하지 않습니다. (url:%s, size:%s, "
            u"floor:%s)",
            url, text_of(release.size), text_of(free_space_floor()));
        return false;
    }
    inet::rest::request_options options;
    options.max_body_bytes = static_cast<int64_t>(release.size);
    const auto response = inet::rest::get_to_file(url, options, target);
    if (response->status != 200) {
        log.Write(u"*오류 : 런처 패키지를 다운로드 하지 못했습니다. (url:%s, status:%d, %s)", url,
                  response->status, to_wide_acp(response->error));
        return false;
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    const uint64_t size =
        GetFileAttributesExW(os::wide(target), GetFileExInfoStandard, &attributes)
            ? (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow
            : 0;
    if (size != release.size) {
        log.Write(u"*오류 : 런처 패키지의 크기가 다릅니다. (url:%s, size:%s, expected:%s)", url,
                  text_of(size), text_of(release.size));
        return false;
    }
    const std::string digest = to_utf8(file_sha256_hex(target));
    if (digest != release.sha256) {
        log.Write(u"*오류 : 런처 패키지의 SHA-256이 다릅니다. (url:%s, sha256:%s, expected:%s)",
                  url, from_utf8(digest), from_utf8(release.sha256));
        return false;
    }
    // A signed launcher accepts only a package its own publisher signed.
    const std::u16string own_signer = signer_subject(os::executable_path());
    if (!own_signer.empty()) {
        const LONG trust = trust_of(target);
        const std::u16string signer = signer_subject(target);
        if (trust != 0 || signer != own_signer) {
            log.Write(
                u"*오류 : 런처 패키지의 서명이 이 런처의 게시자와 다릅니다. (url:%s, signer:%s, "
                u"trust:0x%08x)",
                url, signer, static_cast<uint32_t>(trust));
            return false;
        }
    }
    return true;
}

}  // namespace

const char* launcher_platform() {
    return "windows-x64";
}

self_update_outcome install_launcher_release(const self_update_settings& settings,
                                             const launcher_release& release) {
    auto& log = LogWriter::Instance();
    const std::u16string version = from_utf8(release.version);
    const std::u16string install_folder = os::executable_folder();
    const bool per_user = starts_with_folder(install_folder, known_folder(FOLDERID_LocalAppData));
    if (install_folder.empty() || !folder_writable(install_folder)) {
        log.Write(
            u"* 런처 업데이트 : 새 버전 %s 이(가) 있지만 이 사용자는 설치된 런처(%s)를 바꿀 수 "
            u"없습니다. "
            u"관리자가 설치해야 합니다.",
            version, install_folder);
        return self_update_outcome::left_alone;
    }
    if (settings.download_folder.empty()) return self_update_outcome::failed;
    const std::u16string folder = settings.download_folder + u"launcher-update\\";
    if (const uint32_t error = os::make_folder_levels(folder); error != 0) {
        log.Write(u"*오류 : 런처 패키지 폴더를 만들지 못했습니다. (%s, err:0x%08x)", folder, error);
        return self_update_outcome::failed;
    }
    const std::u16string package = folder + from_utf8(release.package);
    if (!download_package(settings, release, package)) {
        DeleteFileW(os::wide(package));
        return self_update_outcome::failed;
    }

    // msiexec finishes after this launcher has ended, so that the files it replaces are free.
    std::u16string system(MAX_PATH, u'\0');
    system.resize(GetSystemDirectoryW(reinterpret_cast<wchar_t*>(system.data()), MAX_PATH));
    const std::u16string program = system + u"\\msiexec.exe";
    std::u16string command = u"msiexec.exe /i \"" + package + u"\" /qn /l* \"" + folder +
                             u"msiexec.log\" " +
                             (per_user ? u"ALLUSERS=\"\" MSIINSTALLPERUSER=1" : u"ALLUSERS=1");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(os::wide(program), reinterpret_cast<wchar_t*>(command.data()), nullptr,
                        nullptr, FALSE, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr,
                        nullptr, &startup, &process)) {
        log.Write(u"*오류 : 런처 설치 프로그램을 시작하지 못했습니다. (%s, err:0x%08x)", command,
                  static_cast<uint32_t>(GetLastError()));
        return self_update_outcome::failed;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    log.Write(
        u"* 런처 업데이트 : 새 버전 %s 을(를) 설치합니다 (현재 %s). 다음 실행부터 새 버전이 "
        u"실행됩니다. (%s)",
        version, from_utf8(settings.own_version), package);
    return self_update_outcome::started;
}
