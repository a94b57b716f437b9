// The program's entry: crash-report mode, the single-instance rule, and the application brought up
// around the main window's message loop and taken down in reverse.
#include "Application.h"
#include "CrashReport.h"
#include "wtl/AxHost.h"
#include "wtl/Module.h"

#include <common/Log.h>
#include <scripthost/Quillet.h>

#include <commctrl.h>

#include <cwchar>

namespace {

const wchar_t kCrashSwitch[] = L"-RunCrashDialog:";
const wchar_t kInstanceMutex[] = L"Local\\Vellix2Instance";
// How long a second start waits for the first one's window before it gives up.
const DWORD kFirstWindowWait = 15000;

bool BringToFront(HWND window) {
    if (!window)
        return false;
    if (::IsIconic(window) || !::IsWindowVisible(window))
        ::PostMessageW(window, RegisterWindowMessageW(L"WM_VX_TRAY"), 0, WM_LBUTTONDBLCLK);
    if (::IsIconic(window))
        ::ShowWindow(window, SW_RESTORE);
    ::SetForegroundWindow(window);
    return true;
}

// Two quick starts would both miss each other's window: the mutex decides, and the later start
// waits for the earlier one's window to bring it forward.
bool AnotherInstanceRuns(HANDLE& mutex) {
    mutex = ::CreateMutexW(nullptr, FALSE, kInstanceMutex);
    bool exists = ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (!exists)
        return BringToFront(::FindWindowW(L"Vellix2Window", nullptr));
    DWORD start = ::GetTickCount();
    for (;;) {
        if (BringToFront(::FindWindowW(L"Vellix2Window", nullptr)))
            return true;
        if (::GetTickCount() - start > kFirstWindowWait)
            return true;
        ::Sleep(50);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
    if (commandLine && std::wcsncmp(commandLine, kCrashSwitch, 16) == 0)
        return RunCrashDialog(commandLine + 16);

    HANDLE mutex = nullptr;
    if (AnotherInstanceRuns(mutex)) {
        if (mutex)
            ::CloseHandle(mutex);
        return 0;
    }

    SetLogTag("Vellix");
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_USEREX_CLASSES};
    ::InitCommonControlsEx(&controls);
    WTL::AxWinInit();
    WTL::AppModule().Init(instance);

    int result = RunApplication(show);

    VxFinalize();
    WTL::AxWinTerm();
    WTL::AppModule().Term();
    if (mutex)
        ::CloseHandle(mutex);
    return result;
}
