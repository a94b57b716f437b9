// Stands in for the program in the crash tests: crash-report mode as the program starts it, or
// the crash handling installed and then the fault its argument names. Before a fault it writes
// the faulting thread's id as a line of "thread.txt" beside itself.
#include <CrashReport.h>

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <exception>
#include <string>

namespace {

std::wstring Beside(const wchar_t* name) {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

void NoteThread() {
    std::string id = std::to_string(GetCurrentThreadId()) + "\n";
    std::wstring path = Beside(L"thread.txt");
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, id.data(), static_cast<DWORD>(id.size()), &written, nullptr);
    CloseHandle(file);
}

HANDLE g_go = CreateEventW(nullptr, TRUE, TRUE, nullptr);

DWORD WINAPI AccessViolation(void*) {
    NoteThread();
    WaitForSingleObject(g_go, INFINITE);
    *static_cast<volatile int*>(nullptr) = 1;
    return 0;
}

// The frame must stay, or the compiler turns the recursion into a loop; the base case only
// keeps the compiler from refusing the recursion.
int Overflow(int depth) {
    if (depth < 0)
        return 0;
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return Overflow(depth + 1) + frame[0];
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t* commandLine, int) {
    std::wstring mode = commandLine;
    if (mode.compare(0, 16, L"-RunCrashDialog:") == 0)
        return RunCrashDialog(mode.substr(16));
    bool installed = InstallCrashDumper();
    if (mode == L"access") {
        HANDLE worker = CreateThread(nullptr, 0, AccessViolation, nullptr, 0, nullptr);
        WaitForSingleObject(worker, INFINITE);
    } else if (mode == L"twice") {
        // Both threads fault at once: one report only.
        ResetEvent(g_go);
        HANDLE workers[2] = {CreateThread(nullptr, 0, AccessViolation, nullptr, 0, nullptr),
                             CreateThread(nullptr, 0, AccessViolation, nullptr, 0, nullptr)};
        Sleep(100);
        SetEvent(g_go);
        WaitForMultipleObjects(2, workers, TRUE, INFINITE);
    } else if (mode == L"abort") {
        NoteThread();
        abort();
    } else if (mode == L"terminate") {
        NoteThread();
        std::terminate();
    } else if (mode == L"overflow") {
        NoteThread();
        return Overflow(0);
    }
    // Only reached without a fault: tells the test whether the handling was installed.
    return installed ? 10 : 11;
}
