#include "update/self_update.h"

#include "inet/allowed_servers.h"
#include "inet/rest.h"
#include "log/log_writer.h"
#include "os/folders.h"
#include "os/platform.h"
#include "text/text.h"
#include "update/launcher_identity.h"

self_update_settings self_update_settings_for(std::u16string release_folder,
                                              std::vector<manifest_public_key> keys) {
    self_update_settings s;
    s.release_folder = std::move(release_folder);
    s.keys = std::move(keys);
    s.own_version = launcher_version();
    s.platform = launcher_platform();
    const std::u16string data = os::data_folder();
    if (!data.empty())
        s.download_folder = data + os::path_separator() + u"QuorlaLauncher" + os::path_separator();
    return s;
}

self_update_outcome update_launcher(const self_update_settings& settings) {
    // A launcher without a key never installs anything it downloaded.
    if (settings.release_folder.empty() || settings.keys.empty()) return self_update_outcome::off;
    auto& log = LogWriter::Instance();
    const std::u16string address = settings.release_folder + u"launcher.xml";
    // The rules of every other address: the allowed servers, and https only in a profile
    // build. The packages lie in the same folder (their names are plain file names), so this
    // one check covers them; redirects are held to the same rules by the request itself.
    if (!inet::server_allowed(address)) {
        log.Write(u"*오류 : 허용되지 않은 서버의 런처 릴리스 문서는 받지 않습니다. (url:%s)",
                  address);
        return self_update_outcome::failed;
    }
    inet::rest::request_options options;
    options.max_body_bytes = max_release_document_bytes;
    const auto response = inet::rest::get(address, options);
    if (response->status != 200) {
        log.Write(u"*오류 : 런처 릴리스 문서를 받지 못했습니다. (url:%s, status:%d, %s)", address,
                  response->status, to_wide_acp(response->error));
        return self_update_outcome::failed;
    }
    const std::string_view text(reinterpret_cast<const char*>(response->body.data()),
                                static_cast<size_t>(response->body_size));
    std::vector<launcher_release> releases;
    std::vector<std::string> skipped;
    // Signed by the current key or, while keys are rotated, by the next one.
    release_document_check check = release_document_check::does_not_verify;
    for (const manifest_public_key& key : settings.keys) {
        releases.clear();
        skipped.clear();
        check = read_release_document(text, key, releases, skipped);
        if (check != release_document_check::does_not_verify) break;
    }
    if (check != release_document_check::verified) {
        const char16_t* why = check == release_document_check::unreadable ? u"unreadable"
                              : check == release_document_check::not_signed
                                  ? u"not signed"
                                  : u"signature does not verify";
        log.Write(u"*오류 : 런처 릴리스 문서를 신뢰할 수 없어 무시합니다. (url:%s, %s)", address,
                  why);
        return self_update_outcome::failed;
    }
    for (const std::string& entry : skipped)
        log.Write(u"*경고 : 런처 릴리스 항목이 올바르지 않아 건너뜁니다. (%s)", from_utf8(entry));

    const auto own = parse_launcher_version(settings.own_version);
    for (const launcher_release& release : releases) {
        if (release.platform != settings.platform) continue;
        if (!own || *parse_launcher_version(release.version) <= *own)
            return self_update_outcome::up_to_date;
        return install_launcher_release(settings, release);
    }
    return self_update_outcome::up_to_date;
}
