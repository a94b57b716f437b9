// The stand-in main window and the screenshot and object-count helpers of the window tests.
#include "UiTestSupport.h"

#include <AppContext.h>
#include <LanguageTranslator.h>
#include <LinuxTool.h>
#include <MsgCenter.h>
#include <UiMetrics.h>

#include <winternl.h>

#include <cstdio>
#include <cwchar>

TestFrame::~TestFrame() {
    if (m_hWnd)
        DestroyWindow();
}

bool TestFrame::Build(int width, int height) {
    RECT frame = {0, 0, width, height};
    if (!Create(nullptr, frame, L"Vellix test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN))
        return false;
    MsgCenter& bus = GetAppContext()->Messages();
    id = bus.RegisterObserver(m_hWnd, this);
    bus.Subscribe(id, "simple_url", MsgThunk<&TestFrame::OnSimpleUrl>);
    bus.Subscribe(id, "search", MsgThunk<&TestFrame::OnSearch>);
    bus.Subscribe(id, "message_box", MsgThunk<&TestFrame::OnBox>);
    const UiMetrics& m = GetAppContext()->Metrics();
    RECT panelRect = {2 * m.frameCx + 60, 0, width, m.frameCy + 60};
    if (!panel.Create(m_hWnd, panelRect, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, IDC_PANEL))
        return false;
    RECT tabRect = {0, 2 * m.frameCy + 60, width, height};
    if (!tabs.Create(m_hWnd, tabRect, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, IDC_TAB_VIEW))
        return false;
    tabs.SetFont(m.messageFont);
    return true;
}

void TestFrame::Clear() {
    commands.clear();
    simpleUrls.clear();
    searches.clear();
    boxes.clear();
    activations = 0;
}

LRESULT TestFrame::OnNotify(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    if (hdr->code == TBVN_PAGEACTIVATED)
        ++activations;
    handled = FALSE;
    return 0;
}

bool ScreenshotRect(const RECT& r, const std::string& name) {
    char crop[64];
    snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top, r.left, r.top);
    std::string file = std::string(VX_SCREENS_DIR) + "/" + name + ".png";
    std::string out, error;
    vxtest::RunLinux({"/bin/mkdir", "-p", VX_SCREENS_DIR}, &out, &error, 20000);
    return vxtest::RunLinux({"/usr/bin/import", "-window", "root", "-crop", crop, file}, &out, &error, 20000);
}

bool Screenshot(HWND window, const std::string& name, int margin) {
    RECT r;
    if (!GetWindowRect(window, &r))
        return false;
    InflateRect(&r, margin, margin);
    // The engine windows pace the paints of a page that keeps changing: what the screen shows is
    // brought up to date before it is read.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // The picture is read from the X server, which Wine's window surfaces reach a little later:
    // the thread goes on taking its messages meanwhile.
    bool quit = false;
    for (DWORD start = GetTickCount(); !quit && GetTickCount() - start < 150;) {
        MSG msg;
        while (!quit && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));  // left for the loop that waits for it
                quit = true;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
    if (r.left < 0)
        r.left = 0;
    if (r.top < 0)
        r.top = 0;
    return ScreenshotRect(r, name);
}

std::string LanguageTag() {
    return Brimholt::BuiltInCodeForOemCp(GetOEMCP()) == "zh-cn" ? "zh" : "en";
}

namespace {

ModalDrive* g_drive = nullptr;

struct Search {
    const ModalDrive* drive;
    HWND found;
};

BOOL CALLBACK TakeDialog(HWND w, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    const ModalDrive* d = search->drive;
    if (w == d->skip || wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(w) || (d->accept && !d->accept(w)))
        return TRUE;
    search->found = w;
    return FALSE;
}

// A static stdcall function: on i686 a lambda does not convert to a timer callback.
void CALLBACK DriveTick(HWND, UINT, UINT_PTR, DWORD) {
    ModalDrive* d = g_drive;
    if (!d)
        return;
    if (d->dialog) {
        if (GetTickCount() > d->deadline && IsWindow(d->dialog))
            EndDialog(d->dialog, kModalTimedOut);
        return;
    }
    Search search = {d, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), TakeDialog, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return;
    d->dialog = search.found;
    d->deadline = GetTickCount() + 10000;  // ticks handled while the inspection pumps
    RedrawWindow(d->dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (d->inspect)
        d->inspect(d->dialog);
    d->deadline = GetTickCount() + 10000;
    if (d->message)
        PostMessageW(d->dialog, d->message, d->wParam, 0);
}

}  // namespace

ModalDriver::ModalDriver(ModalDrive& drive) : timer_(0) {
    g_drive = &drive;
    timer_ = SetTimer(nullptr, 0, 30, DriveTick);
}

ModalDriver::~ModalDriver() {
    KillTimer(nullptr, timer_);
    g_drive = nullptr;
}

int RunDriven(ModalDrive& drive, const std::function<int()>& run) {
    ModalDriver driver(drive);
    return run();
}

namespace {

// Wine's GetGuiResources answers 0. Its GDI handles live in the table the PEB points to (the
// layout Windows uses as well); a used entry has a type.
struct GdiEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 userPointer;
};
static_assert(sizeof(GdiEntry) == 24, "GDI handle entry");

DWORD CountGdiEntries() {
#ifdef _WIN64
    const size_t offset = 0xF8;
#else
    const size_t offset = 0x94;
#endif
    auto* peb = reinterpret_cast<const BYTE*>(NtCurrentTeb()->ProcessEnvironmentBlock);
    auto* table = *reinterpret_cast<GdiEntry* const*>(peb + offset);
    if (!table)
        return 0;
    DWORD count = 0;
    for (size_t i = 0; i < 0x10000; ++i)
        count += table[i].type != 0;
    return count;
}

// User handles are an index in the low word; Wine takes a handle without its generation.
DWORD CountUserHandles() {
    DWORD self = GetCurrentProcessId(), count = 0;
    for (UINT_PTR low = 0x20; low <= 0xFFFE; low += 2) {
        HANDLE h = reinterpret_cast<HANDLE>(low);
        DWORD pid = 0;
        if (IsWindow(static_cast<HWND>(h)) && GetWindowThreadProcessId(static_cast<HWND>(h), &pid) && pid == self)
            ++count;
        else if (IsMenu(static_cast<HMENU>(h)))
            ++count;
    }
    return count;
}

}  // namespace

GuiCounts GuiCounts::Now() {
    HANDLE process = GetCurrentProcess();
    GuiCounts counts = {GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS)};
    if (counts.gdi == 0)
        counts.gdi = CountGdiEntries();
    if (counts.user == 0)
        counts.user = CountUserHandles();
    return counts;
}

bool GuiCounts::SeesNewObjects() {
    GuiCounts before = Now();
    HBRUSH brushes[5];
    HMENU menus[5];
    for (int i = 0; i < 5; ++i) {
        brushes[i] = CreateSolidBrush(RGB(i, 0, 0));
        menus[i] = CreatePopupMenu();
    }
    GuiCounts during = Now();
    for (int i = 0; i < 5; ++i) {
        DeleteObject(brushes[i]);
        DestroyMenu(menus[i]);
    }
    GuiCounts after = Now();
    return during.gdi == before.gdi + 5 && during.user == before.user + 5 && after.gdi == before.gdi &&
           after.user == before.user;
}
