// The HTML views in real windows over a real Vellix.dat, each figure printed next to its target.
//   view_bench downloads FOLDER TASKS [UPDATES]
//     TASKS stored tasks (half finished with 100 images each, half paused halfway), written through
//     the program's database worker; the download view created over them and timed to its first
//     paint; UPDATES progress reports (default 10,000) posted to it as the downloader posts them,
//     spread over the rows; then Clear Completed.
//   view_bench comic FOLDER VOLUMES
//     a favourite comic with VOLUMES volumes and a stored state for each; the comic view's fill
//     with the merge of the stored states.
// FOLDER is an empty program folder (Vellix.dat goes there).
#include <AppContext.h>
#include <AppDatabase.h>
#include <AppPath.h>
#include <DbJobs.h>
#include <DownloadView.h>
#include <DownloaderImpl.h>
#include <FavoritesStore.h>
#include <JsonUtil.h>
#include <MangaView.h>
#include <Messages.h>
#include <MsgCenter.h>
#include <ParseContext.h>
#include <Tessara.h>
#include <VolumeRecordSet.h>
#include <VxDownloadMgr.h>
#include <wtl/Module.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const int kImagesPerTask = 100;
const int kRounds = 5;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "min-max of N, ms"
std::string Spread(const std::vector<double>& values) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f-%.1f ms over %zu", *std::min_element(values.begin(), values.end()) * 1000,
                  *std::max_element(values.begin(), values.end()) * 1000, values.size());
    return text;
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The posted messages alone: a paint waits for PaintNow, so that the two are timed apart.
void PumpPosted() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() > deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        PumpPending();
    }
    return true;
}

