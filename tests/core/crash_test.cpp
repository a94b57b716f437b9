// Crash handling end to end: a stand-in program that really crashes, the crash-report copy that
// the library starts, its dialog answered by a watcher, and the dump read back by Python.
#include "CoreTestSupport.h"

#include <AppPath.h>
#include <CrashReport.h>
#include <Faultkeep.h>
#include <common/CodePage.h>
#include <wtl/Seams.h>

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <sstream>

namespace {

const int kPromptId = 1401;
// Above the library's own 60 s wait for the dump: Wine's x86-64 debug helper takes seconds per
// dump, more under load. Runs that work end far sooner.
const DWORD kCrashBoundMs = 75000;
const DWORD kDialogBoundMs = 90000;

std::wstring BinFolder() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

bool CopyFromBin(const std::wstring& name, const std::wstring& folder) {
    return CopyFileW((BinFolder() + name).c_str(), (folder + name).c_str(), FALSE) != 0;
}

// The stand-in program with the modules it needs; Faultkeep.dll only when asked.
void MakeProgramFolder(const std::wstring& folder, bool withFaultkeep) {
    ASSERT_TRUE(CopyFromBin(L"crashhost.exe", folder));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((BinFolder() + L"*.dll").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        std::wstring name = found.cFileName;
        if (withFaultkeep || _wcsicmp(name.c_str(), L"Faultkeep.dll") != 0) {
            ASSERT_TRUE(CopyFromBin(name, folder));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

struct SeenDialog {
    DWORD process = 0;
    std::wstring caption;
    std::wstring prompt;
    bool locateEnabled = false;
};

struct DialogSearch {
    std::function<bool(DWORD process)> wanted;
    HWND found = nullptr;
};

BOOL CALLBACK FindCrashDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    wchar_t cls[16] = L"";
    GetClassNameW(window, cls, 16);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window) || !GetDlgItem(window, kPromptId) ||
        !search->wanted(process))
        return TRUE;
    search->found = window;
    return FALSE;
}

// True for a process whose program lies in the folder.
bool RunsFrom(DWORD processId, const std::wstring& folder) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    wchar_t image[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    bool named = process && QueryFullProcessImageNameW(process, 0, image, &size);
    if (process)
        CloseHandle(process);
    return named && _wcsnicmp(image, folder.c_str(), folder.size()) == 0;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

// Finds the crash dialog of a wanted process, notes what it shows and presses a button: "Locate" only
// when it is enabled, else "Close", as a user can.
class CrashDialogWatcher {
public:
    // onFound runs with the dialog on screen, before the button is pressed.
    CrashDialogWatcher(int button, std::function<bool(DWORD process)> wanted,
                       std::function<void(HWND dialog)> onFound = nullptr)
        : button_(button),
          wanted_(std::move(wanted)),
          onFound_(std::move(onFound)),
          found_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this] { Watch(); });
    }
    ~CrashDialogWatcher() {
        stop_ = true;
        thread_.join();
        CloseHandle(found_);
        if (process_)
            CloseHandle(process_);
    }
    bool Wait(DWORD timeoutMs) { return WaitForSingleObject(found_, timeoutMs) == WAIT_OBJECT_0; }
    SeenDialog seen;
    HANDLE Process() const { return process_; }

private:
    void Watch() {
        for (DWORD start = GetTickCount(); !stop_ && GetTickCount() - start < kDialogBoundMs; Sleep(20)) {
            DialogSearch search{wanted_};
            EnumWindows(FindCrashDialog, reinterpret_cast<LPARAM>(&search));
            HWND dialog = search.found;
            if (!dialog)
                continue;
            GetWindowThreadProcessId(dialog, &seen.process);
            process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, seen.process);
            seen.caption = TextOf(dialog);
            seen.prompt = TextOf(GetDlgItem(dialog, kPromptId));
            seen.locateEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE;
            if (onFound_)
                onFound_(dialog);
            int button = button_ == IDOK && !seen.locateEnabled ? IDCANCEL : button_;
            SetEvent(found_);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
            return;
        }
    }

    int button_;
    std::function<bool(DWORD process)> wanted_;
    std::function<void(HWND dialog)> onFound_;
    HANDLE found_;
    HANDLE process_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Starts the stand-in program and waits up to timeoutMs; its exit code, or -1 when it did not end.
