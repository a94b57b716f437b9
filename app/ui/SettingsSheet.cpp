// The settings sheet. Values are checked for the whole sheet before any page writes, and the
// proxy page's site list is fetched in an info bar after its activation, never inside it.
#include "SettingsSheet.h"

#include "AppContext.h"
#include "AppDatabase.h"
#include "DebugSettings.h"
#include "LanguageTranslator.h"
#include "ServiceApi.h"
#include "VxDownloadMgr.h"
#include "wtl/Seams.h"

#include <Dornet.h>
#include <common/CodePage.h>
#include <common/Log.h>
#include <common/Url.h>

#include <algorithm>
#include <mutex>
#include <new>

namespace {

// The site list is a convenience: a slow service must not hold the sheet for long.
const int kSiteListTimeoutSeconds = 15;

std::vector<std::string> g_sites;
bool g_sitesLoaded = false;

std::wstring Text(const wchar_t* section, const wchar_t* key) {
    AppContext* ctx = GetAppContext();
    return ctx ? ctx->Translator().Text(section, key) : std::wstring(key);
}

std::wstring ItemText(HWND dialog, int id) {
    HWND item = ::GetDlgItem(dialog, id);
    int length = item ? ::GetWindowTextLengthW(item) : 0;
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(item, &text[0], length + 1)));
    return text;
}

bool Checked(HWND dialog, int id) {
    return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void Check(HWND dialog, int id, bool on) {
    ::CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

const char* Flag(bool on) {
    return on ? "1" : "0";
}

// Fetches the proxied-site list inside the info bar. The completion may come after the bar is
// gone, so it writes only into a block it shares with the step and posts the end by the bar's id.
class CProxySitesStep : public VxInfoObserver {
public:
    struct Outcome {
        std::mutex lock;
        bool ok = false;
        std::vector<std::string> domains;
    };

    void Start() override {
        SetInfo(L"LoadingSiteList");
        if (!StartRequest())
            EndDialog(2);
    }

    std::shared_ptr<Outcome> outcome = std::make_shared<Outcome>();

private:
    class Bar : public VxInfoObserver {
    public:
        void Start() override {}
    };

    class Client final : public Orvane::OvRequest::Client {
    public:
        Client(std::shared_ptr<Outcome> into, int barId) : outcome_(std::move(into)) { bar_.barId = barId; }
        void OnResponse(const Orvane::OvResponse& response) override {
            std::vector<std::string> domains;
            bool ok = ReadProxySites(response, domains);
            {
                std::lock_guard<std::mutex> hold(outcome_->lock);
                outcome_->ok = ok;
                outcome_->domains.swap(domains);
            }
            bar_.EndDialog(ok ? 1 : 2);
            delete this;
        }

    private:
        std::shared_ptr<Outcome> outcome_;
        Bar bar_;
    };

    bool StartRequest() {
        AppContext* ctx = GetAppContext();
        if (!ctx)
            return false;
        auto* client = new (std::nothrow) Client(outcome, barId);
        if (!client)
            return false;
        Orvane::OvRequest* request = nullptr;
        try {
            request = Orvane::OvRequest::CreateInstance(ProxySitesUrl().c_str(), *client, nullptr);
        } catch (const std::bad_alloc&) {
            request = nullptr;
        }
        if (!request) {
            delete client;
            return false;
        }
        PrepareProxySitesRequest(request, ctx->Debug().SysProxy,
                                 std::min(StepRequestTimeout(), kSiteListTimeoutSeconds));
        int started = StartStepRequest(request);
        if (started != Orvane::kStarted) {
            // The request is gone and will never call the client.
            Brimholt::Log << "The site list request did not start: " << started << std::endl;
            delete client;
            return false;
        }
        return true;
    }
};

}  // namespace

bool IsFullFolderPath(const std::wstring& path) {
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    auto drive = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
    if (path.size() >= 3 && drive(path[0]) && path[1] == L':' && separator(path[2]))
        return true;
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && !separator(path[2]);
}

std::wstring WithTrailingBackslash(const std::wstring& path) {
    if (!path.empty() && path.back() == L'\\')
        return path;
    return path + L"\\";
}

std::wstring DownloaderInfoUrl(unsigned int oemCp) {
    std::string url = MakeApiUrl("redirect.php") + std::string("?t=downloader");
    if (oemCp != 936 && oemCp != 950)
        url += "-en";
    return ToWide(url, CP_UTF8);
}

const std::vector<std::string>& ProxiedSites() {
    return g_sites;
}

bool ProxiedSitesLoaded() {
    return g_sitesLoaded;
}

void ForgetProxiedSitesForTesting() {
    g_sites.clear();
    g_sitesLoaded = false;
}

// ---------------------------------------------------------------------------------------------

template <class T>
CSettingsPage<T>::CSettingsPage(CSettingsSheet* owner, const wchar_t* titleKey) : sheet(owner) {
    this->SetTitle(Text(L"SettingsSheet", titleKey).c_str());
}

template <class T>
int CSettingsPage<T>::OnApply() {
    if (!sheet->CheckBeforeApply())
        return PSNRET_INVALID_NOCHANGEPAGE;
    static_cast<T*>(this)->Apply();
    return PSNRET_NOERROR;
}

template <class T>
int CSettingsPage<T>::OnSetActive() {
    LRESULT index = ::SendMessageW(this->GetPropertySheet(), PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(this->m_hWnd), 0);
    if (index >= 0)
        sheet->lastPage = static_cast<int>(index);
    return 0;
}

template class CSettingsPage<CGeneralPage>;
template class CSettingsPage<CDownloaderPage>;
template class CSettingsPage<CProxyPage>;

// ---------------------------------------------------------------------------------------------
// General

LRESULT CGeneralPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return TRUE;
    ctx->Translator().TranslateDialog(m_hWnd, L"GeneralPage");
    HWND list = GetDlgItem(IDC_GEN_LANGUAGE);
    std::string chosen = ctx->Database().GetConfig("Language");
    int selected = 0;
    for (const auto& language : ctx->Translator().ListLanguages()) {
        std::string code = ToNarrow(language.first, CP_UTF8);
        if (code == chosen)
            selected = static_cast<int>(codes_.size());
        codes_.push_back(code);
        ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(language.second.c_str()));
    }
    ::SendMessageW(list, CB_SETCURSEL, selected, 0);
    languageDiffers = SelectedDiffers();
    AppDatabase& db = ctx->Database();
    Check(m_hWnd, IDC_GEN_MIN_TRAY, db.GetConfigInt("MinToTray", 0) == 1);
    Check(m_hWnd, IDC_GEN_SHOW_HOT, db.GetConfigInt("ShowRecommended", 1) == 1);
    return TRUE;
}

