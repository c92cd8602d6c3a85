#include "result/cart_key.h"

#include <algorithm>
#include <climits>

#include "inet/allowed_servers.h"
#include "inet/answer_notes.h"
#include "inet/rest.h"
#include "log/log_writer.h"
#include "startup/startup_file.h"
#include "text/text.h"
#include "xml/xml.h"

namespace {

constexpr int32_t kSilentAttempts = 11;

// The shop's answer: <response> with a direct <result code="0"> or "0000" child.
bool answer_confirms(const inet::rest::_response& response) {
    if (response.status != 200 || response.body_size < 1) return false;
    const auto size = std::min<size_t>(static_cast<size_t>(response.body_size), response.body.size());
    std::u16string text;
    if (!decode_xml_text(reinterpret_cast<const char*>(response.body.data()), static_cast<int32_t>(size), text))
        return false;
    LogWriter::Instance().Write(u">>");
    LogWriter::Instance().Write(u">%s", text);

    xml::document document;
    if (!document.parse(text)) return false;
    const xml::element* answer = document.find_first(u"response");
    if (answer == nullptr || text.find(u"</response>") == std::u16string::npos) return false;
    for (const xml::element* child : answer->children()) {
        if (!child->is_element() || !equals_nocase(child->name(), u"result")) continue;
        const std::u16string code = child->raw_attribute(u"code");  // the whole value, exactly
        if (code == u"0" || code == u"0000") return true;
    }
    return false;
}

}  // namespace

bool deliver_cart_key(const std::u16string& cart_key_url, host::window* window) {
    if (cart_key_url.empty()) return false;
    if (!inet::server_allowed(cart_key_url)) {
        LogWriter::Instance().Write(u"* 오류: 허용되지 않은 서버입니다. (url:%s)", cart_key_url);
        return false;
    }
    const inet::rest::request_options options;
    // Only the last status is kept between attempts: an answer may be 16 MiB.
    int32_t last_status = -1;
    // What the log adds about the last answer (its final address, the start of an error page).
    std::vector<std::u16string> last_notes;
    for (int32_t failed = 0;;) {
        if (failed >= kSilentAttempts) {
            LogWriter::Instance().Write(u"*오류 : 장바구니 연동키를 전송하는중 오류가 발생였습니다 (url:%s status:%d)",
                                        cart_key_url, last_status);
            inet::rest::write_answer_notes(last_notes);
            const host::box_answer answer =
                window ? window->message_box(u"장바구니 연동중 오류가 발생였습니다. 다시 시도하시겠습니까?", u"질문",
                                             host::box_style::yes_no_exclamation)
                       : host::box_answer::no;
            if (answer != host::box_answer::yes) return false;
        }
        const std::shared_ptr<inet::rest::_response> response = inet::rest::get(cart_key_url, options);
        last_status = response->status;
        last_notes = inet::rest::answer_notes(cart_key_url, *response);
        if (answer_confirms(*response)) {
            inet::rest::write_answer_notes(last_notes);
            return true;
        }
        // Neither another attempt nor the customer's Yes brings the credentials it wants.
        if (inet::rest::proxy_refused(*response)) {
            LogWriter::Instance().Write(
                u"*오류 : 장바구니 연동키를 전송하는중 오류가 발생였습니다 (url:%s status:%d)",
                cart_key_url, last_status);
            inet::rest::write_answer_notes(last_notes);
            return false;
        }
        if (failed == INT32_MAX) return false;
        ++failed;
    }
}
