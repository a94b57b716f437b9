// Test helpers shared by the window-layer tests.
#include "WtlTestSupport.h"

#include "wtl/Module.h"
#include "wtl/Seams.h"

#include <commctrl.h>

namespace wtltest {

namespace {

// Before any test: the common controls the dialogs use, and the module.
struct ProcessSetup {
  ProcessSetup() {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    WTL::AppModule().Init(GetModuleHandleW(nullptr));
  }
} setup;

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    Pump();
    if (done())
      return true;
    if (GetTickCount() - start > timeoutMs)
      return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

SeamRecorder::SeamRecorder() {
  auto& s = WTL::Seams();
  s.messageBox = [this](HWND, const wchar_t* text, const wchar_t* caption, UINT flags) {
    boxes.push_back({text ? text : L"", caption ? caption : L"", flags});
    return boxAnswer;
  };
  s.shellOpen = [this](HWND, const wchar_t* file, const wchar_t*, int) {
    opened.push_back(file ? file : L"");
    return true;
  };
  s.browseFolder = [this](HWND, const wchar_t*, const std::wstring& start, int, std::wstring& chosen) {
    browseStarts.push_back(start);
    if (browseConfirms)
      chosen = browseAnswer;
    return browseConfirms;
  };
  s.trackPopupMenu = [this](HMENU menu, UINT flags, int x, int y, HWND owner) {
    tracks.push_back({menu, flags, x, y, owner});
    return trackAnswer;
  };
  s.messageBeep = [this](UINT type) {
    beeps.push_back(type);
    return TRUE;
  };
}

SeamRecorder::~SeamRecorder() { WTL::ResetSeams(); }

HostWindow::HostWindow(int width, int height, bool visible) {
  static ATOM atom = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"Vx.Test.Host";
    return RegisterClassExW(&wc);
  }();
  hwnd_ = CreateWindowExW(0, MAKEINTATOM(atom), L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0), 40, 40,
                          width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

HostWindow::~HostWindow() {
  if (IsWindow(hwnd_))
    DestroyWindow(hwnd_);
}

}  // namespace wtltest