bool CGeneralPage::SelectedDiffers() {
    AppContext* ctx = GetAppContext();
    int selected = static_cast<int>(::SendDlgItemMessageW(m_hWnd, IDC_GEN_LANGUAGE, CB_GETCURSEL, 0, 0));
    if (!ctx || selected < 0 || selected >= static_cast<int>(codes_.size()))
        return false;
    return codes_[static_cast<size_t>(selected)] != ctx->Translator().CurrentCode();
}

LRESULT CGeneralPage::OnLanguageChange(WORD, WORD, HWND, BOOL&) {
    bool differs = SelectedDiffers();
    if (differs != languageDiffers) {
        languageDiffers = differs;
        // The note draws no background of its own: the page repaints what lies behind it.
        HWND note = GetDlgItem(IDC_GEN_NOTE);
        RECT area = {};
        ::GetWindowRect(note, &area);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&area), 2);
        ::InvalidateRect(m_hWnd, &area, TRUE);
        ::InvalidateRect(note, nullptr, TRUE);
    }
    return 0;
}

LRESULT CGeneralPage::OnCtlColorStatic(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (reinterpret_cast<HWND>(lParam) != GetDlgItem(IDC_GEN_NOTE) || !languageDiffers) {
        handled = FALSE;
        return 0;
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    ::SetTextColor(dc, RGB(0, 0, 0xFF));
    ::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
}

void CGeneralPage::Apply() {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return;
    AppDatabase& db = ctx->Database();
    int selected = static_cast<int>(::SendDlgItemMessageW(m_hWnd, IDC_GEN_LANGUAGE, CB_GETCURSEL, 0, 0));
    if (selected >= 0 && selected < static_cast<int>(codes_.size()))
        db.SetConfig("Language", codes_[static_cast<size_t>(selected)].c_str());
    db.SetConfig("MinToTray", Flag(Checked(m_hWnd, IDC_GEN_MIN_TRAY)));
    db.SetConfig("ShowRecommended", Flag(Checked(m_hWnd, IDC_GEN_SHOW_HOT)));
}

// ---------------------------------------------------------------------------------------------
// Downloader

CDownloaderPage::CDownloaderPage(CSettingsSheet* owner) : CSettingsPage(owner, L"DownloaderPage") {
    AppContext* ctx = GetAppContext();
    if (VxDownloadMgr* mgr = ctx ? ctx->GetDownloadMgr() : nullptr)
        mgr->EnumDownloaders(&CDownloaderPage::AddDownloader, this);
}

void CDownloaderPage::AddDownloader(const char* identifier, const wchar_t* displayName, void* user) {
    // A plug-in's strings are its own: copied at once, an absent one never read.
    if (!identifier || !user)
        return;
    static_cast<CDownloaderPage*>(user)->downloaders.emplace_back(identifier, displayName ? displayName : L"");
}

LRESULT CDownloaderPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return TRUE;
    ctx->Translator().TranslateDialog(m_hWnd, L"DownloaderPage");
    link.SubclassWindow(GetDlgItem(IDC_DL_MORE_INFO));
    link.SetHyperLink(DownloaderInfoUrl(GetOEMCP()).c_str());

    AppDatabase& db = ctx->Database();
    HWND list = GetDlgItem(IDC_DL_DOWNLOADER);
    std::string active = db.GetConfig("Downloader");
    int selected = 0;
    for (size_t i = 0; i < downloaders.size(); ++i) {
        if (downloaders[i].first == active)
            selected = static_cast<int>(i);
        ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(downloaders[i].second.c_str()));
    }
    ::SendMessageW(list, CB_SETCURSEL, selected, 0);

    SetDlgItemText(IDC_DL_FOLDER, ToWide(db.GetConfig("DownloadFolder"), CP_UTF8).c_str());
    int naming = db.GetConfigInt("RenameType", 1);
    Check(m_hWnd, IDC_DL_CLASSIFY, naming != 0);
    if (naming != 0) {
        int radio = naming == 2 ? IDC_DL_COMIC_VOLUME : naming == 3 ? IDC_DL_PER_COMIC : IDC_DL_PER_VOLUME;
        Check(m_hWnd, radio, true);
    }
    UpdateNaming();
    Check(m_hWnd, IDC_DL_AUTO_ZIP, db.GetConfigInt("AutoPacking", 0) == 1);
    return TRUE;
}

