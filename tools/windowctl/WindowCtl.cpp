// Finds and closes a top-level window by class for scripts and tests that drive a Windows program
// from Linux, where no X tool sees the windows inside Wine's virtual desktop.
//   windowctl wait CLASS SECONDS    0 once a visible window of CLASS exists, 1 after SECONDS
//   windowctl close CLASS SECONDS   posts WM_CLOSE to it; 0 once no window of CLASS is left
//   windowctl gone CLASS SECONDS    0 once no window of CLASS is left
#include <windows.h>

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

int Usage() {
    std::fprintf(stderr, "usage: windowctl wait|close|gone CLASS SECONDS\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
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
