// The tab view's address step for a site with a script: the page is loaded inside the info bar and
// shown as a comic page.
#include "VxTabView.h"

#include "InfoBar.h"
#include "ParseContext.h"
#include "PreloadDlg.h"

#include <common/CodePage.h>

bool VxTabView::OpenScripted(const std::wstring& address) {
    CPreloadDlg step(address);
    if (VxInfoBar::Run(&step) != 1) {
        step.PreloadFinish();
        return false;
    }
    if (step.PreloadOnParsed())
        return true;
    std::string cookies = step.context ? step.context->GetCookies() : std::string();
    AddMangaView(ToWide(step.url, CP_UTF8), cookies, step.context);
    return true;
}