void CDownloaderPage::UpdateNaming() {
    const int radios[] = {IDC_DL_PER_VOLUME, IDC_DL_COMIC_VOLUME, IDC_DL_PER_COMIC};
    bool classify = Checked(m_hWnd, IDC_DL_CLASSIFY);
    bool any = false;
    for (int id : radios) {
        ::EnableWindow(GetDlgItem(id), classify);
        any = any || Checked(m_hWnd, id);
    }
    if (classify && !any)
        Check(m_hWnd, IDC_DL_PER_VOLUME, true);
}

LRESULT CDownloaderPage::OnClassify(WORD, WORD, HWND, BOOL&) {
    UpdateNaming();
    return 0;
}

LRESULT CDownloaderPage::OnBrowse(WORD, WORD, HWND, BOOL&) {
    AppContext* ctx = GetAppContext();
    std::wstring start = ctx ? ToWide(ctx->Database().GetConfig("DownloadFolder"), CP_UTF8) : std::wstring();
    std::wstring chosen;
    if (WTL::BrowseForFolder(m_hWnd, start, chosen, 0x0011 /* CSIDL_DRIVES */) && !chosen.empty())
        SetDlgItemText(IDC_DL_FOLDER, WithTrailingBackslash(chosen).c_str());
    return 0;
}

std::wstring CDownloaderPage::FolderText() const {
    return ItemText(m_hWnd, IDC_DL_FOLDER);
}

void CDownloaderPage::Apply() {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return;
    AppDatabase& db = ctx->Database();
    int selected = static_cast<int>(::SendDlgItemMessageW(m_hWnd, IDC_DL_DOWNLOADER, CB_GETCURSEL, 0, 0));
    if (selected >= 0 && selected < static_cast<int>(downloaders.size())) {
        const std::string& id = downloaders[static_cast<size_t>(selected)].first;
        db.SetConfig("Downloader", id.c_str());
        if (VxDownloadMgr* mgr = ctx->GetDownloadMgr())
            mgr->Select(id.c_str());
    }
    db.SetConfigW("DownloadFolder", WithTrailingBackslash(FolderText()).c_str());
    int naming = 0;
    if (Checked(m_hWnd, IDC_DL_CLASSIFY))
        naming = Checked(m_hWnd, IDC_DL_COMIC_VOLUME) ? 2 : Checked(m_hWnd, IDC_DL_PER_COMIC) ? 3 : 1;
    db.SetConfig("RenameType", std::to_string(naming).c_str());
    db.SetConfig("AutoPacking", Flag(Checked(m_hWnd, IDC_DL_AUTO_ZIP)));
}

// ---------------------------------------------------------------------------------------------
// Proxy

LRESULT CProxyPage::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return TRUE;
    ctx->Translator().TranslateDialog(m_hWnd, L"ProxyPage");
    HWND list = GetDlgItem(IDC_PROXY_SITES);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES);
    RECT client = {};
    ::GetClientRect(list, &client);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = client.right - GetSystemMetrics(SM_CXVSCROLL);
    ListView_InsertColumn(list, 0, &column);

    AppDatabase& db = ctx->Database();
    SetDlgItemText(IDC_PROXY_ADDRESS, ToWide(db.GetConfig("Proxy"), CP_UTF8).c_str());
    int type = db.GetConfigInt("ProxyType", 0);
    Check(m_hWnd, type == 4 ? IDC_PROXY_SOCKS4 : type == 5 ? IDC_PROXY_SOCKS5 : IDC_PROXY_HTTP, true);
    return TRUE;
}

