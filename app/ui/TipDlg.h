// The one-time hints: a tip named by a key shows until the user closes it with its "don't show
// again" box ticked; the key is both its text in [TipDlg] and the setting that remembers it.
#pragma once

#include "Resource.h"
#include "wtl/Dialog.h"

#include <string>

class VxTipDlg : public WTL::CDialogImpl<VxTipDlg> {
public:
    enum { IDD = IDD_TIP };

    explicit VxTipDlg(const std::wstring& key);

    // Shows the tip modally over the window that asks (its top-level window; the main frame when
    // null), unless it was dismissed before. The dialog's result, or 0 when it was not shown. The
    // asker, not the frame, is disabled meanwhile, so a frame under another modal dialog stays
    // disabled.
    static int ShowTip(HWND owner, const std::wstring& key);

    BEGIN_MSG_MAP(VxTipDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CLOSE, OnCloseMessage)
    COMMAND_ID_HANDLER(IDOK, OnOk)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    END_MSG_MAP()

    std::wstring text;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCloseMessage(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);
};
