// The job sequence: preparation, module update, editor, edit result, cart key, return page.
#include "app/launcher_dlg.h"
#include "app/return_page.h"
#include "log/log_writer.h"
#include "module/module_host.h"
#include "result/cart_key.h"
#include "result/edit_result.h"
#include "startup/prepare.h"
#include "update/procedure.h"
#include "update/self_update.h"

namespace {
const char16_t kOrderFromTheShop[] = u"사이트에서 상품을 주문하실수 있습니다.";
}

int CQuorlaLauncherDlg::RunJob(int prepareOnly) {
    auto& log = LogWriter::Instance();
    std::u16string command_line = m_commandLine;
    if (command_line.empty()) {
        log.Write(u"*오류 : 실행에 관련된 정보가 정상적으로 설정되어있지 않습니다.");
        m_host.message_box(kOrderFromTheShop, u"", host::box_style::ok_exclamation);
        return 0;
    }
    if (command_line.back() == u'"') command_line.pop_back();

    const size_t scheme_end = command_line.find(u"://");
    const std::u16string arguments =
        scheme_end == std::u16string::npos ? std::u16string() : command_line.substr(scheme_end + 3);
    if (arguments.empty()) {
        log.Write(u"*오류 : 프로토콜 문자열을 찾지 못했습니다.");
        m_host.message_box(kOrderFromTheShop, u"", host::box_style::ok_exclamation);
        return 0;
    }

    if (m_workKey.empty() && !prepare_execution(m_workKey, arguments, m_startup)) {
        log.Write(u"*오류 : 명령 인수값이 올바르지 않습니다. (%s)", arguments);
        return 0;
    }
    if (prepareOnly == 1) return 1;

    if (!update_module(this, m_startup, m_moduleFile)) {
        log.Write(u"*오류 : 모듈 업데이트에 실패 했습니다.");
        return 0;
    }

    std::u16string edit_result;
    if (!run_editor_module(this, m_startup, m_moduleFile, edit_result)) return 0;

    std::u16string return_url, cart_key_url;
    if (!process_edit_result(return_url, arguments, m_startup, edit_result, cart_key_url)) {
        log.Write(u"*오류 : 편집 결과 처리에 실패 했습니다.");
        return 0;
    }

    deliver_cart_key(cart_key_url, this);
    open_return_page(return_url, m_startup.agent, m_startup.agent_type);
    // Only now, so that the customer never waits for it; whatever it finds, the run succeeded.
    update_launcher(builtin_self_update_settings());
    return 1;
}
