// The placeholder page and the default seams: a page kind that is not built yet shows its title on
// a plain page; a dialog that is not built yet is not shown.
#include "UiSeams.h"

#include "AboutDlg.h"
#include "DownloadView.h"
#include "CheckUpdateDlg.h"
#include "FavoritesDlgs.h"
#include "ManageDlg.h"
#include "MangaView.h"
#include "PopupBrowser.h"
#include "RecommendView.h"
#include "SearchView.h"
#include "SettingsSheet.h"
#include "VxView.h"
#include "WebBrowser.h"
#include "ZipProgressDlg.h"
#include "wtl/WindowImpl.h"

#include <common/CodePage.h>

namespace {

class CPlaceholderView : public WTL::CWindowImpl<CPlaceholderView>, public VxView {
public:
    DECLARE_WND_CLASS_EX(L"Vx.PlaceholderView", CS_HREDRAW | CS_VREDRAW, COLOR_WINDOW)

    CPlaceholderView(const std::wstring& url, bool isClosable) : url_(url) { closable = isClosable; }

    bool OpenUrl(const wchar_t* url) override { return !closable && _wcsicmp(url, L"about:downloader") == 0; }
    const wchar_t* GetUrl() override { return url_.c_str(); }

    static VxView* Make(HWND parent, const std::wstring& url, bool isClosable) {
        auto* view = new CPlaceholderView(url, isClosable);
        RECT rc = {0, 0, 0, 0};
        if (!view->Create(parent, &rc, nullptr, WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN)) {
            delete view;
            return nullptr;
        }
        view->hwnd_ = view->m_hWnd;
        return view;
    }

    BEGIN_MSG_MAP(CPlaceholderView)
    END_MSG_MAP()

    void OnFinalMessage(HWND) override { delete this; }

private:
    std::wstring url_;
};

void InstallPlaceholders(ViewSeams& v, DialogSeams& d) {
    v.download = CDownloadView::Make;
    v.manga = [](HWND tab, const std::wstring& url, const std::string& cookies, std::shared_ptr<CParseContext> context) {
        return static_cast<VxView*>(CMangaView::Make(tab, url, cookies, std::move(context)));
    };
    v.search = CSearchView::Make;
    v.recommend = StartRecommendView;
    v.advert = CreateAdvertPanel;
    v.popupAdvert = [](const std::wstring& url) { OpenPopupBrowser(url, std::make_shared<PopupAD>()); };

    d.about = [](HWND owner) {
        CAboutDlg dlg;
        return static_cast<int>(dlg.DoModal(owner));
    };
    d.settings = CSettingsSheet::Run;
    d.checkUpdate = CCheckUpdateDlg::Run;
    d.manageFavorites = RunManageFavoritesDialog;
    d.favoriteItem = RunFavoriteItemDialog;
    d.repair = CRepairDlg::Run;
    d.manage = CManageDlg::Run;
    d.zipProgress = CZipProgressDlg::Run;
    d.example = [](HWND owner, const std::wstring& example) {
        CExampleDlg dlg(ToNarrow(example, CP_UTF8));
        return static_cast<int>(dlg.DoModal(owner));
    };
}

struct AllSeams {
    AllSeams() { InstallPlaceholders(views, dialogs); }
    ViewSeams views;
    DialogSeams dialogs;
};

AllSeams& All() {
    static AllSeams seams;
    return seams;
}

}  // namespace

ViewSeams& Views() {
    return All().views;
}
DialogSeams& Dialogs() {
    return All().dialogs;
}
void ResetUiSeams() {
    InstallPlaceholders(All().views, All().dialogs);
}
