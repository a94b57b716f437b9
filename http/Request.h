// The transport-independent half of a request: its settings, the body it sends and the redirect
// step that hands the response on to a clone.
#pragma once

#include "Dornet.h"
#include "HttpText.h"
#include "Response.h"
#include "UrlSplit.h"

#include <string>
#include <vector>

namespace Orvane {

class Request : public OvRequest {
public:
    void SetFormField(const char* name, const char* value) override;
    void SetHeader(const char* name, const char* value) override;
    void SetPostData(const void* data, size_t length) override;
    void SetProxy(const char* proxy) override;
    void DisableRedirect() override;
    ~Request() override;

    static const int kMaxRedirects = 20;

protected:
    Request(const char* url, Client& client, void* userData);
    // The redirect copy: shares the response (with a reference of its own) and the settings.
    Request(const Request& from, const std::string& url, bool keepPostData);

    // Turns form fields into the body when there is no body; the verb follows from the body.
    const char* PrepareBody();
    // True when a clone took over the chain; false when this request must call the client.
    bool FollowRedirect();

    ResponseRef response_;
    std::string url_;
    Client* client_;
    FormFields formFields_;
    HeaderMap headers_;
    std::vector<char> body_;
    std::string proxy_;
    bool followRedirects_ = true;
    int redirects_ = 0;  // hops taken before this request
};

}  // namespace Orvane
