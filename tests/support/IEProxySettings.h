// Writes the Internet Explorer proxy of the current user, which WinINet reads, so tests can set the
// prefix's system proxy. Link the target vx_ieproxy; run such tests in a Wine prefix of their own.
#pragma once

#include <string>

namespace vxtest {

// Stores proxy (WinINet's proxy text; empty for a direct connection) as the default connection's
// settings. counter must grow with each write, or WinINet keeps the settings it read before.
// ERROR_SUCCESS, or the failed registry call's code.
long WriteIEProxy(const std::string& proxy, unsigned long counter);

// Removes the default connection's settings again.
void ClearIEProxy();

}  // namespace vxtest
