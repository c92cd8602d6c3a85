#include "inet/answer_notes.h"

#include <algorithm>

#include "log/log_writer.h"
#include "text/format.h"
#include "text/text.h"

namespace inet::rest {

namespace {

bool is_utf8(std::string_view bytes) {
    return to_utf8(from_utf8(bytes)) == bytes;
}

// At most quoted_body_bytes of the start, never ending inside a UTF-8 character.
std::string_view quoted_start(std::string_view body) {
    if (body.size() <= quoted_body_bytes) return body;
    std::string_view start = body.substr(0, quoted_body_bytes);
    size_t back = 0;
    while (back < 3 && back < start.size() &&
           (static_cast<unsigned char>(start[start.size() - 1 - back]) & 0xC0) == 0x80)
        ++back;
    if (back < start.size() &&
        (static_cast<unsigned char>(start[start.size() - 1 - back]) & 0xC0) == 0xC0)
        start.remove_suffix(back + 1);
    return start;
}

// Control characters other than tabs and line ends show as "?": a binary answer cannot garble
// the log.
std::u16string as_text(std::string_view bytes) {
    std::u16string text = is_utf8(bytes) ? from_utf8(bytes) : to_wide_acp(bytes);
    for (char16_t& c : text)
        if (c < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') c = u'?';
    return text;
}

}  // namespace

std::vector<std::u16string> answer_notes(const std::u16string& url, const _response& response,
                                         std::string_view body, int64_t body_size) {
    std::vector<std::u16string> lines;
    if (!response.final_url.empty() && response.final_url != url)
        lines.push_back(format16(u"*알림 : 요청이 다른 주소에서 끝났습니다. (url:%s, final:%s)",
                                 url, response.final_url));
    // The proxy's own page says no more than this line does, and it is not the shop's answer.
    if (proxy_refused(response)) {
        lines.push_back(format16(u"*오류 : 프록시 서버가 인증을 요구합니다. (proxy:%s, status:%d)",
                                 response.proxy, response.status));
        return lines;
    }
    if (response.status == 200 || response.status == -1 || body_size <= 0 || body.empty())
        return lines;
    const std::string_view start = quoted_start(body);
    lines.push_back(format16(u"*알림 : 서버 응답의 처음 부분입니다. (status:%d, bytes:%s)",
                             response.status, from_utf8(std::to_string(body_size))));
    std::u16string text = u">" + as_text(start);
    const int64_t left = body_size - static_cast<int64_t>(start.size());
    if (left > 0) text += format16(u"[… %s bytes left out]", from_utf8(std::to_string(left)));
    lines.push_back(std::move(text));
    return lines;
}

std::vector<std::u16string> answer_notes(const std::u16string& url, const _response& response) {
    const size_t size = std::min(response.body.size(),
                                 static_cast<size_t>(std::max<int32_t>(0, response.body_size)));
    return answer_notes(url, response,
                        std::string_view(reinterpret_cast<const char*>(response.body.data()), size),
                        static_cast<int64_t>(size));
}

void write_answer_notes(const std::vector<std::u16string>& lines) {
    for (const std::u16string& line : lines) LogWriter::Instance().Write(u"%s", line);
}

}  // namespace inet::rest
