// Starts one program and measures it: the time from CreateProcess to its first visible top-level
// window of the given class, then its memory once start-up has settled. Closes it with WM_CLOSE.
//   startup_bench CLASS SETTLE_MS PROGRAM.exe
// One line: startup seconds=S working_set_kb=N private_kb=N peak_working_set_kb=N private_from=FIELD exit=N
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

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: startup_bench CLASS SETTLE_MS PROGRAM.exe\n");
        return 2;
    }
    const wchar_t* cls = argv[1];
    DWORD settle = std::wcstoul(argv[2], nullptr, 10);
    std::wstring program = argv[3];
    std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
    std::wstring command = L"\"" + program + L"\"";

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

    // Memory once the start-up's own work (the first requests, the first paint) is over.
    WaitForInputIdle(pi.hProcess, settle);
    Sleep(settle);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(pi.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        std::fprintf(stderr, "startup_bench: GetProcessMemoryInfo failed, error %lu\n", GetLastError());
        TerminateProcess(pi.hProcess, 1);
        return 1;
    }

    // Wine leaves PrivateUsage at 0 and reports the Linux process's resident anonymous memory as
    // PagefileUsage, which Windows keeps equal to PrivateUsage.
    bool wine = memory.PrivateUsage == 0;
    SIZE_T privateBytes = wine ? memory.PagefileUsage : memory.PrivateUsage;

    PostMessageW(find.found, WM_CLOSE, 0, 0);
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        TerminateProcess(pi.hProcess, 1);
        code = 0xFFFFFFFF;
    }
    std::printf("startup seconds=%.4f working_set_kb=%zu private_kb=%zu peak_working_set_kb=%zu private_from=%s "
                "exit=%ld\n",
                Seconds(start, visible), memory.WorkingSetSize / 1024, privateBytes / 1024,
                memory.PeakWorkingSetSize / 1024, wine ? "PagefileUsage" : "PrivateUsage", static_cast<long>(code));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0 ? 0 : 1;
}
