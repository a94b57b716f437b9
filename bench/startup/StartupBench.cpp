// Starts one program and measures it: the time from CreateProcess to its first visible top-level
// window of the given class, then its memory once start-up has settled. Closes it with WM_CLOSE
// (answering Yes when it asks first).
//   startup_bench CLASS SETTLE_MS PROGRAM.exe [READY_CONTROL_ID]
// With READY_CONTROL_ID the program is also timed to "usable": a visible, enabled control of that id
// in one of its windows, and then its main window answering a sent message (the reply comes only
// once its thread is back in its message loop, so whatever filled that control's window is done);
// its memory is read at that point too.
// One line: startup seconds=S [usable_seconds=S usable_private_kb=N] working_set_kb=N private_kb=N
//   peak_working_set_kb=N private_from=FIELD exit=N
#define PSAPI_VERSION 2
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Find {
    DWORD pid;
    const wchar_t* cls;
    HWND found;
};

// By process as well as class: a window of another instance must not count.
BOOL CALLBACK Match(HWND window, LPARAM param) {
    Find* find = reinterpret_cast<Find*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64];
    if (pid == find->pid && IsWindowVisible(window) && GetClassNameW(window, cls, 64) &&
        std::wcscmp(cls, find->cls) == 0) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

struct Ready {
    DWORD pid;
    int id;
    HWND found;
};

BOOL CALLBACK MatchReadyChild(HWND child, LPARAM param) {
    Ready* ready = reinterpret_cast<Ready*>(param);
    if (GetDlgCtrlID(child) == ready->id && IsWindowVisible(child) && IsWindowEnabled(child)) {
        ready->found = child;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK MatchReady(HWND window, LPARAM param) {
    Ready* ready = reinterpret_cast<Ready*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == ready->pid)
        EnumChildWindows(window, MatchReadyChild, param);
    return ready->found ? FALSE : TRUE;
}

// Wine leaves PrivateUsage at 0 and reports the Linux process's resident anonymous memory as
// PagefileUsage, which Windows keeps equal to PrivateUsage.
bool ReadMemory(HANDLE process, PROCESS_MEMORY_COUNTERS_EX& memory, SIZE_T& privateBytes, bool& wine) {
    memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        std::fprintf(stderr, "startup_bench: GetProcessMemoryInfo failed, error %lu\n", GetLastError());
        return false;
    }
    wine = memory.PrivateUsage == 0;
    privateBytes = wine ? memory.PagefileUsage : memory.PrivateUsage;
    return true;
}

BOOL CALLBACK MatchQuestion(HWND window, LPARAM param) {
    Find* find = reinterpret_cast<Find*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64];
    if (pid == find->pid && IsWindowVisible(window) && GetClassNameW(window, cls, 64) &&
        std::wcscmp(cls, L"#32770") == 0 && GetDlgItem(window, IDYES)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

// Closing with unfinished tasks asks first; the answer is Yes, as a user who means to quit gives.
DWORD CloseAndWait(const PROCESS_INFORMATION& pi, HWND main) {
    PostMessageW(main, WM_CLOSE, 0, 0);
    ULONGLONG deadline = GetTickCount64() + 30000;
    while (WaitForSingleObject(pi.hProcess, 50) != WAIT_OBJECT_0) {
        if (GetTickCount64() > deadline) {
            TerminateProcess(pi.hProcess, 1);
            return 0xFFFFFFFF;
        }
        Find question = {pi.dwProcessId, nullptr, nullptr};
        EnumWindows(MatchQuestion, reinterpret_cast<LPARAM>(&question));
        if (question.found)
            PostMessageW(question.found, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(question.found, IDYES)));
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: startup_bench CLASS SETTLE_MS PROGRAM.exe [READY_CONTROL_ID]\n");
        return 2;
    }
    const wchar_t* cls = argv[1];
    DWORD settle = std::wcstoul(argv[2], nullptr, 10);
    std::wstring program = argv[3];
    std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
    std::wstring command = L"\"" + program + L"\"";
    int readyId = argc == 5 ? static_cast<int>(std::wcstol(argv[4], nullptr, 10)) : 0;

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    LARGE_INTEGER start, visible;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                        &pi)) {
        std::fprintf(stderr, "startup_bench: CreateProcess failed, error %lu\n", GetLastError());
        return 1;
    }
    Find find = {pi.dwProcessId, cls, nullptr};
    ULONGLONG deadline = GetTickCount64() + 120000;
    while (!find.found) {
        EnumWindows(Match, reinterpret_cast<LPARAM>(&find));
        if (find.found)
            break;
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0 || GetTickCount64() > deadline) {
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            std::fprintf(stderr, "startup_bench: no visible %ls window (exit code %lu)\n", cls, code);
            TerminateProcess(pi.hProcess, 1);
            return 1;
        }
    }
    QueryPerformanceCounter(&visible);

    PROCESS_MEMORY_COUNTERS_EX memory;
    SIZE_T privateBytes = 0;
    bool wine = false;
    char usable[96] = "";
    if (readyId) {
        Ready ready = {pi.dwProcessId, readyId, nullptr};
        while (!ready.found) {
            EnumWindows(MatchReady, reinterpret_cast<LPARAM>(&ready));
            if (ready.found)
                break;
            if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0 || GetTickCount64() > deadline) {
                std::fprintf(stderr, "startup_bench: no enabled control %d appeared\n", readyId);
                TerminateProcess(pi.hProcess, 1);
                return 1;
            }
        }
        DWORD_PTR reply = 0;
        if (!SendMessageTimeoutW(find.found, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &reply)) {
            std::fprintf(stderr, "startup_bench: the main window did not answer, error %lu\n", GetLastError());
            TerminateProcess(pi.hProcess, 1);
            return 1;
        }
        LARGE_INTEGER answered;
        QueryPerformanceCounter(&answered);
        if (!ReadMemory(pi.hProcess, memory, privateBytes, wine)) {
            TerminateProcess(pi.hProcess, 1);
            return 1;
        }
        std::snprintf(usable, sizeof usable, "usable_seconds=%.4f usable_private_kb=%zu ", Seconds(start, answered),
                      privateBytes / 1024);
    }

    // Memory once the start-up's own work (the first requests, the first paint) is over.
    WaitForInputIdle(pi.hProcess, settle);
    Sleep(settle);
    if (!ReadMemory(pi.hProcess, memory, privateBytes, wine)) {
        TerminateProcess(pi.hProcess, 1);
        return 1;
    }

    DWORD code = CloseAndWait(pi, find.found);
    std::printf("startup seconds=%.4f %sworking_set_kb=%zu private_kb=%zu peak_working_set_kb=%zu private_from=%s "
                "exit=%ld\n",
                Seconds(start, visible), usable, memory.WorkingSetSize / 1024, privateBytes / 1024,
                memory.PeakWorkingSetSize / 1024, wine ? "PagefileUsage" : "PrivateUsage", static_cast<long>(code));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0 ? 0 : 1;
}
