// The test server is a Linux program. Under Wine, CreateProcessW on the DOS name of a Linux
// executable (Z:\usr\bin\python3, got from wine_get_dos_file_name) starts it as a native process:
// Wine gives back no process handle and no standard handles, so the server writes its ports to a
// file, and its lifetime hangs on a TCP connection to its control port that this process holds.
// When this process ends, even by a crash, the system closes that connection and the server quits.
#include "TestServer.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef VX_TESTSERVER_SCRIPT
#error "VX_TESTSERVER_SCRIPT must name testserver.py (a Linux path)"
#endif

namespace vxtest {

namespace {

using DosNameFn = WCHAR*(CDECL*)(const char*);

bool ToDosName(const std::string& unixPath, std::wstring& out)
{
    auto fn = reinterpret_cast<DosNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!fn) return false;  // not Wine
    WCHAR* name = fn(unixPath.c_str());
    if (!name) return false;
    out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return true;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

int JsonInt(const std::string& json, const char* key)
{
    std::string pattern = std::string("\"") + key + "\":";
    size_t at = json.find(pattern);
    if (at == std::string::npos) return 0;
    return std::atoi(json.c_str() + at + pattern.size());
}

bool ReadWhole(const std::wstring& path, std::string& out)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[1024];
    DWORD got = 0;
    out.clear();
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
    CloseHandle(file);
    return !out.empty();
}

}  // namespace

bool TestServer::Start(std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (lifeline_ != ~0ull) return true;

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return fail("WSAStartup failed");

    static LONG counter = 0;
    char name[128];
    std::snprintf(name, sizeof name, "/tmp/vellix-testserver-%lu-%lu-%ld.json", GetCurrentProcessId(), GetTickCount(),
                  InterlockedIncrement(&counter));
    const std::string portFile = name;
    const char* pythonEnv = std::getenv("VELLIX_PYTHON");
    const std::string python = pythonEnv && *pythonEnv ? pythonEnv : "/usr/bin/python3";
    std::wstring dosPython, dosPortFile;
    if (!ToDosName(python, dosPython) || !ToDosName(portFile, dosPortFile))
        return fail("wine_get_dos_file_name is missing: the test server needs Wine");

    std::wstring command = L"\"" + dosPython + L"\" \"" + Widen(VX_TESTSERVER_SCRIPT) + L"\" --port-file \"" +
                           Widen(portFile) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(dosPython.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return fail("cannot start " + python + " (error " + std::to_string(GetLastError()) + ")");
    // Wine leaves hProcess null and the rest of pi unset for a Linux program: closing that hThread
    // would close whatever handle of ours has its value.
    if (pi.hProcess) {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }

    std::string json;
    for (int i = 0; i < 300 && !ReadWhole(dosPortFile, json); ++i) Sleep(50);
    DeleteFileW(dosPortFile.c_str());
    if (json.empty()) return fail("the test server wrote no port file: " + portFile);
    ports_.http = JsonInt(json, "http");
    ports_.proxy = JsonInt(json, "proxy");
    ports_.silent = JsonInt(json, "silent");
    ports_.refused = JsonInt(json, "refused");
    int control = JsonInt(json, "control");
    if (!ports_.http || !control) return fail("unreadable port file: " + json);

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(control));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        return fail("cannot reach the test server's control port");
    }
    lifeline_ = s;
    return true;
}

void TestServer::Stop()
{
    if (lifeline_ == ~0ull) return;
    closesocket(static_cast<SOCKET>(lifeline_));
    lifeline_ = ~0ull;
    WSACleanup();
}

std::string TestServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(ports_.http) + path;
}

std::string TestServer::ProxyAddress() const { return "127.0.0.1:" + std::to_string(ports_.proxy); }

}  // namespace vxtest
