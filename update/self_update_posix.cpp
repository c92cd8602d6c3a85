// Linux: the Debian package belongs to the package manager, so a newer release is only named.
#include "log/log_writer.h"
#include "text/text.h"
#include "update/self_update.h"

const char* launcher_platform() {
    return "linux-amd64";
}

self_update_outcome install_launcher_release(const self_update_settings& settings,
                                             const launcher_release& release) {
    LogWriter::Instance().Write(
        u"* 런처 업데이트 : 새 버전 %s 이(가) 있습니다 (현재 %s). 패키지 관리자나 상점 페이지에서 "
        u"설치하십시오.",
        from_utf8(release.version), from_utf8(settings.own_version));
    return self_update_outcome::announced;
}
