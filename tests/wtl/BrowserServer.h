// Starts browser_server.py (a Linux program, started from the test under Wine) and reads the
// requests it logged.
#pragma once

#include <string>

namespace wtltest {

class BrowserServer {
public:
  BrowserServer() = default;
  BrowserServer(const BrowserServer&) = delete;
  BrowserServer& operator=(const BrowserServer&) = delete;
  ~BrowserServer() { Stop(); }

  // False with a reason when the server did not come up.
  bool Start(std::string* error);
  void Stop();
  int Port() const { return port_; }
  std::wstring Url(const std::wstring& path) const;
  // Every request line and header the server saw so far.
  std::string Log() const;

private:
  int port_ = 0;
  unsigned long long lifeline_ = ~0ull;  // SOCKET
  std::wstring logFile_;
};

}  // namespace wtltest
