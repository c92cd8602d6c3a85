#include "result/edit_result.h"

#include <json/json.h>

#include <memory>

#include "log/log_writer.h"
#include "startup/arguments.h"
#include "startup/startup_file.h"
#include "text/text.h"
#include "text/url.h"

namespace {

bool parse_json(const std::string& text, Json::Value& root) {
    // The reader's default mode: comments allowed, any value as the root. The builder's
    // defaults go further (trailing commas, a leading byte-order mark); the default mode
    // refuses both.
    Json::CharReaderBuilder builder;
    builder["allowTrailingCommas"] = false;
    builder["skipBom"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    } catch (const std::exception&) {
        return false;
    }
}

std::u16string with_query(const std::u16string& base, const std::u16string& query) {
    return compose_request_url(query, 0, url_encode(base, 2), u"");
}

}  // namespace

bool process_edit_result(std::u16string& return_url, const std::u16string& arguments,
                         const startup_file_xml& startup, const std::u16string& result_text,
                         std::u16string& cart_key_url) {
    auto& log = LogWriter::Instance();
    if (result_text.empty()) {
        log.Write(u"*오류 : 편집 결과에 JSON정보가 없습니다.");
        return false;
    }
    std::u16string key, server;
    parse_invocation_arguments(key, arguments, server);

    Json::Value root;
    if (!parse_json(to_narrow_acp(result_text), root)) {
        log.Write(u"*오류 : 편집 결과 JSON파싱에 실패 했습니다. (json:%s)", result_text);
        return false;
    }
    // A null root reads as an object without members; any other non-object has no members to
    // read, which would make the reader throw.
    if (!root.isNull() && !root.isObject()) {
        log.Write(u"*오류 : 편집 결과 JSON의 최상위 값이 객체가 아닙니다. (json:%s)", result_text);
        return false;
    }

    std::u16string exit_code = u"0";
    if (root.isMember("exit_code")) {
        const Json::Value& value = root["exit_code"];
        if (!value.isString()) {
            log.Write(u"*오류 : 편집 결과 JSON의 exit_code 값이 문자열이 아닙니다. (json:%s)", result_text);
            return false;
        }
        exit_code = to_wide_acp(value.asString());
    }

    if (!root.isMember("uploaded_list") || !(root["uploaded_list"].isArray() || root["uploaded_list"].isObject()) ||
        root["uploaded_list"].empty()) {
        log.Write(u"*알림 : 편집결과 JSON정보에 업로드 목록이 없습니다.");
        return false;
    }

    if (root.isMember("off_return_url")) {
        const Json::Value& value = root["off_return_url"];
        if (!(value.isNull() || value.isBool() || value.isNumeric())) {
            log.Write(u"*오류 : 편집 결과 JSON의 off_return_url 값이 올바르지 않습니다. (json:%s)", result_text);
            return false;
        }
        if (value.asBool()) {
            log.Write(u"*알림 : 편집결과 JSON정보에 장바구니 호출을 하지 않도록 설정했습니다.");
            return false;
        }
    }

    const std::u16string result_service = compose_request_url(u"field=result", 0, server, key);
    std::u16string query = u"exit_code=" + exit_code + u"&keyresult=";
    url_encode_component(query, result_service);

    return_url = startup.return_url.empty() ? std::u16string() : with_query(startup.return_url, query);
    cart_key_url = startup.return2_url.empty() ? std::u16string() : with_query(startup.return2_url, query);
    return true;
}
