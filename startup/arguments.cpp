#include "startup/arguments.h"

#include "log/log_writer.h"
#include "text/url.h"

bool parse_invocation_arguments(std::u16string& key, const std::u16string& arguments,
                                std::u16string& server) {
    const size_t key_at = arguments.find(u"key=");
    const size_t svr_at = arguments.find(u"svr=");
    if (key_at == std::u16string::npos || svr_at == std::u16string::npos) {
        LogWriter::Instance().Write(
            u"*오류 : 명령 인수값이 올바르지 않습니다. key, svr 값이 없습니다.");
        return false;
    }
    const bool key_leads = key_at < svr_at;
    const size_t lead_at = key_leads ? key_at : svr_at;
    const size_t marker_at = arguments.find(key_leads ? u"&svr=" : u"&key=", lead_at);
    if (marker_at == std::u16string::npos) return false;

    const size_t lead_value = lead_at + 4;
    const std::u16string leading = arguments.substr(lead_value, marker_at - lead_value);
    const std::u16string trailing = arguments.substr(marker_at + 5);
    key = key_leads ? leading : trailing;
    server = url_decode(key_leads ? trailing : leading);
    return true;
}

std::u16string compose_request_url(const std::u16string& parameter, int mode,
                                   const std::u16string& base, const std::u16string& key) {
    std::u16string url = base;
    if (!url.empty() && url.back() == u'/') url.pop_back();
    if (url.find(u'?') == std::u16string::npos) url += u'?';
    const auto ends_open = [&] {
        return !url.empty() && (url.back() == u'&' || url.back() == u'?');
    };
    if (!key.empty()) url += (ends_open() ? u"key=" : u"&key=") + key;
    if (!parameter.empty()) url += (ends_open() ? u"" : u"&") + parameter;
    return url_encode(url, mode);
}
