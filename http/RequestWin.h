// The WinINet request: asynchronous mode, one internet handle, connection and worker thread per
// request, no redirects or cookies handled by WinINet itself.
#pragma once

#include "Request.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>

#include "common/Scoped.h"

namespace Orvane {

class RequestWin : public Request {
public:
    RequestWin(const char* url, Client& client, void* userData);
    ~RequestWin() override;

    void SetHeader(const char* name, const char* value) override;
    void UseSystemProxy() override;
    void SetTimeout(int seconds) override;
    int Start() override;
    OvRequest* Clone(const std::string& url, bool keepPostData) override;

private:
    RequestWin(const RequestWin& from, const std::string& url, bool keepPostData);

    static void CALLBACK OnInternetStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
    static DWORD WINAPI ThreadProc(LPVOID param);

    int Open();
    void OnStatus(DWORD status, const void* info, DWORD length);
    void WantWorker();
    bool StartWorker();
    void StopCallbacks();
    void CloseHandles();

    void Work();
    // False when the asynchronous call named did not complete in time or failed; both are logged.
    bool WaitCompletion(const char* call);
    void ReadHeaders();
    bool ReadBody();
    bool ShortOfLength() const;
    void Finish();

    void Hold() { ++holds_; }
    void Drop();

    std::string userAgent_ = "Mozilla/5.0 (Windows NT 6.3; Win64, x64; Trident/7.0; rv:11.0) like Gecko";
    std::string accept_ = "*/*";
    std::string referer_;
    bool useSystemProxy_ = false;
    DWORD timeoutMs_ = INFINITE;

    HINTERNET internet_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    AutoHandle event_;
    AutoHandle worker_;

    // The object lives while Start runs, while its worker runs and until WinINet has reported the
    // closing of each handle that carries it as context: no callback can reach a deleted request.
    std::atomic<long> holds_{0};
    CRITICAL_SECTION lock_;
    bool finished_ = false;                  // callbacks no longer touch the request (under lock_)
    bool starting_ = false;                  // Start has not yet returned from HttpSendRequestA (under lock_)
    bool workerWanted_ = false;              // a status asked for the worker while starting_ (under lock_)
    bool workerStarted_ = false;             // (under lock_)
    std::atomic<bool> lastResultOk_{false};  // of the latest asynchronous completion
    std::atomic<DWORD> lastError_{0};        // its error when it failed

    std::string headerText_;
    bool haveLength_ = false;
    DWORD contentLength_ = 0;
    // WinINet may still finish a read into these after a time-out closed the handles.
    char chunk_[4096];
    INTERNET_BUFFERSA buffers_;
};

}  // namespace Orvane
