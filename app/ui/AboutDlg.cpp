// The about and example dialogs: texts from their language sections, links through the window
// layer's hyperlink control, which opens nothing but web addresses.
#include "AboutDlg.h"

#include "AppContext.h"
#include "LanguageTranslator.h"

#include <common/CodePage.h>
#include <common/Url.h>

const wchar_t kAboutVersion[] = L"2.5.0.35";

std::wstring AboutCreditsText() {
    // A null address: the window layer and the HTML engine are the program's own, at home on its
    // own site.
    static const wchar_t* const kLibraries[][2] = {
        {L"WTL(9.1)", nullptr},
        {L"Lua(5.2.2)", L"https://www.lua.org/"},
        {L"zlib(1.2.8)", L"https://zlib.net/"},
        {L"SQLite(3.8.1)", L"https://www.sqlite.org/"},
        {L"Minizip(1.01h)", L"https://www.winimage.com/zLibDll/minizip.html"},
        {L"HTMLayout(3.3.3.13)", nullptr},
        {L"Duktype(2.2.0)", L"https://duktape.org/"},
    };
    std::wstring text;
    for (const auto& library : kLibraries) {
        text += library[0];
        text += L": ";
        text += library[1] ? library[1] : ToWide(MakeApiUrl(nullptr), CP_UTF8).c_str();
        text += L"\r\n";
    }
    return text;
}

LRESULT CAboutDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (ctx)
        ctx->Translator().TranslateDialog(m_hWnd, L"AboutDlg");
    link.SubclassWindow(GetDlgItem(IDC_ABOUT_LINK));
    link.SetHyperLink(ToWide(MakeApiUrl(nullptr), CP_UTF8).c_str());
    std::wstring name = ctx ? ctx->Translator().Text(L"Global", L"Name") : L"Name";
    ::SetDlgItemTextW(m_hWnd, IDC_ABOUT_NAME, (name + L" " + kAboutVersion).c_str());
    ::SetDlgItemTextW(m_hWnd, IDC_ABOUT_CREDITS, AboutCreditsText().c_str());
    // The default focus would select the whole credits text and scroll it to its end.
    ::SetFocus(GetDlgItem(IDOK));
    return FALSE;
}

LRESULT CAboutDlg::OnEnd(WORD, WORD, HWND, BOOL&) {
    EndDialog(1);
    return 0;
}

LRESULT CExampleDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    if (AppContext* ctx = GetAppContext())
        ctx->Translator().TranslateDialog(m_hWnd, L"ExampleDlg");
    link.SubclassWindow(GetDlgItem(IDC_EXAMPLE_LINK));
    link.SetHyperLinkExtendedStyle(WTL::HLINK_UNDERLINEHOVER);
    // Script text is UTF-8; the ANSI code page would garble every address outside ASCII.
    std::wstring address = ToWide(example, CP_UTF8);
    link.SetLabel(address.c_str());
    link.SetHyperLink(address.c_str());
    return TRUE;
}

LRESULT CExampleDlg::OnTry(WORD, WORD, HWND, BOOL&) {
    EndDialog(1);
    return 0;
}

LRESULT CExampleDlg::OnClose(WORD, WORD, HWND, BOOL&) {
    EndDialog(2);
    return 0;
}
