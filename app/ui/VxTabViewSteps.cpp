// The tab view's address step for a site with a script: the page is loaded inside the info bar and
// shown as a comic page.
#include "VxTabView.h"

#include "InfoBar.h"
#include "ParseContext.h"
#include "PreloadDlg.h"

#include <common/CodePage.h>
#include <common/Log.h>

#ifdef VX_NO_PAGE_STEP
// The page-loading module is not in this tree yet: the address fails as a step that cannot start.
bool VxTabView::OpenScripted(const std::wstring&) {
    Brimholt::Log << "The page-loading step is not built in" << std::endl;
    return false;
}
#else

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
#endif
