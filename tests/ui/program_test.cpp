// The program as a process, started from a folder of its own against the reference service: one
// instance at a time, a start without the crash library, and what the main window looks like.
#include "ServiceTestSupport.h"

#include <LanguageTranslator.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <string>
#include <vector>

namespace {

const DWORD kBound = 60000;

// A path of the build as this Windows process names it.
std::wstring WinePath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p)
        path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
    return path;
}

// The program and the DLLs of the build, copied into a fresh program folder.
class ProgramFolder {
public:
    explicit ProgramFolder(bool withCrashLibrary = true) {
        const std::wstring bin = WinePath(VX_BIN_DIR) + L"\\";
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((bin + L"*.dll").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!withCrashLibrary && _wcsicmp(found.cFileName, L"Faultkeep.dll") == 0)
                    continue;
                CopyFileW((bin + found.cFileName).c_str(), (folder_ + found.cFileName).c_str(), FALSE);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        CopyFileW(WinePath(VX_PROGRAM).c_str(), Exe().c_str(), FALSE);
    }
    std::wstring Exe() const { return folder_ + L"Vellix.exe"; }
    const std::wstring& Path() const { return folder_.path(); }

private:
    ScopedAppFolder folder_;
};

// The main windows of the given processes (visible ones only when asked): the first, and how many.
std::pair<HWND, int> FindMainWindows(const std::vector<DWORD>& pids, bool visibleOnly) {
    std::pair<HWND, int> found(nullptr, 0);
    for (HWND w = FindWindowW(L"Vellix2Window", nullptr); w; w = FindWindowExW(nullptr, w, L"Vellix2Window", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (std::find(pids.begin(), pids.end(), owner) == pids.end() || (visibleOnly && !IsWindowVisible(w)))
            continue;
        if (!found.first)
            found.first = w;
        ++found.second;
    }
    return found;
}

class Process {
public:
    explicit Process(const ProgramFolder& folder, const wchar_t* env = nullptr) {
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        std::wstring line = L"\"" + folder.Exe() + L"\"";
        started_ = CreateProcessW(folder.Exe().c_str(), &line[0], nullptr, nullptr, FALSE,
                                  env ? CREATE_UNICODE_ENVIRONMENT : 0, const_cast<wchar_t*>(env),
                                  folder.Path().c_str(), &si, &pi_) != FALSE;
        EXPECT_TRUE(started_) << GetLastError();
    }
    ~Process() {
        if (!started_)
            return;
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 10000);
        }
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    DWORD Id() const { return pi_.dwProcessId; }
    // The exit code, or STILL_ACTIVE when it did not end within the time.
    DWORD WaitExit(DWORD ms = kBound) const {
        DWORD code = STILL_ACTIVE;
        if (started_ && WaitForSingleObject(pi_.hProcess, ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    // The process's visible main window, once it has one.
    HWND WaitWindow(DWORD ms = kBound) const {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            if (HWND w = Window())
                return w;
            if (WaitForSingleObject(pi_.hProcess, 50) == WAIT_OBJECT_0)
                return nullptr;
        }
        return nullptr;
    }
    HWND Window() const { return MainWindowOf(pi_.dwProcessId); }

    static HWND MainWindowOf(DWORD pid) { return FindMainWindows({pid}, true).first; }

private:
    PROCESS_INFORMATION pi_ = {};
    bool started_ = false;
};

int CountMainWindows(const std::vector<DWORD>& pids) {
    return FindMainWindows(pids, false).second;
}

class ProgramProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(Service().ServicePort(), 0);
        Service().Control("reset");
    }
};

TEST_F(ProgramProcessTest, SecondStartRestoresTheFirstAndExitsWithZero) {
    ProgramFolder folder;
    Process first(folder);
    HWND window = first.WaitWindow();
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));

    Process second(folder);
    EXPECT_EQ(second.WaitExit(), 0u);
    DWORD start = GetTickCount();
    while (IsIconic(window) && GetTickCount() - start < 10000)
        Sleep(20);
    EXPECT_FALSE(IsIconic(window)) << "the running program was restored";
    EXPECT_EQ(CountMainWindows({first.Id(), second.Id()}), 1);

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.WaitExit(), 0u);
}

TEST_F(ProgramProcessTest, TwoStartsAtOnceLeaveOneProgram) {
    ProgramFolder folder;
    Process a(folder), b(folder);
    // One of them ends with 0 once the other's window is there; the other keeps running.
    DWORD start = GetTickCount();
    DWORD codeA = STILL_ACTIVE, codeB = STILL_ACTIVE;
    while (codeA == STILL_ACTIVE && codeB == STILL_ACTIVE && GetTickCount() - start < kBound) {
        codeA = a.WaitExit(25);
        codeB = b.WaitExit(25);
    }
    ASSERT_TRUE((codeA == 0) != (codeB == 0)) << codeA << " " << codeB;
    const Process& running = codeA == 0 ? b : a;
    HWND window = running.WaitWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(CountMainWindows({a.Id(), b.Id()}), 1);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(running.WaitExit(), 0u);
}

TEST_F(ProgramProcessTest, StartsWithoutTheCrashLibrary) {
    ProgramFolder folder(false);
    Process program(folder);
    HWND window = program.WaitWindow();
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitExit(), 0u);
}

// The main window as a person sees it, in the built-in language of the system's code page; the
// run under zh_CN.UTF-8 gives the Chinese one.
TEST_F(ProgramProcessTest, Screenshot) {
    const bool chinese = Brimholt::BuiltInCodeForOemCp(GetOEMCP()) == "zh-cn";
    const std::string file = std::string(VX_SCREENS_DIR) + (chinese ? "/main_window_zh.png" : "/main_window_en.png");
    ProgramFolder folder;
    Process program(folder);
    HWND window = program.WaitWindow();
    ASSERT_NE(window, nullptr);
    // The start-up job has run once the status bar's link shows the first broadcast.
    HWND status = GetDlgItem(window, 59393);
    HWND link = status ? GetDlgItem(status, 1006) : nullptr;
    DWORD start = GetTickCount();
    while (!(link && IsWindowVisible(link)) && GetTickCount() - start < 30000) {
        Sleep(50);
        link = status ? GetDlgItem(status, 1006) : nullptr;
    }
    ASSERT_TRUE(link && IsWindowVisible(link));
    Sleep(500);  // the first paint of the pages
    RECT r = {};
    GetWindowRect(window, &r);
    char crop[64];
    snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top, r.left, r.top);
    std::string out, error;
    vxtest::RunLinux({"/bin/mkdir", "-p", VX_SCREENS_DIR}, &out, &error, 20000);
    EXPECT_TRUE(vxtest::RunLinux({"/usr/bin/import", "-window", "root", "-crop", crop, file}, &out, &error, 20000))
        << error;
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitExit(), 0u);
}

}  // namespace
