// Request settings and the redirect step shared by every transport.
#include "Request.h"

#include <stdexcept>

namespace Orvane {

namespace {

std::string Text(const char* text)
{
    return text ? text : "";
}

Response* Share(Response* response)
{
    response->AddRef();
    return response;
}

}  // namespace

Request::Request(const char* url, Client& client, void* userData)
    : response_(new Response(url, userData)), url_(Text(url)), client_(&client)
{
}

Request::Request(const Request& from, const std::string& url, bool keepPostData)
    : response_(Share(from.response_.get())),
      url_(url),
      client_(from.client_),
      headers_(from.headers_),
      proxy_(from.proxy_),
      redirects_(from.redirects_ + 1)
{
    if (keepPostData) body_ = from.body_;
}

Request::~Request() = default;

void Request::SetFormField(const char* name, const char* value)
{
    formFields_[Text(name)] = Text(value);
}

void Request::SetHeader(const char* name, const char* value)
{
    headers_[CanonicalizeHeaderName(Text(name))] = Text(value);
}

void Request::SetPostData(const void* data, size_t length)
{
    const char* bytes = static_cast<const char*>(data);
    if (bytes)
        body_.assign(bytes, bytes + length);
    else
        body_.clear();
}

void Request::SetProxy(const char* proxy)
{
    proxy_ = Text(proxy);
}

void Request::DisableRedirect()
{
    followRedirects_ = false;
}

const char* Request::PrepareBody()
{
    if (body_.empty() && !formFields_.empty()) {
        std::string form = EncodeForm(formFields_);
        body_.assign(form.begin(), form.end());
        headers_["Content-Type"] = "application/x-www-form-urlencoded";
    }
    return body_.empty() ? "GET" : "POST";
}

bool Request::FollowRedirect()
{
    Response& response = *response_.get();
    if (!followRedirects_ || response.GetState() != kStateComplete) return false;
    int code = response.GetStatusCode();
    if (code != 301 && code != 302 && code != 303) return false;
    const std::string* location = response.FindHeader("Location");
    // Past the cap the last 3xx goes to the client, so a redirect loop ends.
    if (!location || location->empty() || redirects_ >= kMaxRedirects) return false;

    Response::Saved saved{};
    bool isSaved = false;
    OvRequest* next = nullptr;
    try {
        std::string target = ResolveLocation(url_, *location);
        saved = response.Save();
        isSaved = true;
        next = Clone(target, code != 303);
    } catch (const std::exception&) {
        if (isSaved) response.Restore(std::move(saved));
        return false;
    }
    if (next->Start() == kStarted) {
        response_.reset();
        return true;
    }
    // The clone has deleted itself; the chain ends here with the 3xx as it arrived.
    response.Restore(std::move(saved));
    return false;
}

}  // namespace Orvane
