// Public interface of the Dornet HTTP client: one asynchronous request per object, results handed
// to the caller's client as a reference-counted response; text leaves the library only through sinks.
#pragma once

#include <cstddef>
#include <string>

#if defined(_WIN32) && defined(DORNET_BUILD)
#define DORNET_API __declspec(dllexport)
#elif defined(_WIN32)
#define DORNET_API __declspec(dllimport)
#else
#define DORNET_API
#endif

namespace Orvane {

// What OvRequest::Start returns.
enum StartResult {
    kStarted = 0,
    kStartBadUrl = 1,        // the address does not split
    kStartNoConnection = 2,  // InternetConnectA failed
    kStartNoRequest = 3,     // the request could not be opened or sent
    kStartNoInternet = 5     // InternetOpenA or its status callback failed
};

// How far a request got (OvResponse::GetState); only a complete response has a body.
enum ResponseState { kStateComplete = 0, kStateResolving = 2, kStateConnected = 3, kStateSent = 4, kStateCreated = 5 };

// A caller-owned buffer provider: the library asks once for n bytes and copies exactly n bytes in,
// without a terminator.
class OvData {
public:
    virtual char* Allocate(size_t n) = 0;

protected:
    ~OvData() = default;
};

// Fills the caller's string; Allocate keeps the first characters and grows with NULs.
template <class C>
class OvStringFetcher : public OvData {
public:
    explicit OvStringFetcher(std::basic_string<C>& target) : target_(target) {}
    char* Allocate(size_t n) override
    {
        target_.resize(n);
        return reinterpret_cast<char*>(&target_[0]);
    }

private:
    std::basic_string<C>& target_;
};

class OvResponse {
public:
    virtual const OvResponse* AddRef() const = 0;
    virtual void Release() const = 0;
    virtual void* GetUserData() const = 0;
    virtual void GetURL(OvData& sink) const = 0;
    virtual void GetRequestURL(OvData& sink) const = 0;
    virtual int GetState() const = 0;
    virtual int GetStatusCode() const = 0;
    virtual bool GetHeader(OvData& sink, const char* name) const = 0;
    virtual bool GetBody(OvData& sink) const = 0;
    virtual unsigned GetCookieCount() const = 0;
    virtual bool GetCookie(unsigned index, OvData& sink) const = 0;
    virtual bool SaveToFile(const wchar_t* path) const = 0;

protected:
    ~OvResponse() = default;
};

class OvRequest {
public:
    class Client {
    public:
        // Called exactly once per started request, on the request's worker thread.
        virtual void OnResponse(const OvResponse& response) = 0;

    protected:
        ~Client() = default;
    };

    // Never returns null; a failed allocation raises std::bad_alloc to the caller.
    static DORNET_API OvRequest* CreateInstance(const char* url, Client& client, void* userData);

    virtual void SetFormField(const char* name, const char* value) = 0;
    virtual void SetHeader(const char* name, const char* value) = 0;
    virtual void SetPostData(const void* data, size_t length) = 0;
    virtual void SetProxy(const char* proxy) = 0;
    virtual void UseSystemProxy() = 0;
    virtual void SetTimeout(int seconds) = 0;
    virtual void DisableRedirect() = 0;
    // kStarted: exactly one OnResponse follows. Otherwise the request has already deleted itself.
    virtual int Start() = 0;
    virtual ~OvRequest() = default;
    virtual OvRequest* Clone(const std::string& url, bool keepPostData) = 0;
};

}  // namespace Orvane
