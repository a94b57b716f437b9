// Finds and closes a top-level window by class for scripts and tests that drive a Windows program
// from Linux, where no X tool sees the windows inside Wine's virtual desktop.
//   windowctl wait CLASS SECONDS    0 once a visible window of CLASS exists, 1 after SECONDS
//   windowctl close CLASS SECONDS   posts WM_CLOSE to it; 0 once no window of CLASS is left
//   windowctl gone CLASS SECONDS    0 once no window of CLASS is left
//   windowctl press CLASS ID SECONDS
//                                   clicks the shown button ID inside the window of CLASS, once it
//                                   is there; 0 once the button's owner took the click
//   windowctl answers CLASS SECONDS 0 when the shown window of CLASS answers a message within
//                                   SECONDS, 1 when it does not (busy or hung) or is not there
//   windowctl usage CLASS SECONDS   one line for the process of the shown window of CLASS:
//                                   private=BYTES working_set=BYTES handles=N listed_handles=N
//                                   (listed_handles: the system's process list, which Wine fills
//                                   for other processes where GetProcessHandleCount gives 0)
#define PSAPI_VERSION 2  // GetProcessMemoryInfo from kernel32, no psapi.dll
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

HWND FindVisible(const wchar_t* cls) {
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, cls, nullptr)) != nullptr) {
        if (IsWindowVisible(found))
            return found;
    }
    return nullptr;
}

// A tick count deadline: the program may take long to start, but a script must never hang.
bool PollUntil(double seconds, bool (*done)(const wchar_t*), const wchar_t* cls) {
    ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        if (done(cls))
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
}

bool Visible(const wchar_t* cls) { return FindVisible(cls) != nullptr; }
bool Gone(const wchar_t* cls) { return FindWindowW(cls, nullptr) == nullptr; }

typedef LONG(WINAPI* QuerySystem)(int, void*, ULONG, ULONG*);

// -1 when the process is not in the list.
long ListedHandles(DWORD pid) {
    auto query = reinterpret_cast<QuerySystem>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    std::string buffer(1 << 20, '\0');
    ULONG needed = 0;
    for (int tries = 0; tries < 4; ++tries) {
        LONG status = query(5 /* SystemProcessInformation */, &buffer[0], static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0)
            break;
        buffer.assign(buffer.size() * 4, '\0');
        if (tries == 3)
            return -1;
    }
    size_t offset = 0;
    for (;;) {
        const auto* info = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (reinterpret_cast<ULONG_PTR>(info->UniqueProcessId) == pid)
            return static_cast<long>(info->HandleCount);
        if (!info->NextEntryOffset)
            return -1;
        offset += info->NextEntryOffset;
    }
}

int Usage() {
    std::fprintf(stderr, "usage: windowctl wait|close|gone|answers|usage CLASS SECONDS | press CLASS ID SECONDS\n");
    return 2;
}

struct ChildSearch {
    int id;
    HWND found;
};

BOOL CALLBACK MatchShownChild(HWND child, LPARAM param) {
    ChildSearch* search = reinterpret_cast<ChildSearch*>(param);
    // The control's own style: its page may sit behind another tab.
    if (GetDlgCtrlID(child) == search->id && (GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE)) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

// A click as the button's parent sees it, sent so that the answer says the click was handled.
int Press(const wchar_t* cls, int id, double seconds) {
    ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        if (HWND window = FindVisible(cls)) {
            ChildSearch search = {id, nullptr};
            EnumChildWindows(window, MatchShownChild, reinterpret_cast<LPARAM>(&search));
            DWORD_PTR result = 0;
            if (search.found &&
                SendMessageTimeoutW(GetParent(search.found), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                    reinterpret_cast<LPARAM>(search.found), SMTO_NORMAL, 30000, &result))
                return 0;
        }
        if (GetTickCount64() >= end)
            break;
        Sleep(20);
    }
    std::fprintf(stderr, "windowctl: no shown button %d in a window of class %ls within %g s\n", id, cls, seconds);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"press")
        return Press(argv[2], _wtoi(argv[3]), std::wcstod(argv[4], nullptr));
    if (argc != 4)
        return Usage();
    std::wstring command = argv[1];
    const wchar_t* cls = argv[2];
    double seconds = std::wcstod(argv[3], nullptr);
    if (command == L"wait") {
        if (PollUntil(seconds, Visible, cls))
            return 0;
        std::fprintf(stderr, "windowctl: no visible window of class %ls within %g s\n", cls, seconds);
        return 1;
    }
    if (command == L"answers") {
        HWND window = FindVisible(cls);
        DWORD_PTR result = 0;
        if (window && SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(seconds * 1000),
                                          &result))
            return 0;
        std::fprintf(stderr, "windowctl: no shown window of class %ls answered within %g s\n", cls, seconds);
        return 1;
    }
    if (command == L"usage") {
        HWND window = nullptr;
        ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
        while (!(window = FindVisible(cls)) && GetTickCount64() < end)
            Sleep(20);
        DWORD pid = 0;
        if (window)
            GetWindowThreadProcessId(window, &pid);
        HANDLE process = pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof(memory);
        DWORD handles = 0;
        bool ok = process &&
                  GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)) &&
                  GetProcessHandleCount(process, &handles);
        if (process)
            CloseHandle(process);
        if (!ok) {
            std::fprintf(stderr, "windowctl: no usage of a window of class %ls, error %lu\n", cls, GetLastError());
            return 1;
        }
        std::printf("private=%llu working_set=%llu handles=%lu listed_handles=%ld\n",
                    static_cast<unsigned long long>(memory.PrivateUsage),
                    static_cast<unsigned long long>(memory.WorkingSetSize), handles, ListedHandles(pid));
        return 0;
    }
    if (command == L"close") {
        HWND window = FindWindowW(cls, nullptr);
        if (!window) {
            std::fprintf(stderr, "windowctl: no window of class %ls to close\n", cls);
            return 1;
        }
        if (!PostMessageW(window, WM_CLOSE, 0, 0)) {
            std::fprintf(stderr, "windowctl: PostMessage failed, error %lu\n", GetLastError());
            return 1;
        }
    } else if (command != L"gone") {
        return Usage();
    }
    if (PollUntil(seconds, Gone, cls))
        return 0;
    std::fprintf(stderr, "windowctl: the window of class %ls is still there after %g s\n", cls, seconds);
    return 1;
}