long long RunProgram(const std::wstring& folder, const std::wstring& args, DWORD& processId, DWORD timeoutMs) {
    std::wstring command = L"\"" + folder + L"crashhost.exe\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return -2;
    processId = pi.dwProcessId;
    DWORD code = 0;
    bool ended = WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(pi.hProcess, 1);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ended ? static_cast<long long>(code) : -1;
}

// The minidump reader's answer: "MDMP\n<code> <thread>\n" for a dump with an exception stream.
std::string ReadDump(const std::wstring& path) {
    std::string out, error;
    bool ok = vxtest::RunLinux({vxtest::PythonPath(), VX_MINIDUMP_PY, vxtest::UnixPath(path)}, &out, &error, 20000);
    return ok ? out : "failed: " + error;
}

// The dump's thread must be one of the faulting ones the program noted, one a line.
bool IsExpectedDump(const std::string& dump, DWORD code, const std::string& threads) {
    std::istringstream lines(threads);
    for (std::string id; std::getline(lines, id);) {
        std::ostringstream text;
        text << "MDMP\n" << code << " " << id << "\n";
        if (dump == text.str())
            return true;
    }
    return false;
}

// Ends every process still running from the folder and says how many there were, so no report
// outlives its test (Wine's processes would hold ctest's output pipe).
int EndProgramsIn(const std::wstring& folder) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (!RunsFrom(entry.th32ProcessID, folder))
            continue;
        ++count;
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (process) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return count;
}

struct CrashCase {
    const char* mode;
    DWORD code;
};

const CrashCase kCrashes[] = {
    {"access", EXCEPTION_ACCESS_VIOLATION}, {"abort", kFaultkeepAbortCode},
    {"terminate", kFaultkeepTerminateCode}, {"overflow", EXCEPTION_STACK_OVERFLOW},
    {"twice", EXCEPTION_ACCESS_VIOLATION},
};

struct CrashRun {
    long long exit = -3;
    DWORD crashed = 0;
    bool dialogSeen = false;
    SeenDialog seen;
    DWORD reportExit = 1;
    std::string dump;
    std::string thread;
    int laterReports = -1;
};

// One crash from start to the closed dialog; gtest's checks stay on the main thread.
void RunCrash(const std::wstring& folder, const char* mode, CrashRun& run) {
    CrashDialogWatcher watcher(IDCANCEL, [folder](DWORD process) { return RunsFrom(process, folder); });
    run.exit = RunProgram(folder, ToWide(mode, CP_ACP), run.crashed, kCrashBoundMs);
    run.dialogSeen = watcher.Wait(kDialogBoundMs);
    if (run.dialogSeen && watcher.Process() && WaitForSingleObject(watcher.Process(), 10000) == WAIT_OBJECT_0)
        GetExitCodeProcess(watcher.Process(), &run.reportExit);
    run.seen = watcher.seen;
    run.dump = ReadDump(folder + L"VxCrash.dmp");
    run.thread = ReadBytes(folder + L"thread.txt");
    // The crashed process has ended, so every report it started is either closed or still here.
    run.laterReports = EndProgramsIn(folder);
}

// Writing a dump takes Wine's debug helper seconds, so the crashes run side by side.
TEST(CrashTest, EachFaultEndsTheProcessAndLeavesItsDump) {
    const size_t n = sizeof kCrashes / sizeof kCrashes[0];
    std::vector<std::unique_ptr<ScopedAppFolder>> folders;
    for (size_t i = 0; i < n; ++i) {
        folders.push_back(std::make_unique<ScopedAppFolder>());
        MakeProgramFolder(folders.back()->path(), true);
    }
    std::vector<CrashRun> runs(n);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < n; ++i)
        threads.emplace_back([&, i] { RunCrash(folders[i]->path(), kCrashes[i].mode, runs[i]); });
    for (std::thread& t : threads)
        t.join();
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(kCrashes[i].mode);
        const CrashRun& run = runs[i];
        EXPECT_EQ(run.exit, kCrashes[i].code);
        ASSERT_TRUE(run.dialogSeen);
        EXPECT_NE(run.seen.process, run.crashed);
        EXPECT_EQ(run.seen.caption, L"Fatal Error");
        EXPECT_TRUE(run.seen.locateEnabled);
        EXPECT_EQ(run.reportExit, 0u);
        EXPECT_TRUE(IsExpectedDump(run.dump, kCrashes[i].code, run.thread)) << run.dump << run.thread;
        EXPECT_EQ(run.laterReports, 0);
    }
}

