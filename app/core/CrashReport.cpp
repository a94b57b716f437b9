// Crash handling through "Faultkeep.dll", loaded by full path so the program has no import of it.
#include "CrashReport.h"

#include "AppContext.h"
#include "AppPath.h"
#include "DebugSettings.h"

#include "CrashDlg.h"
#include <common/CodePage.h>
#include <common/Log.h>
#include "Faultkeep.h"
#include <wtl/Module.h>
#include <wtl/Seams.h>

#include <commctrl.h>

#include <cerrno>
#include <cwctype>

using Brimholt::Log;

namespace {

const wchar_t kDumpName[] = L"VxCrash.dmp";

HMODULE LoadFaultkeep() {
    HMODULE library = LoadLibraryW(GetAppPath(L"Faultkeep.dll").c_str());
    if (!library)
        Log << "No crash-dump library, error " << GetLastError() << std::endl;
    return library;
}

template <class Fn>
Fn Export(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::wstring ProgramPath() {
    std::wstring path(260, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n < path.size() || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring Trim(const std::wstring& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::iswspace(text[begin]))
        ++begin;
    while (end > begin && std::iswspace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// The whole part must be a number of the given base; "0x" is allowed before hexadecimal digits,
// as "%x" reads them.
bool ReadNumber(const std::wstring& text, int base, unsigned long long max, unsigned long long& value) {
    if (text.empty() || text[0] == L'-' || text[0] == L'+')
        return false;
    errno = 0;
    wchar_t* end = nullptr;
    value = wcstoull(text.c_str(), &end, base);
    return errno == 0 && end && *end == 0 && end != text.c_str() && value <= max;
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteDump(const CrashArguments& args) {
    std::wstring dump = GetAppPath(kDumpName);
    // A dump from an earlier crash must never pass for this one's.
    if (!DeleteFileW(dump.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        Log << "Cannot remove the old crash dump, error " << GetLastError() << std::endl;
    if (!args.complete)
        return;
    HMODULE library = LoadFaultkeep();
    if (!library)
        return;
    auto write = Export<BhWriteCrashDumpFn>(library, "BhWriteCrashDump");
    if (write)
        write(dump.c_str(), args.processId, args.threadId, args.pointers, DebugSettings::ReadFullDump());
    FreeLibrary(library);
}

}  // namespace

std::wstring CrashCommandLine(const std::string& languageCode) {
    return L"-RunCrashDialog:" + ToWide(languageCode, CP_UTF8) + L",%p,%t,%e";
}

bool InstallCrashDumper() {
    if (IsDebuggerPresent())
        return true;
    // Stays loaded for the life of the process.
    HMODULE library = LoadFaultkeep();
    if (!library)
        return false;
    auto setup = Export<BhSetupCrashDumperFn>(library, "BhSetupCrashDumper");
    if (!setup) {
        Log << "The crash-dump library has no set-up function" << std::endl;
        return false;
    }
    std::wstring program = ProgramPath();
    if (program.empty()) {
        Log << "Cannot read the program path, error " << GetLastError() << std::endl;
        return false;
    }
    AppContext* context = GetAppContext();
    std::string code = context ? context->Translator().CurrentCode() : Brimholt::BuiltInCodeForOemCp(GetOEMCP());
    setup(program.c_str(), CrashCommandLine(code).c_str(), 1);
    return true;
}

CrashArguments ParseCrashArguments(const std::wstring& text) {
    CrashArguments args;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t comma = text.find(L',', begin);
        if (comma == std::wstring::npos)
            comma = text.size();
        std::wstring part = Trim(text.substr(begin, comma - begin));
        if (!part.empty())
            args.parts.push_back(part);
        begin = comma + 1;
    }
    if (args.parts.size() < 4)
        return args;
    unsigned long long pid = 0, tid = 0, pointers = 0;
    args.complete = ReadNumber(args.parts[1], 10, MAXDWORD, pid) && ReadNumber(args.parts[2], 10, MAXDWORD, tid) &&
                    ReadNumber(args.parts[3], 16, static_cast<ULONG_PTR>(-1), pointers);
    if (args.complete) {
        args.processId = static_cast<DWORD>(pid);
        args.threadId = static_cast<DWORD>(tid);
        args.pointers = static_cast<ULONG_PTR>(pointers);
    }
    return args;
}

CCrashDlg::CCrashDlg(const std::wstring& argumentText) : translator_(false), args_(ParseCrashArguments(argumentText)) {
    // The translator refuses codes that are not plain names, so the part never leaves "Languages\".
    if (!args_.parts.empty())
        translator_.LoadLanguageFile(ToNarrow(args_.parts[0], CP_UTF8));
    WriteDump(args_);
}

INT_PTR CCrashDlg::DoModal() {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CRASH), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CCrashDlg::OnInitDialog(HWND dialog) {
    translator_.TranslateDialog(dialog, L"CrashDlg");
    std::wstring prompt = translator_.Text(L"CrashDlg", L"Prompt");
    SetDlgItemTextW(dialog, IDC_CRASH_PROMPT, prompt.c_str());
    EnableWindow(GetDlgItem(dialog, IDOK), FileExists(GetAppPath(kDumpName)));
    WTL::PlayMessageBeep(MB_ICONASTERISK);
}

INT_PTR CALLBACK CCrashDlg::DialogProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        reinterpret_cast<CCrashDlg*>(lp)->OnInitDialog(dialog);
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

int RunCrashDialog(const std::wstring& argumentText) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    WTL::AppModule().Init();
    INT_PTR result;
    {
        CCrashDlg dialog(argumentText);
        result = dialog.DoModal();
        if (result == -1)
            Log << "Cannot show the crash dialog, error " << GetLastError() << std::endl;
    }
    std::wstring dump = GetAppPath(kDumpName);
    if (result == IDOK && FileExists(dump))
        WTL::ShellOpen(nullptr, L"explorer.exe", (L"/e,/select," + dump).c_str(), SW_SHOWNORMAL);
    WTL::AppModule().Term();
    return 0;
}
