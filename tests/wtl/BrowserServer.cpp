// Under Wine, CreateProcessW on the DOS name of a Linux executable starts it as a native process;
// file names go between the two worlds through Wine's name conversions.
#include "BrowserServer.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <vector>

namespace wtltest {

namespace {

std::wstring DosName(const std::string& unixPath) {
  using Fn = WCHAR*(CDECL*)(const char*);
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (!fn)
    return std::wstring();
  WCHAR* dos = fn(unixPath.c_str());
  if (!dos)
    return std::wstring();
  std::wstring out(dos);
  HeapFree(GetProcessHeap(), 0, dos);
  return out;
}

std::string UnixName(const std::wstring& dosPath) {
  using Fn = char*(CDECL*)(const WCHAR*);
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!fn)
    return std::string();
  char* unix = fn(dosPath.c_str());
  if (!unix)
    return std::string();
  std::string out(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string ReadFileText(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE)
    return std::string();
  std::string out;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got > 0)
    out.append(buf, got);
  CloseHandle(f);
  return out;
}

}  // namespace

bool BrowserServer::Start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error)
      *error = why;
    return false;
  };
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring base = std::wstring(temp) + L"vxwtl-" + std::to_wstring(GetCurrentProcessId());
  std::wstring portFile = base + L".port";
  logFile_ = base + L".log";
  DeleteFileW(portFile.c_str());
  DeleteFileW(logFile_.c_str());
  const char* env = std::getenv("VELLIX_PYTHON");
  std::string python = env && *env ? env : "/usr/bin/python3";
  std::wstring dosPython = DosName(python);
  std::string unixPort = UnixName(portFile), unixLog = UnixName(logFile_);
  if (dosPython.empty() || unixPort.empty() || unixLog.empty())
    return fail("Wine's file name conversions are missing: the server needs Wine");
  std::wstring command = L"\"" + dosPython + L"\" \"" + Widen(VX_WTL_SERVER_SCRIPT) + L"\" \"" + Widen(unixPort) +
                         L"\" \"" + Widen(unixLog) + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(dosPython.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return fail("cannot start " + python + " (error " + std::to_string(GetLastError()) + ")");
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::string ports;
  for (int i = 0; i < 200 && (ports = ReadFileText(portFile)).find('\n') == std::string::npos; ++i)
    Sleep(50);
  DeleteFileW(portFile.c_str());
  int lifelinePort = 0;
  if (sscanf(ports.c_str(), "%d %d", &port_, &lifelinePort) != 2)
    return fail("the server wrote no ports");
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(lifelinePort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    if (s != INVALID_SOCKET)
      closesocket(s);
    return fail("cannot reach the server's lifeline port");
  }
  lifeline_ = s;
  return true;
}

void BrowserServer::Stop() {
  if (lifeline_ == ~0ull)
    return;
  closesocket(static_cast<SOCKET>(lifeline_));
  lifeline_ = ~0ull;
  DeleteFileW(logFile_.c_str());
}

std::wstring BrowserServer::Url(const std::wstring& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + path;
}

std::string BrowserServer::Log() const { return ReadFileText(logFile_); }

}  // namespace wtltest
