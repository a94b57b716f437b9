// Wine starts a Linux executable named by its DOS path as a native process but hands back no process
// handle to wait on, so the program runs inside a small shell script that writes its exit code to a
// file last; the test waits for that file.
#include "LinuxTool.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace vxtest {

std::wstring DosName(const std::string& unixPath) {
    using Fn = WCHAR*(CDECL*)(const char*);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!fn)
        return std::wstring();
    WCHAR* name = fn(unixPath.c_str());
    if (!name)
        return std::wstring();
    std::wstring result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Process ids are unique only within one Wine server, and every test process has a server of its
// own: the names live in the temporary folder of the process's own prefix.
std::string ScratchPath(const char* kind, const char* extension) {
    static LONG counter = 0;
    wchar_t temp[MAX_PATH + 1] = L"";
    std::string folder = GetTempPathW(MAX_PATH + 1, temp) ? UnixPath(temp) : std::string();
    if (folder.empty())
        return std::string();
    if (folder.back() != '/')
        folder += '/';
    char name[96];
    std::snprintf(name, sizeof name, "vellix-%s-%lu-%ld%s", kind, GetCurrentProcessId(),
                  InterlockedIncrement(&counter), extension);
    return folder + name;
}

namespace {

std::string ShellQuote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool ReadAll(const std::wstring& path, std::string& out) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    out.clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        out.append(buffer, got);
    CloseHandle(file);
    return true;
}

}  // namespace

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string UnixPath(const std::wstring& windowsPath) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn)
        return std::string();
    char* name = fn(windowsPath.c_str());
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::string PythonPath() {
    const char* env = std::getenv("VELLIX_PYTHON");
    return env && *env ? env : "/usr/bin/python3";
}

bool RunLinux(const std::vector<std::string>& argv, std::string* out, std::string* error, unsigned timeoutMs) {
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (argv.empty())
        return fail("no program");
    const std::string unixBase = ScratchPath("run", "");
    if (unixBase.empty())
        return fail("no temporary folder: running Linux programs needs Wine");
    std::wstring dosShell = DosName("/bin/sh");
    std::wstring dosScript = DosName(unixBase + ".sh");
    std::wstring dosOut = DosName(unixBase + ".out");
    std::wstring dosErr = DosName(unixBase + ".err");
    std::wstring dosRc = DosName(unixBase + ".rc");
    if (dosShell.empty() || dosScript.empty())
        return fail("wine_get_dos_file_name is missing: running Linux programs needs Wine");

    std::string command;
    for (const std::string& arg : argv)
        command += ShellQuote(arg) + " ";
    std::string script = command + ">" + ShellQuote(unixBase + ".out") + " 2>" + ShellQuote(unixBase + ".err") +
                         "\necho $? >" + ShellQuote(unixBase + ".rc.tmp") + "\nmv " + ShellQuote(unixBase + ".rc.tmp") +
                         " " + ShellQuote(unixBase + ".rc") + "\n";
    if (!WriteBytes(dosScript, script))
        return fail("cannot write " + unixBase + ".sh");

    std::wstring commandLine = L"\"" + dosShell + L"\" \"" + std::wstring(unixBase.begin(), unixBase.end()) + L".sh\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(dosShell.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return fail("cannot start /bin/sh (error " + std::to_string(GetLastError()) + ")");
    // For a Linux program Wine leaves hProcess null and the rest of pi unset: closing that
    // hThread would close whatever handle of ours happens to have its value.
    if (pi.hProcess) {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }

    std::string rc;
    DWORD start = GetTickCount();
    while (!ReadAll(dosRc, rc)) {
        if (GetTickCount() - start > timeoutMs)
            return fail(argv[0] + " did not finish in time");
        Sleep(5);
    }
    std::string output, errors;
    ReadAll(dosOut, output);
    ReadAll(dosErr, errors);
    for (const std::wstring& path : {dosScript, dosOut, dosErr, dosRc})
        DeleteFileW(path.c_str());
    if (out)
        *out = output;
    if (std::atoi(rc.c_str()) != 0)
        return fail(argv[0] + " exited with " + rc + ": " + errors);
    return true;
}

}  // namespace vxtest
