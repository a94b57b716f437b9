// The input panel: toolbar, input box, its button and the favourites drop-down.
#include "VxPanel.h"

#include "AppContext.h"
#include "FavoritesMenu.h"
#include "LanguageTranslator.h"
#include "Messages.h"
#include "MsgCenter.h"
#include "UiMetrics.h"
#include "wtl/Module.h"
#include "wtl/Seams.h"

#include <common/CodePage.h>
#include <common/Log.h>

#include <cwchar>

namespace {

const int kPrefixLength = 8;  // "https://"

std::wstring Text(const wchar_t* section, const wchar_t* key) {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(section, key) : std::wstring();
}

bool IsAddress(const wchar_t* text) {
    return _wcsnicmp(text, L"http://", 7) == 0 || _wcsnicmp(text, L"https://", 8) == 0;
}

void FillLine(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT rc = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rc, brush);
    DeleteObject(brush);
}

void Frame3d(HDC dc, const RECT& rc, COLORREF topLeft, COLORREF bottomRight) {
    FillLine(dc, rc.left, rc.top, rc.right - 1, rc.top + 1, topLeft);
    FillLine(dc, rc.left, rc.top, rc.left + 1, rc.bottom - 1, topLeft);
    FillLine(dc, rc.right - 1, rc.top, rc.right, rc.bottom, bottomRight);
    FillLine(dc, rc.left, rc.bottom - 1, rc.right, rc.bottom, bottomRight);
}

struct ToolButton {
    int command;
    int image;
    BYTE style;
};

const ToolButton kButtons[] = {
    {ID_FAVORITES, 0, BTNS_DROPDOWN},
    {ID_SETTINGS, 1, BTNS_BUTTON},
    {ID_HOT_MANGAS, 4, BTNS_BUTTON},
    {ID_ABOUT, 2, BTNS_BUTTON},
};

}  // namespace

std::wstring VxInputBox::GetText() const {
    return GetWindowText();
}

bool VxInputBox::ShowsCue() const {
    return !cueText.empty() && GetWindowTextLengthW(m_hWnd) == 0;
}

LRESULT VxInputBox::OnPaint(UINT, WPARAM, LPARAM, BOOL& handled) {
    if (!ShowsCue()) {
        handled = FALSE;
        return 0;
    }
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    DefWindowProc(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    RECT rc = {};
    SendMessage(EM_GETRECT, 0, reinterpret_cast<LPARAM>(&rc));
    HGDIOBJ oldFont = SelectObject(dc, GetFont());
    SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, cueText.c_str(), static_cast<int>(cueText.size()), &rc,
              DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, oldFont);
    EndPaint(m_hWnd, &ps);
    return 0;
}

LRESULT VxInputBox::OnKeyDown(UINT, WPARAM key, LPARAM, BOOL& handled) {
    if (key != VK_RETURN) {
        handled = FALSE;
        return 0;
    }
    if (GetWindowTextLengthW(m_hWnd) > 0) {
        HWND parent = GetParent();
        ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(parent, IDC_GO)));
    } else {
        WTL::PlayMessageBeep(0);
    }
    return 0;
}

// Enter was dealt with on key down; the edit would beep at its character.
LRESULT VxInputBox::OnChar(UINT, WPARAM key, LPARAM, BOOL& handled) {
    handled = key == L'\r' || key == L'\n';
    return 0;
}

LRESULT VxInputBox::OnMouseMove(UINT, WPARAM flags, LPARAM, BOOL& handled) {
    if ((flags & MK_LBUTTON) && ShowsCue())
        Invalidate();
    handled = FALSE;
    return 0;
}

// The caret would otherwise be drawn over the cue text and leave a trace in it.
LRESULT VxInputBox::OnButtonDown(UINT, WPARAM, LPARAM, BOOL& handled) {
    if (ShowsCue())
        Invalidate();
    handled = FALSE;
    return 0;
}

VxPanel::VxPanel() : goButton(this, 1) {
    HINSTANCE module = WTL::AppModule().GetResourceInstance();
    smallImages = UiMetrics::ImageListFromBitmap(module, IDB_SMALL, 16);
    toolbarImages = UiMetrics::ImageListFromBitmap(module, IDB_TOOLBAR, 24);
    SetMenuImageList(smallImages);
}

VxPanel::~VxPanel() {
    if (m_hWnd)
        DestroyWindow();
    if (smallImages)
        ImageList_Destroy(smallImages);
    if (toolbarImages)
        ImageList_Destroy(toolbarImages);
}

