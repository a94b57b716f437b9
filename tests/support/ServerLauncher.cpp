// Under Wine, CreateProcessW on the DOS name of a Linux executable (Z:\usr\bin\python3, got from
// wine_get_dos_file_name) starts it as a native process: Wine gives back no process handle and no
// standard handles, so the server writes its ports to a file, and its lifetime hangs on a TCP
// connection that this process holds. When this process ends, even by a crash, the system closes
// that connection and the server quits.
#include "ServerLauncher.h"

#include "LinuxTool.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace vxtest {

namespace {

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

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


bool ServerProcess::Start(const std::string& script, const std::vector<std::string>& args, const char* lifelineKey,
                          std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (Running()) return true;

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return fail("WSAStartup failed");

    const std::string portFile = ScratchPath("server", ".json");
    const std::string python = PythonPath();
    std::wstring dosPython = DosName(python), dosPortFile = DosName(portFile);
    if (dosPython.empty() || dosPortFile.empty()) {
        WSACleanup();
        return fail("wine_get_dos_file_name is missing: the server needs Wine");
    }

    std::wstring command = L"\"" + dosPython + L"\" \"" + Widen(script) + L"\"";
    for (const std::string& arg : args) command += L" \"" + Widen(arg) + L"\"";
    command += L" --port-file \"" + Widen(portFile) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(dosPython.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        WSACleanup();
        return fail("cannot start " + python + " (error " + std::to_string(GetLastError()) + ")");
    }
    // Wine leaves hProcess null and the rest of pi unset for a Linux program: closing that hThread
    // would close whatever handle of ours has its value.
    if (pi.hProcess) {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }

    for (int i = 0; i < 300 && !ReadWhole(dosPortFile, ports_); ++i) Sleep(50);
    DeleteFileW(dosPortFile.c_str());
    int port = Port(lifelineKey);
    if (ports_.empty() || !port) {
        WSACleanup();
        return fail("the server wrote no usable port file (" + portFile + "): " + ports_ +
                    " - is its port already taken?");
    }

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        WSACleanup();
        return fail("cannot reach the server's lifeline port");
    }
    lifeline_ = s;
    return true;
}

void ServerProcess::Stop()
{
    if (!Running()) return;
    closesocket(static_cast<SOCKET>(lifeline_));
    lifeline_ = ~0ull;
    WSACleanup();
}

int ServerProcess::Port(const char* key) const
{
    std::string pattern = std::string("\"") + key + "\":";
    size_t at = ports_.find(pattern);
    if (at == std::string::npos) return 0;
    return std::atoi(ports_.c_str() + at + pattern.size());
}

}  // namespace vxtest
