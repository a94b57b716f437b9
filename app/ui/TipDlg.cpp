// The tip dialog and the check that shows each tip until it is dismissed.
#include "TipDlg.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "LanguageTranslator.h"
#include "MsgCenter.h"

#include <common/CodePage.h>

VxTipDlg::VxTipDlg(const std::wstring& key) {
    AppContext* ctx = GetAppContext();
    text = ctx ? ctx->Translator().Text(L"TipDlg", key) : key;
}

int VxTipDlg::ShowTip(HWND owner, const std::wstring& key) {
    AppContext* ctx = GetAppContext();
    if (!ctx || key.empty())
        return 0;
    const std::string setting = ToUtf8CStr(key.c_str());
    if (ctx->Database().GetConfigInt(setting.c_str(), 0) != 0)
        return 0;
    if (!owner)
        owner = ctx->Messages().GetObserverWindow(0);
    // A child view asks through its top-level window: that is the one a modal dialog disables.
    if (owner && ::IsWindow(owner))
        owner = ::GetAncestor(owner, GA_ROOT);
    // Ending a modal dialog enables its owner even when the owner was disabled before, which
    // would free a window that sits under another modal dialog.
    const bool ownerWasDisabled = owner && !::IsWindowEnabled(owner);
    VxTipDlg dlg(key);
    int result = static_cast<int>(dlg.DoModal(owner));
    if (ownerWasDisabled && ::IsWindow(owner))
        ::EnableWindow(owner, FALSE);
    if (result == 1)
        ctx->Database().SetConfig(setting.c_str(), "1");
    return result;
}

LRESULT VxTipDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    if (AppContext* ctx = GetAppContext())
        ctx->Translator().TranslateDialog(m_hWnd, L"TipDlg");
    ::SetDlgItemTextW(m_hWnd, IDC_TIP_TEXT, text.c_str());
    ::CheckDlgButton(m_hWnd, IDC_TIP_NO_MORE, BST_CHECKED);
    ::SetFocus(GetDlgItem(IDOK));
    return FALSE;  // the focus is set
}

LRESULT VxTipDlg::OnCloseMessage(UINT, WPARAM, LPARAM, BOOL&) {
    EndDialog(2);
    return 0;
}

LRESULT VxTipDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    EndDialog(::IsDlgButtonChecked(m_hWnd, IDC_TIP_NO_MORE) == BST_CHECKED ? 1 : 2);
    return 0;
}

LRESULT VxTipDlg::OnCancel(WORD, WORD, HWND, BOOL&) {
    EndDialog(2);
    return 0;
}
