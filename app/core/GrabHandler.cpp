// The grab handler: the grab's image lists become tasks of the active downloader, then the comics'
// statistics and volume records follow.
#include "AppContext.h"
#include "DbJobs.h"
#include "GrabSteps.h"
#include "Messages.h"
#include "ParseContext.h"
#include "VxDownloadMgr.h"

#include <common/Log.h>

namespace {

GrabDialogFn g_grabDialog = nullptr;
GrabFailedDialogFn g_grabFailedDialog = nullptr;

void CreateTasks(Vellix::Downloader& downloader, const std::vector<GrabItem>& items, const GrabOutcome& outcome) {
    for (size_t i = 0; i < outcome.results.size(); ++i) {
        const TaskItem& result = outcome.results[i];
        int item = i < outcome.itemOf.size() ? outcome.itemOf[i] : -1;
        if (item < 0 || static_cast<size_t>(item) >= items.size() || !items[item].context)
            continue;  // a result without its comic cannot name a task
        Vellix::DownloadTask* task =
            downloader.CreateTask(items[item].context.get(), result.name.c_str(), result.url.c_str());
        if (!task)
            break;
        if (!result.cookie.empty())
            task->SetCookie(result.cookie.c_str());
        if (!result.headers.empty())
            task->SetHeaders(result.headers.c_str());
        if (result.proxy)
            task->SetOption("Proxy", nullptr);
        for (const ImageRecord& image : result.images)
            task->AddImage(image.url.c_str(), image.ref.c_str());
        task->Finish();
    }
}

}  // namespace

void SetGrabDialogs(GrabDialogFn grab, GrabFailedDialogFn failed) {
    g_grabDialog = grab;
    g_grabFailedDialog = failed;
}

void msg_grab::Run(HWND owner) {
    if (!g_grabDialog) {
        Brimholt::Log << "No grab dialog to run" << std::endl;
        return;
    }
    GrabOutcome outcome;
    g_grabDialog(owner, items, outcome);
    if (outcome.code != 1) {
        if (!g_grabFailedDialog || g_grabFailedDialog(owner, outcome) != 1)
            return;
        if (!outcome.results.empty()) {  // the volume that failed
            outcome.results.pop_back();
            if (outcome.itemOf.size() > outcome.results.size())
                outcome.itemOf.resize(outcome.results.size());
        }
    }
    if (outcome.results.empty())
        return;
    AppContext* context = GetAppContext();
    if (!context)
        return;
    Vellix::Downloader* downloader = context->GetDownloadMgr()->GetActive();
    CreateTasks(*downloader, items, outcome);
    downloader->Commit();
    for (const GrabItem& item : items) {
        if (item.context)
            item.context->ReportStatistics();
    }
    for (const auto& records : outcome.volumeRecords)
        context->Database().Post(new CUpdateVols(records.first, records.second));
}