// Paints the window and its children now. The engine paces the paints of changes that come fast,
// so what a change left to paint may wait for its timer: the paint is asked for, and so always timed.
void PaintNow(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void PaintAll(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// The window a view lives in: a plain top-level window in place of the tab view.
HWND MakeHost(const wchar_t* title, int width, int height) {
    HWND host = CreateWindowExW(0, L"STATIC", title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, width, height,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    return host;
}

void FitAndShow(HWND host, HWND view) {
    RECT rc;
    GetClientRect(host, &rc);
    MoveWindow(view, 0, 0, rc.right, rc.bottom, FALSE);
    ShowWindow(view, SW_SHOW);
    ShowWindow(host, SW_SHOW);
}

// The stored tasks as a user's history leaves them, written by the database worker in one
// transaction: odd rowids finished, the others finished with two failed images or paused halfway.
class StoreTasks : public VxDBTask {
public:
    StoreTasks(int count, std::wstring root) : VxDBTask(false), tasks(count), folder(std::move(root)) {}
    void Execute(sqlite3** db) override {
        SqlStatement begin(*db, "BEGIN");
        begin.Run();
        SqlStatement task(*db, "INSERT INTO Task2(rowid, url, Name, Cookie, Path, Headers, Proxy, Status) "
                               "VALUES(?, ?, ?, '', ?, '', 0, ?)");
        SqlStatement image(*db, "INSERT INTO Image2(url, ref, target, status, parent, ext) VALUES(?, ?, ?, ?, ?, ?)");
        for (int t = 1; t <= tasks; ++t) {
            const bool clean = t % 2 == 1;
            const bool finished = clean || t % 4 == 0;
            const std::string url = "http://127.0.0.1:9/comic/" + std::to_string((t - 1) / 20 + 1) + "/vol/" +
                                    std::to_string((t - 1) % 20 + 1);
            const std::wstring name = L"Bench Comic " + std::to_wstring((t - 1) / 20 + 1) + L" Volume " +
                                      std::to_wstring((t - 1) % 20 + 1);
            task.Reset();
            task.BindInt(1, t);
            task.BindText(2, url);
            task.BindText(3, name);
            task.BindText(4, folder + name + L"\\");
            task.BindInt(5, finished ? kTaskFinished : kTaskPaused);
            ok = ok && task.Run() == SQLITE_DONE;
            for (int n = 1; n <= kImagesPerTask; ++n) {
                int status = kImageDone;
                if (finished && !clean && n % 50 == 0)
                    status = kImageFailed;
                if (!finished && n > kImagesPerTask / 2)
                    status = kImageWaiting;
                char target[8];
                std::snprintf(target, sizeof target, "%04d", n);
                image.Reset();
                image.BindText(1, url + "/page/" + std::to_string(n) + ".jpg");
                image.BindText(2, url);
                image.BindText(3, std::string(target));
                image.BindInt(4, status);
                image.BindInt(5, t);
                if (status == kImageDone)
                    image.BindText(6, std::string(".jpg"));
                ok = ok && image.Run() == SQLITE_DONE;
            }
        }
        SqlStatement commit(*db, "COMMIT");
        ok = ok && commit.Run() == SQLITE_DONE;
    }
    const int tasks;
    const std::wstring folder;
    bool ok = true;
};

int Rows(CDownloadView* view) {
    return static_cast<int>(
        htmlayout::dom::element::root_element(view->engine).find_all("div.taskItem").size());
}

int Downloads(AppContext& context, int tasks, int updates) {
    std::printf("== download view, %d stored tasks (%d images each)\n", tasks, kImagesPerTask);
    StoreTasks store(tasks, GetAppPath(L"Downloads") + L"\\");
    double t0 = Now();
    context.Database().RunSync(&store);
    if (!store.ok) {
        std::fprintf(stderr, "view_bench: the tasks were not stored\n");
        return 1;
    }
    double t1 = Now();
    CDownloaderImpl& downloader = context.GetDownloadMgr()->GetBuiltIn();
    double t2 = Now();
    std::printf("stored tasks written              %8.1f ms\n", (t1 - t0) * 1000);
    std::printf("stored tasks loaded (downloader)  %8.1f ms  tasks=%zu\n", (t2 - t1) * 1000,
                downloader.Tasks().size());

    HWND host = MakeHost(L"Downloads", 820, 600);
    // From the view's creation to its first paint, as the tab view makes it; a few times, the
    // last view staying for the rest, since this host's load varies.
    CDownloadView* view = nullptr;
    std::vector<double> made, shown;
    for (int round = 0; round < kRounds; ++round) {
        if (view) {
            DestroyWindow(view->GetHwnd());
            PumpPending();
        }
        double c0 = Now();
        view = static_cast<CDownloadView*>(CDownloadView::Make(host));
        if (!view) {
            std::fprintf(stderr, "view_bench: no download view\n");
            return 1;
        }
        double c1 = Now();
        FitAndShow(host, view->GetHwnd());
        PaintNow(host);
        double c2 = Now();
        PumpPending();
        made.push_back(c1 - c0);
        shown.push_back(c2 - c0);
    }
    const int rows = Rows(view);
    std::printf("view created (rows made)          %8.1f ms  (%s)\n", Median(made) * 1000, Spread(made).c_str());
    std::printf("view created to first paint       %8.1f ms  rows=%d (%s)   target < 1000 ms\n", Median(shown) * 1000,
                rows, Spread(shown).c_str());

    // Progress as the downloader reports it: posted to the view, a burst between two paints.
    MsgCenter& bus = context.Messages();
    const int burst = 100;
    double handled = 0, painted = 0;
    int invalid = 0, bursts = 0;
    double u0 = Now();
    for (int sent = 0; sent < updates;) {
        for (int i = 0; i < burst && sent < updates; ++i, ++sent) {
            int rowid = sent % tasks + 1;
            int done = sent / tasks + 1;
            bus.PostTo(view->id, new msg_task_progress(rowid, done, done % 7 == 0 ? 1 : 0, kImagesPerTask));
        }
        double p0 = Now();
        PumpPosted();
        double p1 = Now();
        if (GetUpdateRect(view->engine, nullptr, FALSE))
            ++invalid;
        PaintNow(host);
        painted += Now() - p1;
        handled += p1 - p0;
        ++bursts;
    }
    double u1 = Now();
    std::printf("progress updates over %5d rows  %8.0f /s  (%d in %.1f ms, a paint every %d)   target >= 2000/s\n",
                tasks, updates / (u1 - u0), updates, (u1 - u0) * 1000, burst);
    std::printf("  handlers %.1f ms, paints %.1f ms (%d of %d bursts left something to paint), posting %.1f ms\n",
                handled * 1000, painted * 1000, invalid, bursts, (u1 - u0 - handled - painted) * 1000);

    // The splits: the handler called directly, and the bare cost of a posted message here.
    double h0 = Now();
    for (int sent = 0; sent < updates; ++sent) {
        int rowid = sent % tasks + 1;
        int done = sent / tasks + 1 + updates / tasks;
        msg_task_progress msg(rowid, done, done % 7 == 0 ? 1 : 0, kImagesPerTask);
        view->OnTaskProgress(&msg);
        if (sent % burst == burst - 1)
            PaintNow(host);
    }
    double h1 = Now();
    for (int sent = 0; sent < updates; ++sent) {
        PostMessageW(host, WM_NULL, 0, 0);
        if (sent % burst == burst - 1)
            PumpPending();
    }
    PumpPending();
    double h2 = Now();
    std::printf("  split: the handler called directly %.0f /s; a bare posted message %.0f /s\n",
                updates / (h1 - h0), updates / (h2 - h1));

    // Clear Completed: the finished tasks' rows go, the paused ones stay.
    double d0 = Now();
    SendMessageW(view->GetHwnd(), WM_COMMAND, MAKEWPARAM(IDC_DV_CLEAR, BN_CLICKED), 0);
    double d1 = Now();
    PaintNow(host);
    double d2 = Now();
    GetFinishedTasks barrier;  // the posted deletion has run once this one has
    context.Database().RunSync(&barrier);
    double d3 = Now();
    std::printf("clear completed (click to paint)  %8.1f ms  rows %d -> %d (handler %.1f ms, paint %.1f ms)   "
                "target < 500 ms\n",
                (d2 - d0) * 1000, rows, Rows(view), (d1 - d0) * 1000, (d2 - d1) * 1000);
    std::printf("  database deletion after it      %8.1f ms (on the database worker)\n", (d3 - d2) * 1000);
    DestroyWindow(view->GetHwnd());
    DestroyWindow(host);
    PumpPending();
    return 0;
}

// Observer 0 in place of the main window: the comic view's question after a parse without a
// script is answered No.
class FrameSink : public VxMsgObserver {
public:
    void OnBox(msg_message_box* msg) {
        ++boxes;
        msg->result = IDNO;
    }
    int boxes = 0;
};

LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* sink = reinterpret_cast<FrameSink*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (sink && sink->OnMessage(window, message, wParam, lParam, result))
        return result;
    return DefWindowProcW(window, message, wParam, lParam);
}

int Comic(AppContext& context, int volumes) {
    std::printf("== comic view, a favourite with %d volumes and a stored state for each\n", volumes);
    const std::string comic = "http://127.0.0.1:9/comic/bench.html";
    std::string list = "[";
    VolumeRecordSet stored;
    stored.url = comic;
    for (int i = 0; i < volumes; ++i) {
        std::string url = "http://127.0.0.1:9/comic/bench/vol-" + std::to_string(i + 1) + ".html";
        list += std::string(i ? "," : "") + "{\"title\":\"Volume " + std::to_string(i + 1) + "\",\"url\":\"" + url +
                "\"}";
        // Most downloaded, some seen, a few new ones left unrecorded.
        if (i % 10 != 9)
            stored.records[url] = i % 3 == 0 ? 0 : 2;
    }
    list += "]";
    CUpdateVols write(comic, stored.ToJson());
    context.Database().RunSync(&write);
    JsonTree node(newDictionaryValue());
    context.Favorites().index[comic] = node.get();
    context.Database().SetConfig("FastCheck", "1");  // the tip was dismissed long ago

    // The merge alone, as the view does it, for the split.
    {
        JsonTree volumesTree(ParseJsonText(list));
        double m0 = Now();
        VolumeRecordSet records;
        records.Load(comic);
        records.MergeVolumes(volumesTree.get());
        double m1 = Now();
        std::printf("stored states loaded and merged   %8.1f ms  records=%zu\n", (m1 - m0) * 1000,
                    records.records.size());
    }

    FrameSink sink;
    HWND frame = CreateWindowExW(0, L"STATIC", L"frame", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&sink));
    SetWindowLongPtrW(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SinkProc));
    sink.id = context.Messages().RegisterObserver(frame, &sink);
    context.Messages().Subscribe(sink.id, "message_box", MsgThunk<&FrameSink::OnBox>);

    // A comic whose script is gone: the view's own parse gives nothing, and the built list then
    // comes in through the parser's report.
    auto parse = std::make_shared<CParseContext>();
    parse->url = comic;
    parse->info = ParseJsonText("{\"name\":\"Bench\",\"author\":\"Bench\",\"finished\":false}");
    HWND host = MakeHost(L"Comic", 840, 560);
    CMangaView* view = CMangaView::Make(host, std::wstring(comic.begin(), comic.end()), "", parse);
    if (!view) {
        std::fprintf(stderr, "view_bench: no comic view\n");
        return 1;
    }
    FitAndShow(host, view->GetHwnd());
    if (!PumpUntil([&] { return sink.boxes > 0 && !view->Parsing(); }, 20000)) {
        std::fprintf(stderr, "view_bench: the comic view's parse did not end\n");
        return 1;
    }
    PaintAll(host);
    PumpPending();

    // The fill a few times over, as a second parse of the same comic would run it.
    std::vector<double> fills, paints;
    double f2 = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto tree = std::make_shared<JsonTree>(ParseJsonText(list));
        double f0 = Now();
        view->OnVolumesParsed(1, tree);
        double f1 = Now();
        PaintNow(host);
        f2 = Now();
        fills.push_back(f1 - f0);
        paints.push_back(f2 - f1);
        PumpPending();
    }
    int listed = ListView_GetItemCount(view->List());
    int ticked = 0;
    for (int i = 0; i < listed; ++i)
        ticked += ListView_GetCheckState(view->List(), i) ? 1 : 0;
    std::printf("volumes filled and merged         %8.1f ms  listed=%d ticked=%d (%s; paint after it %.1f ms)   "
                "target < 300 ms\n",
                Median(fills) * 1000, listed, ticked, Spread(fills).c_str(), Median(paints) * 1000);
    GetFinishedTasks barrier;
    context.Database().RunSync(&barrier);
    double f3 = Now();
    std::printf("  stored states written after it  %8.1f ms (on the database worker)\n", (f3 - f2) * 1000);
    DestroyWindow(view->GetHwnd());
    DestroyWindow(host);
    PumpPending();
    context.Favorites().index.clear();
    context.Messages().UnregisterObserver(sink.id);
    DestroyWindow(frame);
    return listed == volumes ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: view_bench downloads|comic FOLDER COUNT [UPDATES]\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    std::wstring folder = argv[2];
    if (folder.back() != L'\\')
        folder += L'\\';
    const int count = _wtoi(argv[3]);
    const int updates = argc > 4 ? _wtoi(argv[4]) : 10000;
    SetAppPathForTesting(folder);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WTL::AppModule().Init(nullptr);

    AppContext context;
    if (!context.Database().Open()) {
        std::fprintf(stderr, "view_bench: cannot open the database\n");
        return 1;
    }
    int code = mode == L"comic" ? Comic(context, count) : Downloads(context, count, updates);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("peak working set                  %8.1f MB\n", memory.PeakWorkingSetSize / 1048576.0);
    std::fflush(stdout);
    return code;
}
