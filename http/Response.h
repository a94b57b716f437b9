// The response record behind OvResponse: filled by the request's threads, read by clients after
// OnResponse, shared across a redirect chain.
#pragma once

#include "Dornet.h"
#include "HttpText.h"

#include <atomic>
#include <string>
#include <vector>

namespace Orvane {

class Response final : public OvResponse {
public:
    Response(const char* url, void* userData);

    const OvResponse* AddRef() const override;
    void Release() const override;
    void* GetUserData() const override { return userData_; }
    void GetURL(OvData& sink) const override;
    void GetRequestURL(OvData& sink) const override;
    int GetState() const override { return state_; }
    int GetStatusCode() const override { return parsed_.statusCode; }
    bool GetHeader(OvData& sink, const char* name) const override;
    bool GetBody(OvData& sink) const override;
    unsigned GetCookieCount() const override { return static_cast<unsigned>(parsed_.cookies.size()); }
    bool GetCookie(unsigned index, OvData& sink) const override;
    bool SaveToFile(const wchar_t* path) const override;

    // Used by the request while it owns the response.
    void SetState(int state) { state_ = state; }
    void ParseRawHeaders(const std::string& text) { Orvane::ParseRawHeaders(text, parsed_); }
    const std::string* FindHeader(const char* canonicalName) const;
    std::vector<char>& Body() { return body_; }
    const std::string& CurrentURL() const { return currentUrl_; }

    // A redirect step: the next address, an empty body, no status or headers yet; cookies stay.
    struct Saved {
        std::string url;
        std::vector<char> body;
        int state;
        int statusCode;
        HeaderMap headers;
    };
    void StartRedirect(const std::string& url);
    Saved Save() const;
    void Restore(Saved&& saved);

private:
    ~Response() = default;

    mutable std::atomic<long> refs_{1};
    const std::string requestUrl_;
    std::string currentUrl_;
    void* const userData_;
    std::atomic<int> state_{kStateCreated};
    ParsedHeaders parsed_;
    std::vector<char> body_;
};

// One owned reference; the holder's destructor releases it.
class ResponseRef {
public:
    explicit ResponseRef(Response* response = nullptr) : response_(response) {}
    ResponseRef(const ResponseRef&) = delete;
    ResponseRef& operator=(const ResponseRef&) = delete;
    ~ResponseRef() { reset(); }
    Response* get() const { return response_; }
    Response* operator->() const { return response_; }
    void reset(Response* response = nullptr)
    {
        if (response_) response_->Release();
        response_ = response;
    }

private:
    Response* response_;
};

}  // namespace Orvane