TEST(CrashTest, TheProgramRunsOnWithOrWithoutTheLibrary) {
    const struct {
        bool faultkeep;
        long long exit;
    } cases[] = {{false, 11}, {true, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faultkeep);
        ScopedAppFolder folder;
        MakeProgramFolder(folder.path(), c.faultkeep);
        DWORD pid = 0;
        EXPECT_EQ(RunProgram(folder.path(), L"none", pid, 20000), c.exit);
    }
}

// The crash dialog inside this process, with the message beep and the shell answered by seams.
class CrashDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        WTL::Seams().messageBeep = [](UINT) { return TRUE; };
        WTL::Seams().shellOpen = [this](HWND, const wchar_t* file, const wchar_t* params, int show) {
            shellCalls.push_back(std::wstring(file) + L"|" + (params ? params : L"") + L"|" + std::to_wstring(show));
            return true;
        };
        // A blank in the folder reaches Explorer unquoted.
        program = folder + L"program folder\\";
        CreateDirectoryW(program.c_str(), nullptr);
        SetAppPathForTesting(program);
    }
    void TearDown() override { WTL::ResetSeams(); }

    // Runs the dialog with the text; placeholders {pid}, {tid}, {ptr} name a real thread of this
    // process and a real exception record.
    SeenDialog Run(std::string text, int button, std::function<void(HWND)> onFound = nullptr) {
        Replace(text, "{pid}", std::to_string(GetCurrentProcessId()));
        Replace(text, "{tid}", std::to_string(GetCurrentThreadId()));
        char pointer[32];
        snprintf(pointer, sizeof pointer, "%llx",
                 static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(&pointers)));
        Replace(text, "{ptr}", pointer);
        auto own = [](DWORD process) { return process == GetCurrentProcessId(); };
        CrashDialogWatcher watcher(button, own, std::move(onFound));
        EXPECT_EQ(RunCrashDialog(ToWide(text, CP_UTF8)), 0);
        EXPECT_TRUE(watcher.Wait(0));
        return watcher.seen;
    }
    static void Replace(std::string& text, const std::string& name, const std::string& value) {
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name))
            text.replace(at, name.size(), value);
    }

    ScopedAppFolder folder;
    std::wstring program;
    std::vector<std::wstring> shellCalls;
    EXCEPTION_RECORD record = {EXCEPTION_BREAKPOINT, 0, nullptr, nullptr, 0, {}};
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
};

TEST(CrashArgumentsTest, PartsAreTrimmedAndReadWhenAllFourAreThere) {
    const struct {
        const wchar_t* text;
        size_t parts;
        bool complete;
        DWORD pid;
        DWORD tid;
        ULONG_PTR pointers;
    } cases[] = {
        {L"en", 1, false, 0, 0, 0},
        {L" en , 12 ", 2, false, 0, 0, 0},
        {L"en,12,34", 3, false, 0, 0, 0},
        {L"en,,12,  ,34", 3, false, 0, 0, 0},
        {L"en,12,34,1f0", 4, true, 12, 34, 0x1f0},
        {L"  en ,\t12 , 34 ,  1f0  ", 4, true, 12, 34, 0x1f0},
        {L"zh-cn,12,34,0x1F0", 4, true, 12, 34, 0x1f0},
        {L"en,12,34,1f0,extra", 5, true, 12, 34, 0x1f0},
        {L"en,x12,34,1f0", 4, false, 0, 0, 0},
        {L"en,12,-34,1f0", 4, false, 0, 0, 0},
        {L"en,12,34,1g0", 4, false, 0, 0, 0},
        {L"en,4294967296,34,1f0", 4, false, 0, 0, 0},
        {L"", 0, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToNarrow(c.text, CP_UTF8));
        CrashArguments args = ParseCrashArguments(c.text);
        EXPECT_EQ(args.parts.size(), c.parts);
        EXPECT_EQ(args.complete, c.complete);
        EXPECT_EQ(args.processId, c.pid);
        EXPECT_EQ(args.threadId, c.tid);
        EXPECT_EQ(args.pointers, c.pointers);
        for (const std::wstring& part : args.parts)
            EXPECT_TRUE(!part.empty() && !iswspace(part.front()) && !iswspace(part.back()));
    }
}

TEST(CrashArgumentsTest, TheCommandLineCarriesTheLanguageAndThePlaceholders) {
    EXPECT_EQ(CrashCommandLine("zh-cn"), L"-RunCrashDialog:zh-cn,%p,%t,%e");
}

