// The road through the program's windows, as a user walks it, timed in one clock: the address typed
// into the address box and Enter, the comic view's volume list filled, Check All and then only the
// volumes whose names start with PREFIX left ticked, Download, and the download view's Start button
// shown (the grabbed tasks are queued) and hidden again (every task finished).
//   road_steps ADDRESS PREFIX ROWS SECONDS
// ROWS is how many volumes the list must show before the ticking. One line:
//   road listed_seconds=S ticked=N seconds=S download_seconds=S
// seconds runs from the click on Download to the Start button going, download_seconds from its
// showing (the grab done, the tasks queued) to its going. Run in the program's prefix.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include <RemoteList.h>

namespace {

// The program's ids (app/resources/Resource.h).
const int kInputBox = 1002;
const int kStart = 1102;
const int kVolumes = 1111;
const int kCheckAll = 1112;
const int kDownload = 1114;

ULONGLONG g_deadline;

struct Find {
    int id;
    bool visible;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
    Find* find = reinterpret_cast<Find*>(param);
    if (GetDlgCtrlID(child) == find->id && (!find->visible || IsWindowVisible(child))) {
        find->found = child;
        return FALSE;
    }
    return TRUE;
}

HWND Child(HWND root, int id, bool visible) {
    Find find = {id, visible, nullptr};
    EnumChildWindows(root, MatchChild, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// The control's own WS_VISIBLE: the download view may sit behind another tab.
bool Shown(HWND control) {
    return control && (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool Late(const char* what) {
    if (GetTickCount64() < g_deadline)
        return false;
    std::fprintf(stderr, "road_steps: timed out waiting for %s\n", what);
    return true;
}

double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

// A click as the button's parent sees it.
void Click(HWND button) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                        reinterpret_cast<LPARAM>(button), SMTO_NORMAL, 30000, &result);
}

HWND MainWindow() {
    for (;;) {
        HWND main = FindWindowW(L"Vellix2Window", nullptr);
        if (main && IsWindowVisible(main))
            return main;
        if (Late("the main window"))
            return nullptr;
        Sleep(20);
    }
}

// The comic view's Download button once its list holds ROWS volumes. The count is read before the
// button: the view disables Download before it shows its "analysing" row.
HWND ListedDownload(HWND main, int rows, HWND& list) {
    for (;;) {
        HWND download = Child(main, kDownload, true);
        list = download ? GetDlgItem(GetParent(download), kVolumes) : nullptr;
        if (download && list && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) >= rows && IsWindowEnabled(download))
            return download;
        if (Late("the comic view's volumes"))
            return nullptr;
        Sleep(10);
    }
}

int TickOnly(HWND list, const std::wstring& prefix) {
    RemoteList remote(list);
    if (!remote.Valid()) {
        std::fprintf(stderr, "road_steps: no memory in the program's process, error %lu\n", GetLastError());
        return -1;
    }
    int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    int ticked = 0;
    for (int i = 0; i < rows; ++i) {
        std::wstring text;
        bool ours = remote.Text(i, 0, text) && text.compare(0, prefix.size(), prefix) == 0;
        if (Ticked(list, i) != ours && !remote.SetTicked(i, ours))
            return -1;
        if (Ticked(list, i) != ours) {
            std::fprintf(stderr, "road_steps: volume %d does not take its tick\n", i);
            return -1;
        }
        ticked += ours ? 1 : 0;
    }
    return ticked;
}

bool WaitStart(HWND main, bool shown) {
    for (;;) {
        if (Shown(Child(main, kStart, false)) == shown)
            return true;
        if (Late(shown ? "the queued tasks" : "the tasks to finish"))
            return false;
        Sleep(5);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: road_steps ADDRESS PREFIX ROWS SECONDS\n");
        return 2;
    }
    const std::wstring prefix = argv[2];
    const int rows = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    g_deadline = GetTickCount64() + static_cast<ULONGLONG>(std::wcstod(argv[4], nullptr) * 1000);

    HWND main = MainWindow();
    // The download view opens once start-up is over; the address box waits for that.
    while (main && !Child(main, kStart, false)) {
        if (Late("the download view"))
            return 1;
        Sleep(20);
    }
    HWND box = main ? Child(main, kInputBox, true) : nullptr;
    if (!box) {
        std::fprintf(stderr, "road_steps: no address box\n");
        return 1;
    }
    double typed = Now();
    DWORD_PTR result = 0;
    SendMessageTimeoutW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[1]), SMTO_NORMAL, 30000, &result);
    PostMessageW(box, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(box, WM_KEYUP, VK_RETURN, 0xC0000001);
    HWND list = nullptr;
    HWND download = ListedDownload(main, rows, list);
    if (!download)
        return 1;
    double listed = Now();

    HWND checkAll = GetDlgItem(GetParent(download), kCheckAll);
    if (checkAll)
        Click(checkAll);
    int ticked = TickOnly(list, prefix);
    if (ticked <= 0) {
        std::fprintf(stderr, "road_steps: no volume named %ls... ticked\n", prefix.c_str());
        return 1;
    }
    double clicked = Now();
    Click(download);
    if (!WaitStart(main, true))
        return 1;
    double queued = Now();
    if (!WaitStart(main, false))
        return 1;
    double finished = Now();
    std::printf("road listed_seconds=%.3f ticked=%d seconds=%.3f download_seconds=%.3f\n", listed - typed, ticked,
                finished - clicked, finished - queued);
    return 0;
}
