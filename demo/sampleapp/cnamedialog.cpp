#include "cnamedialog.h"

#include <cstring>
#include <vector>

#include "sampleapp.h"

namespace tarnwick::sampleapp {
namespace {

// Writes a dialog template: DWORD-aligned items, each with its class as an atom.
class CTemplate {
  public:
    void Header(const wchar_t* title, short items, short width, short height) {
        DLGTEMPLATE dialog{};
        dialog.style = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
        dialog.cdit = items;
        dialog.cx = width;
        dialog.cy = height;
        Put(&dialog, sizeof dialog);
        Word(0);  // no menu
        Word(0);  // the dialog class
        Text(title);
        Word(8);  // point size of the font named next
        Text(L"MS Shell Dlg");
    }
    void Item(WORD atom, const wchar_t* text, DWORD style, short id, short x, short y, short cx,
              short cy) {
        Align();
        DLGITEMTEMPLATE item{};
        item.style = WS_CHILD | WS_VISIBLE | style;
        item.x = x;
        item.y = y;
        item.cx = cx;
        item.cy = cy;
        item.id = static_cast<WORD>(id);
        Put(&item, sizeof item);
        Word(0xFFFF);
        Word(atom);
        Text(text);
        Word(0);  // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  private:
    void Put(const void* bytes, size_t size) {
        const size_t at = words_.size();
        words_.resize(at + size / sizeof(WORD));
        std::memcpy(words_.data() + at, bytes, size);
    }
    void Word(WORD value) { words_.push_back(value); }
    void Text(const wchar_t* text) {
        for (; *text != L'\0'; ++text) Word(static_cast<WORD>(*text));
        Word(0);
    }
    void Align() {
        if (words_.size() % 2 != 0) Word(0);
    }
    std::vector<WORD> words_;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;

}  // namespace

std::optional<std::wstring> CNameDialog::Ask(HWND owner) {
    CTemplate dialog;
    dialog.Header(kDialogTitle, 3, 180, 64);
    dialog.Item(kEditAtom, L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, kDialogEditId, 8, 8, 164,
                14);
    dialog.Item(kButtonAtom, L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, 64, 40, 50, 14);
    dialog.Item(kButtonAtom, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, 122, 40, 50, 14);
    std::wstring typed;
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE));
    const INT_PTR answer = DialogBoxIndirectParamW(instance, dialog.Get(), owner, &DialogProc,
                                                   reinterpret_cast<LPARAM>(&typed));
    if (answer != IDOK) return std::nullopt;
    return typed;
}

INT_PTR CALLBACK CNameDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    if (message != WM_COMMAND || (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL)) {
        return FALSE;
    }
    if (LOWORD(wParam) == IDOK) {
        auto* typed = reinterpret_cast<std::wstring*>(GetWindowLongPtrW(dialog, DWLP_USER));
        const HWND edit = GetDlgItem(dialog, kDialogEditId);
        typed->resize(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1);
        typed->resize(static_cast<size_t>(
            GetWindowTextW(edit, typed->data(), static_cast<int>(typed->size()))));
    }
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
}

}  // namespace tarnwick::sampleapp