TEST_F(CrashDialogTest, AnOldDumpIsNeverLocatedWhenNoNewOneIsWritten) {
    const struct {
        const char* text;
        bool faultkeep;
        bool dumped;
    } cases[] = {
        {"en", true, false},
        {"en,{pid}", true, false},
        {"en , {pid} , {tid}", true, false},
        {"en,{pid},{tid},zz", true, false},
        {"en,{pid},{tid},{ptr}", false, false},
        {" en , {pid} , {tid} , {ptr} ", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        shellCalls.clear();
        std::wstring dump = program + L"VxCrash.dmp";
        ASSERT_TRUE(WriteBytes(dump, "old dump"));
        std::wstring library = program + L"Faultkeep.dll";
        if (c.faultkeep) {
            ASSERT_TRUE(CopyFromBin(L"Faultkeep.dll", program));
        }
        SeenDialog seen = Run(c.text, IDOK);
        EXPECT_EQ(seen.caption, L"Fatal Error");
        EXPECT_EQ(seen.locateEnabled, c.dumped);
        EXPECT_EQ(Exists(dump), c.dumped);
        std::vector<std::wstring> expected;
        if (c.dumped) {
            EXPECT_EQ(ReadBytes(dump).substr(0, 4), "MDMP");
            expected.push_back(L"explorer.exe|/e,/select," + dump + L"|" + std::to_wstring(SW_SHOWNORMAL));
        }
        EXPECT_EQ(shellCalls, expected);
        DeleteFileW(library.c_str());
    }
}

TEST_F(CrashDialogTest, TheLanguagePartPicksAFileInLanguagesOnly) {
    CreateDirectoryW((program + L"Languages").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(program + L"Languages\\xx.ini",
                           "[CrashDlg]\r\nCaption=Xx Fatal\r\nPrompt=Line one%BR%Line two\r\n2=Xx Close\r\n"));
    ASSERT_TRUE(WriteBytes(program + L"evil.ini", "[CrashDlg]\r\nCaption=Evil\r\n"));
    const std::wstring builtIn =
        L"Vellix has encountered a fatal error and will exit.\r\n\r\nA crash info file \"VxCrash.dmp\"";
    const struct {
        const char* text;
        const wchar_t* caption;
        std::wstring promptStart;
    } cases[] = {
        {"xx,1,2,zz", L"Xx Fatal", L"Line one\r\nLine two"},
        {" xx ", L"Xx Fatal", L"Line one\r\nLine two"},
        {"..\\evil", L"Fatal Error", builtIn},
        {"Languages\\xx", L"Fatal Error", builtIn},
        {"../evil,1", L"Fatal Error", builtIn},
        {"nofile", L"Fatal Error", builtIn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SeenDialog seen = Run(c.text, IDCANCEL);
        EXPECT_EQ(seen.caption, c.caption);
        EXPECT_EQ(seen.prompt.substr(0, c.promptStart.size()), c.promptStart);
        EXPECT_FALSE(seen.locateEnabled);
    }
}

// The dialog as a person sees it, in the built-in language of the system's code page; the run
// under zh_CN.UTF-8 gives the Chinese one.
TEST_F(CrashDialogTest, Screenshot) {
    const bool chinese = Brimholt::BuiltInCodeForOemCp(GetOEMCP()) == "zh-cn";
    const std::string file = std::string(VX_SCREENS_DIR) + (chinese ? "/crash_dialog_zh.png" : "/crash_dialog_en.png");
    bool grabbed = false;
    SeenDialog seen = Run("none", IDCANCEL, [&](HWND dialog) {
        RECT r = {};
        GetWindowRect(dialog, &r);
        char crop[64];
        snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", r.right - r.left + 20, r.bottom - r.top + 20, r.left - 10,
                 r.top - 10);
        std::string out, error;
        // The build made the folder, but a test run may have cleared the build's screenshots since.
        vxtest::RunLinux({"/bin/mkdir", "-p", VX_SCREENS_DIR}, &out, &error, 20000);
        grabbed = vxtest::RunLinux({"/usr/bin/import", "-window", "root", "-crop", crop, file}, &out, &error, 20000);
        EXPECT_TRUE(grabbed) << error;
    });
    EXPECT_TRUE(grabbed);
    EXPECT_EQ(seen.caption, chinese ? L"\u4e25\u91cd\u9519\u8bef" : L"Fatal Error");
}

}  // namespace