int VxPanel::GetMenuItemImage(HMENU menu, UINT pos, const MENUITEMINFOW& info) {
    if (info.hSubMenu) {
        // A favourites folder starts with a favourite or another folder; "More" with a command.
        UINT first = GetMenuItemID(info.hSubMenu, 0);
        bool folder =
            first == static_cast<UINT>(-1) ? GetSubMenu(info.hSubMenu, 0) != nullptr : first >= ID_FAVORITE_FIRST;
        return folder ? 0 : -1;
    }
    if (info.wID < ID_FAVORITE_FIRST || (info.fState & (MFS_GRAYED | MFS_DISABLED)))
        return -1;
    return 1;
}

void VxPanel::OnSetInputText(msg_set_input_text* msg) {
    inputBox.SetWindowText(msg->text.c_str());
    if (msg->select)
        inputBox.PostMessage(EM_SETSEL, 0, -1);
}

bool VxPanel::CreateToolbar() {
    toolbar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                              WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | TBSTYLE_LIST | TBSTYLE_FLAT | CCS_TOP, 0, 0, 0,
                              0, m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_TOOLBAR)),
                              WTL::AppModule().GetModuleInstance(), nullptr);
    if (!toolbar) {
        Brimholt::Log << "Cannot create the toolbar: " << GetLastError() << std::endl;
        return false;
    }
    // The structure is 20 bytes in a 32-bit build; the control wants this build's own size.
    ::SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarImages));
    std::wstring texts[ARRAYSIZE(kButtons)];
    TBBUTTON buttons[ARRAYSIZE(kButtons)] = {};
    for (size_t i = 0; i < ARRAYSIZE(kButtons); ++i) {
        texts[i] = Text(L"ToolBar", std::to_wstring(kButtons[i].command).c_str());
        buttons[i].iBitmap = kButtons[i].image;
        buttons[i].idCommand = kButtons[i].command;
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = kButtons[i].style | BTNS_AUTOSIZE;
        buttons[i].iString = reinterpret_cast<INT_PTR>(texts[i].c_str());
    }
    ::SendMessageW(toolbar, TB_ADDBUTTONSW, ARRAYSIZE(buttons), reinterpret_cast<LPARAM>(buttons));
    ::SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
    return true;
}

RECT VxPanel::ChildRect(HWND child) const {
    RECT rc = {};
    GetWindowRectInParent(child, rc);
    return rc;
}

bool VxPanel::CreateInputBox() {
    const UiMetrics& metrics = GetAppContext()->Metrics();
    RECT rc;
    GetClientRect(&rc);
    rc.top = ChildRect(toolbar).bottom + metrics.frameCy;
    rc.right -= metrics.frameCx;
    if (!inputBox.Create(m_hWnd, rc, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | ES_AUTOHSCROLL,
                         WS_EX_CLIENTEDGE, IDC_INPUT_BOX)) {
        Brimholt::Log << "Cannot create the input box: " << GetLastError() << std::endl;
        return false;
    }
    inputBox.SetFont(metrics.messageFont, FALSE);
    inputBox.cueText = Text(L"MainFrame", L"InputBox");
    return true;
}

// Hidden at first: the box starts empty.
bool VxPanel::CreateGoButton() {
    RECT box = ChildRect(inputBox);
    int side = box.bottom - box.top;
    RECT rc = {box.right - side, box.top, box.right, box.bottom};
    if (!goButton.Create(L"BUTTON", m_hWnd, &rc, nullptr, WS_CHILD | BS_OWNERDRAW, 0, IDC_GO)) {
        Brimholt::Log << "Cannot create the address button: " << GetLastError() << std::endl;
        return false;
    }
    return true;
}

LRESULT VxPanel::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return -1;
    MsgCenter& bus = ctx->Messages();
    id = bus.RegisterObserver(m_hWnd, this);
    if (id != 1)
        Brimholt::Log << "The input panel is observer " << id << ", not 1" << std::endl;
    bus.Subscribe(id, "set_input_text", MsgThunk<&VxPanel::OnSetInputText>);
    if (!CreateToolbar() || !CreateInputBox() || !CreateGoButton())
        return 0;
    GetSystemSettings();
    return 0;
}

