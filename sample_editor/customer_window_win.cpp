#include <windows.h>

#include <cwchar>
#include <vector>

#include "sample_editor/customer_window.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this DLL's own module handle

namespace {

std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// A dialog template in memory (no resource script for one small window): the text, then
// Finish (the default button) and Cancel, in dialog units.
class dialog_template {
public:
    dialog_template(const std::wstring& title, DWORD style, DWORD ex_style, short cx, short cy, WORD items) {
        add_dword(style);
        add_dword(ex_style);
        words_.push_back(items);
        add_box(0, 0, cx, cy);
        words_.push_back(0);  // no menu
        words_.push_back(0);  // the dialog class
        add_text(title);
        words_.push_back(8);  // DS_SETFONT: the dialog font, 8 points
        add_text(L"MS Shell Dlg");
    }
    void add_item(WORD window_class, const std::wstring& text, WORD id, DWORD style, short x, short y, short cx,
                  short cy) {
        if (words_.size() % 2 != 0) words_.push_back(0);  // items start on a DWORD
        add_dword(style | WS_CHILD | WS_VISIBLE);
        add_dword(0);
        add_box(x, y, cx, cy);
        words_.push_back(id);
        words_.push_back(0xFFFF);
        words_.push_back(window_class);
        add_text(text);
        words_.push_back(0);  // no creation data
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void add_dword(DWORD v) {
        words_.push_back(LOWORD(v));
        words_.push_back(HIWORD(v));
    }
    void add_box(short x, short y, short cx, short cy) {
        for (short v : {x, y, cx, cy}) words_.push_back(static_cast<WORD>(v));
    }
    void add_text(const std::wstring& text) {
        words_.insert(words_.end(), text.begin(), text.end());
        words_.push_back(0);
    }
    std::vector<WORD> words_;  // WORD-aligned storage, as the template needs
};

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            // Finish is IDOK; Cancel, Escape and the close box are IDCANCEL.
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wparam) == IDOK ? 1 : 0);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

bool can_show_window(quorla_owner_window owner) { return IsWindow(owner) != FALSE; }

bool customer_finishes(quorla_owner_window owner, const std::string& text) {
    constexpr WORD kButton = 0x0080, kStatic = 0x0082;
    dialog_template t(L"Sample editor",
                      DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                      WS_EX_TOPMOST, 200, 70, 3);
    t.add_item(kStatic, wide(text), 0xFFFF, SS_LEFT, 10, 10, 180, 30);
    t.add_item(kButton, L"&Finish", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 84, 48, 50, 14);
    t.add_item(kButton, L"Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 140, 48, 50, 14);
    // Modal to the launcher's window, which is disabled meanwhile.
    const INT_PTR answer = DialogBoxIndirectParamW(reinterpret_cast<HINSTANCE>(&__ImageBase), t.get(), owner,
                                                   dialog_procedure, 0);
    return answer == 1;
}

std::FILE* open_for_append(const std::string& path) { return _wfopen(wide(path).c_str(), L"ab"); }
