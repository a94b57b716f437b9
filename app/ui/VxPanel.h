// The strip at the top of the main window: the toolbar and the address/keyword box with its button.
// Enter or the button sends command 1003 to the main window; other parts fill the box through the
// bus (set_input_text). The panel also draws its popup menus (the favourites drop-down).
#pragma once

#include "Resource.h"
#include "VxMsg.h"
#include "wtl/CoolMenu.h"
#include "wtl/WindowImpl.h"

#include <commctrl.h>

#include <string>

class msg_set_input_text;

class VxInputBox : public WTL::CWindowImpl<VxInputBox> {
public:
    DECLARE_WND_SUPERCLASS(L"Vx.InputBox", L"EDIT")

    std::wstring GetText() const;

    std::wstring cueText;

    BEGIN_MSG_MAP(VxInputBox)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_KEYDOWN, OnKeyDown)
    MESSAGE_HANDLER(WM_CHAR, OnChar)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnButtonDown)
    MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnButtonDown)
    END_MSG_MAP()

private:
    bool ShowsCue() const;
    LRESULT OnPaint(UINT, WPARAM, LPARAM, BOOL& handled);
    LRESULT OnKeyDown(UINT, WPARAM key, LPARAM, BOOL& handled);
    LRESULT OnChar(UINT, WPARAM key, LPARAM, BOOL& handled);
    LRESULT OnMouseMove(UINT, WPARAM flags, LPARAM, BOOL& handled);
    LRESULT OnButtonDown(UINT, WPARAM, LPARAM, BOOL& handled);
};

class VxPanel : public WTL::CWindowImpl<VxPanel>, public VxMsgObserver, public WTL::CCoolContextMenu<VxPanel> {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Panel", CS_HREDRAW | CS_VREDRAW, COLOR_BTNFACE)

    enum : BYTE { kHot = 1, kAddressMode = 2 };

    VxPanel();
    ~VxPanel() override;

    int GetMenuItemImage(HMENU menu, UINT pos, const MENUITEMINFOW& info);
    void OnSetInputText(msg_set_input_text* msg);

    HIMAGELIST smallImages = nullptr;
    HIMAGELIST toolbarImages = nullptr;
    HWND toolbar = nullptr;
    VxInputBox inputBox;
    WTL::CContainedWindow goButton;
    BYTE buttonFlags = 0;

    BEGIN_MSG_MAP(VxPanel)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItem)
    COMMAND_HANDLER(IDC_INPUT_BOX, EN_CHANGE, OnBoxChange)
    COMMAND_HANDLER(IDC_INPUT_BOX, EN_SETFOCUS, OnBoxFocus)
    NOTIFY_HANDLER(IDC_TOOLBAR, TBN_DROPDOWN, OnDropDown)
    CHAIN_MSG_MAP(WTL::CCoolContextMenu<VxPanel>)
    FORWARD_NOTIFICATIONS()
    ALT_MSG_MAP(1)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnButtonMouseMove)
    MESSAGE_HANDLER(WM_MOUSELEAVE, OnButtonMouseLeave)
    END_MSG_MAP()

private:
    bool CreateToolbar();
    bool CreateInputBox();
    bool CreateGoButton();
    RECT ChildRect(HWND child) const;
    void SetBoxRight(int right);
    void DrawGoButton(const DRAWITEMSTRUCT& dis);

    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnSize(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnDrawItem(UINT, WPARAM, LPARAM lParam, BOOL& handled);
    LRESULT OnBoxChange(WORD, WORD, HWND, BOOL&);
    LRESULT OnBoxFocus(WORD, WORD, HWND, BOOL&);
    LRESULT OnDropDown(int, LPNMHDR hdr, BOOL&);
    LRESULT OnButtonMouseMove(UINT, WPARAM, LPARAM, BOOL& handled);
    LRESULT OnButtonMouseLeave(UINT, WPARAM, LPARAM, BOOL& handled);
};