void VxPanel::SetBoxRight(int right) {
    RECT box = ChildRect(inputBox);
    inputBox.SetWindowPos(nullptr, 0, 0, right - box.left, box.bottom - box.top,
                          SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT VxPanel::OnSize(UINT, WPARAM, LPARAM lParam, BOOL&) {
    if (!toolbar || !inputBox.m_hWnd || !goButton.m_hWnd)
        return 0;
    const UiMetrics& metrics = GetAppContext()->Metrics();
    int width = LOWORD(lParam);
    RECT bar = ChildRect(toolbar);
    ::SetWindowPos(toolbar, nullptr, 0, 0, width, bar.bottom - bar.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT button = ChildRect(goButton);
    int buttonWidth = button.right - button.left;
    int right = width - metrics.frameCx;
    if (goButton.IsWindowVisible())
        right -= buttonWidth + metrics.frameCx;
    SetBoxRight(right);
    inputBox.cueText = Text(L"MainFrame", L"InputBox");
    goButton.SetWindowPos(nullptr, width - metrics.frameCx - buttonWidth, button.top, 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

LRESULT VxPanel::OnBoxChange(WORD, WORD, HWND, BOOL&) {
    wchar_t start[kPrefixLength + 1] = {};
    inputBox.SendMessage(WM_GETTEXT, ARRAYSIZE(start), reinterpret_cast<LPARAM>(start));
    RECT button = ChildRect(goButton);
    if (!start[0]) {
        if (goButton.IsWindowVisible()) {
            goButton.ShowWindow(SW_HIDE);
            SetBoxRight(button.right);
        }
    } else if (!goButton.IsWindowVisible()) {
        SetBoxRight(button.left - GetAppContext()->Metrics().frameCx);
        goButton.ShowWindow(SW_SHOWNA);
    }
    bool address = IsAddress(start);
    if (address != ((buttonFlags & kAddressMode) != 0)) {
        buttonFlags ^= kAddressMode;
        goButton.Invalidate(FALSE);
    }
    return 0;
}

LRESULT VxPanel::OnBoxFocus(WORD, WORD, HWND, BOOL&) {
    inputBox.PostMessage(EM_SETSEL, 0, -1);
    return 0;
}

void VxPanel::DrawGoButton(const DRAWITEMSTRUCT& dis) {
    HDC dc = dis.hDC;
    RECT rc = dis.rcItem;
    bool pressed = (dis.itemState & ODS_SELECTED) != 0;
    FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
    int image = (buttonFlags & kAddressMode) ? 2 : 3;
    int cx = 16, cy = 16;
    ImageList_GetIconSize(smallImages, &cx, &cy);
    int x = rc.left + (rc.right - rc.left - cx) / 2 + (pressed ? 1 : 0);
    int y = rc.top + (rc.bottom - rc.top - cy) / 2 + (pressed ? 1 : 0);
    ImageList_Draw(smallImages, image, dc, x, y, ILD_TRANSPARENT);
    if (buttonFlags & kHot) {
        COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT), shadow = GetSysColor(COLOR_BTNSHADOW);
        Frame3d(dc, rc, pressed ? shadow : light, pressed ? light : shadow);
    }
}

LRESULT VxPanel::OnDrawItem(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
    if (dis->CtlType != ODT_BUTTON || dis->CtlID != IDC_GO) {
        handled = FALSE;
        return 0;
    }
    DrawGoButton(*dis);
    return TRUE;
}

LRESULT VxPanel::OnDropDown(int, LPNMHDR hdr, BOOL&) {
    auto* info = reinterpret_cast<NMTOOLBARW*>(hdr);
    RECT rc = {};
    ::SendMessageW(toolbar, TB_GETRECT, info->iItem, reinterpret_cast<LPARAM>(&rc));
    POINT pt = {rc.left, rc.bottom};
    ::ClientToScreen(toolbar, &pt);
    FavoritesMenu menu;
    if (!menu.Build())
        return TBDDRET_DEFAULT;
    const FavoritesMenu::Item* item = menu.Track(pt.x, pt.y, m_hWnd);
    if (item && !item->url.empty()) {
        inputBox.SetWindowText(ToWide(item->url, CP_UTF8).c_str());
        goButton.SendMessage(BM_CLICK);
    }
    return TBDDRET_DEFAULT;
}

LRESULT VxPanel::OnButtonMouseMove(UINT, WPARAM, LPARAM, BOOL& handled) {
    if (!(buttonFlags & kHot)) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, goButton.m_hWnd, 0};
        TrackMouseEvent(&track);
        buttonFlags |= kHot;
        goButton.Invalidate(FALSE);
    }
    handled = FALSE;
    return 0;
}

LRESULT VxPanel::OnButtonMouseLeave(UINT, WPARAM, LPARAM, BOOL& handled) {
    buttonFlags &= ~kHot;
    goButton.Invalidate(TRUE);
    handled = FALSE;
    return 0;
}