int CProxyPage::OnSetActive() {
    if (filled)
        return 0;
    if (g_sitesLoaded) {
        FillRows();
        return 0;
    }
    if (!loading_)
        PostMessage(kLoadSitesMessage);
    return 0;
}

LRESULT CProxyPage::OnLoadSites(UINT, WPARAM, LPARAM, BOOL&) {
    if (filled || loading_)
        return 0;
    if (g_sitesLoaded) {
        FillRows();
        return 0;
    }
    loading_ = true;
    CProxySitesStep step;
    int result = VxInfoBar::Run(&step, GetPropertySheet());
    loading_ = false;
    if (!IsWindow())
        return 0;
    if (result == 1) {
        std::lock_guard<std::mutex> hold(step.outcome->lock);
        g_sites = step.outcome->domains;
        g_sitesLoaded = true;
    }
    if (g_sitesLoaded) {
        FillRows();
        return 0;
    }
    WTL::ShowMessageBox(m_hWnd, Text(L"Messages", L"LoadingSiteListFailed").c_str(), Text(L"Global", L"Error").c_str(),
                        MB_ICONINFORMATION);
    // The page stays inactive; its next activation tries again.
    HWND sheetWindow = GetPropertySheet();
    if (::IsWindow(sheetWindow) &&
        reinterpret_cast<HWND>(::SendMessageW(sheetWindow, PSM_GETCURRENTPAGEHWND, 0, 0)) == m_hWnd)
        ::SendMessageW(sheetWindow, PSM_SETCURSEL, static_cast<WPARAM>(sheet->lastPage), 0);
    return 0;
}

void CProxyPage::FillRows() {
    AppContext* ctx = GetAppContext();
    HWND list = GetDlgItem(IDC_PROXY_SITES);
    ListView_DeleteAllItems(list);
    rows = g_sites;
    for (size_t i = 0; i < rows.size(); ++i) {
        // Service text is UTF-8 whatever the ANSI code page.
        std::wstring name = ToWide(rows[i], CP_UTF8);
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = &name[0];
        int at = ListView_InsertItem(list, &item);
        if (at >= 0 && ctx && ctx->Database().IsProxyDomain(rows[i].c_str()))
            ListView_SetCheckState(list, at, TRUE);
    }
    filled = true;
}

void CProxyPage::Apply() {
    AppContext* ctx = GetAppContext();
    if (!ctx)
        return;
    AppDatabase& db = ctx->Database();
    db.SetConfigW("Proxy", ItemText(m_hWnd, IDC_PROXY_ADDRESS).c_str());
    const char* type = Checked(m_hWnd, IDC_PROXY_SOCKS4) ? "4" : Checked(m_hWnd, IDC_PROXY_SOCKS5) ? "5" : "0";
    db.SetConfig("ProxyType", type);
    if (!filled)
        return;
    HWND list = GetDlgItem(IDC_PROXY_SITES);
    int count = ListView_GetItemCount(list);
    for (int i = 0; i < count && i < static_cast<int>(rows.size()); ++i) {
        UINT state = ListView_GetItemState(list, i, LVIS_STATEIMAGEMASK);
        db.SetProxyDomain(rows[static_cast<size_t>(i)].c_str(), state != INDEXTOSTATEIMAGEMASK(1));
    }
}

// ---------------------------------------------------------------------------------------------
// Sheet

CSettingsSheet::CSettingsSheet()
    : CPropertySheetImpl(Text(L"SettingsSheet", L"Caption").c_str()), general(this), downloader(this), proxy(this) {
    m_psh.dwFlags |= PSH_USECALLBACK | PSH_NOAPPLYNOW;
    AddPage(general);
    AddPage(downloader);
    AddPage(proxy);
}

int CSettingsSheet::Run(HWND owner) {
    CSettingsSheet sheet;
    return static_cast<int>(sheet.DoModal(owner));
}

bool CSettingsSheet::CheckBeforeApply() {
    // A page never shown keeps the stored folder and writes nothing.
    if (!downloader.m_hWnd || IsFullFolderPath(downloader.FolderText()))
        return true;
    SetActivePage(1);
    HWND edit = downloader.GetDlgItem(IDC_DL_FOLDER);
    ::SetFocus(edit);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    WTL::ShowMessageBox(m_hWnd, Text(L"Messages", L"BadDownloadFolder").c_str(), Text(L"Global", L"Error").c_str(),
                        MB_OK | MB_ICONWARNING);
    return false;
}
