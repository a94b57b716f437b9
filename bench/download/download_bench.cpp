// Downloads COUNT images through the built-in downloader (20 tasks, five slots, files saved, image
// states recorded by the database worker) and prints the time and the peak memory.
// Usage: download_bench URL-PREFIX COUNT FOLDER [--phases] [--view]; image i is URL-PREFIX + "&n=" +
// i. With --phases every image's request is timed phase by phase (bench/trace) and the phases are
// printed. With --view the real download view in a shown window is the downloader's observer (its
// rows, reports and paints on this thread) in place of the stand-in windows' recorder; with
// --view-hidden the view's window is never shown, for the share of its paints.
#include <DownloaderTestSupport.h>

#include <AppContext.h>
#include <AppDatabase.h>
#include <AppPath.h>
#include <DbJobs.h>
#include <DownloadView.h>
#include <DownloaderImpl.h>
#include <PhaseTrace.h>
#include <VxDownloadMgr.h>
#include <common/CodePage.h>
#include <wtl/Module.h>

#include <commctrl.h>

#include <psapi.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: download_bench URL-PREFIX COUNT FOLDER\n");
        return 2;
    }
    const std::string prefix = ToNarrow(argv[1], CP_UTF8);
    const int count = _wtoi(argv[2]);
    std::wstring folder = argv[3];
    if (folder.back() != L'\\')
        folder += L'\\';
    SetAppPathForTesting(folder);

    AppContext context;
    if (!context.Database().Open()) {
        std::fprintf(stderr, "cannot open the database\n");
        return 1;
    }
    bool phases = false, withView = false, hidden = false;
    for (int i = 4; i < argc; ++i) {
        phases = phases || std::wstring(argv[i]) == L"--phases";
        withView = withView || std::wstring(argv[i]) == L"--view" || std::wstring(argv[i]) == L"--view-hidden";
        hidden = hidden || std::wstring(argv[i]) == L"--view-hidden";
    }
    DownloadWindows windows(context.Messages());
    CDownloaderImpl& downloader = context.GetDownloadMgr()->GetBuiltIn();
    windows.Attach(&downloader);
    HWND host = nullptr;
    CDownloadView* view = nullptr;
    if (withView) {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        WTL::AppModule().Init(nullptr);
        host = CreateWindowExW(0, L"STATIC", L"Downloads", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 820, 600,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        // The view points the downloader at itself.
        view = static_cast<CDownloadView*>(CDownloadView::Make(host));
        if (!view) {
            std::fprintf(stderr, "no download view\n");
            return 1;
        }
        RECT rc;
        GetClientRect(host, &rc);
        MoveWindow(view->GetHwnd(), 0, 0, rc.right, rc.bottom, FALSE);
        ShowWindow(view->GetHwnd(), SW_SHOW);
        if (!hidden) {
            ShowWindow(host, SW_SHOW);
            UpdateWindow(host);
        }
    }

    const int tasks = 20;
    NamedComic comic("Bench");
    for (int t = 0; t < tasks; ++t) {
        std::wstring volume = L"Volume " + std::to_wstring(t + 1);
        std::string url = "http://bench.test/volume/" + std::to_string(t);
        Vellix::DownloadTask* task = downloader.CreateTask(&comic, volume.c_str(), url.c_str());
        for (int i = t; i < count; i += tasks)
            task->AddImage((prefix + "&n=" + std::to_string(i)).c_str(), url.c_str());
        task->Finish();
    }

    phases = phases && vxbench::InstallPhaseTrace();
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    downloader.Commit();
    bool finished = windows.WaitFinished(downloader, 600000);
    QueryPerformanceCounter(&t1);
    double seconds = double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
    // What the database worker still had queued when the last image was in (posted status updates).
    GetFinishedTasks barrier;
    context.Database().RunSync(&barrier);
    LARGE_INTEGER t2;
    QueryPerformanceCounter(&t2);
    double backlog = double(t2.QuadPart - t1.QuadPart) / double(f.QuadPart);

    int done = 0, failed = 0;
    for (const TaskRecord& task : downloader.Tasks()) {
        done += task.done;
        failed += task.failed;
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("vellix images=%d done=%d failed=%d seconds=%.3f images/s=%.1f database-backlog-seconds=%.3f "
                "peak-working-set-MB=%.1f peak-private-MB=%.1f%s%s\n",
                count, done, failed, seconds, count / seconds, backlog, memory.PeakWorkingSetSize / 1048576.0,
                memory.PeakPagefileUsage / 1048576.0, !view ? "" : hidden ? " view=hidden" : " view=on", finished ? "" : " UNFINISHED");
    if (phases)
        vxbench::PrintPhases("download");
    if (view) {
        size_t rows = htmlayout::dom::element::root_element(view->engine).find_all("div.taskItem").size();
        std::printf("view rows=%zu of tasks=%zu\n", rows, downloader.Tasks().size());
        DestroyWindow(view->GetHwnd());
        DestroyWindow(host);
        PumpPending();
    }
    return finished && failed == 0 ? 0 : 1;
}
