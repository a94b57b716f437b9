// The settings sheet and its three pages. A page reads its settings when it is first shown and
// writes them when the sheet is closed with OK; a page never shown writes nothing.
#pragma once

#include "InfoBar.h"
#include "Resource.h"
#include "wtl/HyperLink.h"
#include "wtl/PropertySheet.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CSettingsSheet;

// A save location names a folder on a drive ("X:\...") or a share ("\\server\..."); an empty or
// relative text would be read against whatever the current folder happens to be.
bool IsFullFolderPath(const std::wstring& path);
std::wstring WithTrailingBackslash(const std::wstring& path);
// The page of the downloaders' "More Information..." link for an OEM code page.
std::wstring DownloaderInfoUrl(unsigned int oemCp);

// The sites offered on the proxy page: loaded from the service at the page's first activation and
// kept for the rest of the run. User-interface thread only.
const std::vector<std::string>& ProxiedSites();
bool ProxiedSitesLoaded();
void ForgetProxiedSitesForTesting();

template <class T>
class CSettingsPage : public WTL::CPropertyPageImpl<T> {
public:
    CSettingsPage(CSettingsSheet* owner, const wchar_t* titleKey);

    // Accepted only once the whole sheet can be applied, so that a refused value leaves every
    // page's settings as they were.
    int OnApply();
    int OnSetActive();

protected:
    CSettingsSheet* sheet;
};

class CGeneralPage : public CSettingsPage<CGeneralPage> {
public:
    enum { IDD = IDD_GENERAL_PAGE };
    explicit CGeneralPage(CSettingsSheet* owner) : CSettingsPage(owner, L"GeneralPage") {}

    BEGIN_MSG_MAP(CGeneralPage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnCtlColorStatic)
    COMMAND_HANDLER(IDC_GEN_LANGUAGE, CBN_SELCHANGE, OnLanguageChange)
    CHAIN_MSG_MAP(WTL::CPropertyPageImpl<CGeneralPage>)
    END_MSG_MAP()

    void Apply();

    // The language chosen is not the one in use: the note is drawn in blue.
    bool languageDiffers = false;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCtlColorStatic(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnLanguageChange(WORD, WORD, HWND, BOOL&);
    bool SelectedDiffers();

    std::vector<std::string> codes_;  // UTF-8, in list order
};

class CDownloaderPage : public CSettingsPage<CDownloaderPage> {
public:
    enum { IDD = IDD_DOWNLOADER_PAGE };
    explicit CDownloaderPage(CSettingsSheet* owner);

    BEGIN_MSG_MAP(CDownloaderPage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_HANDLER(IDC_DL_BROWSE, BN_CLICKED, OnBrowse)
    COMMAND_HANDLER(IDC_DL_CLASSIFY, BN_CLICKED, OnClassify)
    CHAIN_MSG_MAP(WTL::CPropertyPageImpl<CDownloaderPage>)
    END_MSG_MAP()

    void Apply();
    std::wstring FolderText() const;

    // (identifier, display name) in the order the download manager reports them.
    std::vector<std::pair<std::string, std::wstring>> downloaders;
    WTL::CHyperLink link;

private:
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnBrowse(WORD, WORD, HWND, BOOL&);
    LRESULT OnClassify(WORD, WORD, HWND, BOOL&);
    void UpdateNaming();
    static void AddDownloader(const char* identifier, const wchar_t* displayName, void* user);
};

class CProxyPage : public CSettingsPage<CProxyPage> {
public:
    enum { IDD = IDD_PROXY_PAGE };
    explicit CProxyPage(CSettingsSheet* owner) : CSettingsPage(owner, L"ProxyPage") {}

    BEGIN_MSG_MAP(CProxyPage)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(kLoadSitesMessage, OnLoadSites)
    CHAIN_MSG_MAP(WTL::CPropertyPageImpl<CProxyPage>)
    END_MSG_MAP()

    int OnSetActive();
    void Apply();

    // The rows as filled: row i stands for domain i.
    std::vector<std::string> rows;
    bool filled = false;

private:
    // Posted by the activation: the site list is loaded once the activation is over.
    static const UINT kLoadSitesMessage = WM_APP + 102;

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnLoadSites(UINT, WPARAM, LPARAM, BOOL&);
    void FillRows();

    bool loading_ = false;
};

class CSettingsSheet : public WTL::CPropertySheetImpl<CSettingsSheet> {
public:
    CSettingsSheet();

    // The main frame's settings command: the sheet's result (positive after OK).
    static int Run(HWND owner);

    // True when every page that was shown can be applied; otherwise the user is told why, the
    // page with the fault is shown and the sheet stays open.
    bool CheckBeforeApply();

    CGeneralPage general;
    CDownloaderPage downloader;
    CProxyPage proxy;
    // The last page that was activated other than the proxy page: where a failed site list
    // sends the user back to.
    int lastPage = 0;

    BEGIN_MSG_MAP(CSettingsSheet)
    CHAIN_MSG_MAP(WTL::CPropertySheetImpl<CSettingsSheet>)
    END_MSG_MAP()
};
