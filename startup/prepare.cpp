#include "startup/prepare.h"

#include <algorithm>

#include "inet/allowed_servers.h"
#include "inet/answer_notes.h"
#include "inet/rest.h"
#include "log/log_writer.h"
#include "os/system_error.h"
#include "text/text.h"
#include "text/url.h"

namespace {
constexpr int kDownloadAttempts = 5;
}

bool fetch_to_memory(std::vector<char>& buffer, const std::u16string& url) {
    std::shared_ptr<inet::rest::_response> response;
    for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
        response = inet::rest::get(url, inet::rest::request_options());
        if (response->status == 200) {
            inet::rest::write_answer_notes(inet::rest::answer_notes(url, *response));
            const auto size = static_cast<size_t>(std::max<int32_t>(response->body_size, 0));
            buffer.assign(response->body.begin(),
                          response->body.begin() +
                              static_cast<std::ptrdiff_t>(std::min(size, response->body.size())));
            return true;
        }
        if (inet::rest::proxy_refused(*response)) break;
    }
    const uint32_t error = os::last_system_error();
    LogWriter::Instance().Write(
        u"*오류 : 다운로드 하지 못했습니다. (url:%s, status:%d, err:0x%08x)", url, response->status,
        error);
    LogWriter::Instance().Write(u"     %s", to_wide_acp(response->error));
    inet::rest::write_answer_notes(inet::rest::answer_notes(url, *response));
    return false;
}

bool prepare_execution(std::u16string& key, const std::u16string& arguments,
                       startup_file_xml& startup) {
    std::u16string server;
    if (!parse_invocation_arguments(key, arguments, server)) return false;

    const std::u16string url = compose_request_url(u"field=startup", 2, server, key);
    auto& log = LogWriter::Instance();
    log.Write(u"* 실행준비 시작 ********************");
    log.Write(u"* url: %s\r\n", url);
    if (!inet::server_allowed(url)) {
        log.Write(u"* 오류: 허용되지 않은 서버입니다. (url:%s)", url);
        return false;
    }

    std::vector<char> document;
    if (!fetch_to_memory(document, url)) {
        log.Write(u"* 오류: startup.xml을 다운로드 하지 못했습니다. (url:%s)", url);
        return false;
    }
    if (!startup.load(document.data(), static_cast<int32_t>(document.size()))) {
        log.Write(u"* 오류: startup.xml의 포멧이 올바르지 않습니다. (url:%s)", url);
        if (!startup.refusal.empty()) log.Write(u"%s", startup.refusal);
        return false;
    }
    const std::u16string set_key_url =
        compose_request_url(u"field=result", 2, startup.setkey_url, key);
    startup.internal_calls.emplace_back(u"set_key_url", set_key_url);
    startup.internal_calls.emplace_back(u"set_return_url", startup.return_url);
    startup.internal_calls.emplace_back(u"is_local_execution", u"true");
    return true;
}
