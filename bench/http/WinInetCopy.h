// Dornet's WinINet sequence rebuilt outside the DLL, with switches for the designs it could move to,
// so the benchmark can time each next to Dornet itself.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstddef>
#include <string>

namespace vxbench {

struct WinInetVariant {
    const char* name;
    DWORD readSize;       // bytes per InternetReadFileExA; Dornet reads 4096
    bool pool;            // long-lived workers instead of a thread per request
    bool sharedInternet;  // one InternetOpenA for all requests instead of one each
};

class CopyClient {
public:
    // Called once per started request, on the worker, after the handles are closed.
    virtual void Done(bool complete, size_t bodySize) = 0;

protected:
    ~CopyClient() = default;
};

// One run's requests: the shared internet handle and the pool, when the variant has them.
class WinInetCopy {
public:
    WinInetCopy(const WinInetVariant& variant, int workers);
    ~WinInetCopy();
    WinInetCopy(const WinInetCopy&) = delete;
    WinInetCopy& operator=(const WinInetCopy&) = delete;

    bool Ready() const;
    // Dornet's Start: false when the request did not start (then Done is not called).
    bool Start(const std::string& url, CopyClient& client);

    struct Pool;

private:
    const WinInetVariant variant_;
    HINTERNET internet_ = nullptr;
    Pool* pool_ = nullptr;
};

}  // namespace vxbench
