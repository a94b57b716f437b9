// The default seams: the program's real pages and dialogs, which tests may replace.
#include "UiSeams.h"

#include "AboutDlg.h"
#include "CheckUpdateDlg.h"
#include "DownloadView.h"
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

void InstallReal(ViewSeams& v, DialogSeams& d) {
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
    AllSeams() { InstallReal(views, dialogs); }
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
    InstallReal(All().views, All().dialogs);
}
