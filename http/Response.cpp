// Reference-counted response: values leave only through the caller's sinks, one Allocate each.
#include "Response.h"

#include <windows.h>

#include "common/Scoped.h"

#include <algorithm>
#include <cstring>

namespace Orvane {

namespace {

void Hand(OvData& sink, const char* data, size_t length)
{
    char* buffer = sink.Allocate(length);
    if (buffer && length) std::memcpy(buffer, data, length);
}

void Hand(OvData& sink, const std::string& text)
{
    Hand(sink, text.data(), text.size());
}

}  // namespace

Response::Response(const char* url, void* userData)
    : requestUrl_(url ? url : ""), currentUrl_(requestUrl_), userData_(userData)
{
}

const OvResponse* Response::AddRef() const
{
    ++refs_;
    return this;
}

void Response::Release() const
{
    if (--refs_ == 0) delete this;
}

void Response::GetURL(OvData& sink) const
{
    Hand(sink, currentUrl_);
}

void Response::GetRequestURL(OvData& sink) const
{
    Hand(sink, requestUrl_);
}

const std::string* Response::FindHeader(const char* canonicalName) const
{
    auto it = parsed_.headers.find(canonicalName);
    return it == parsed_.headers.end() ? nullptr : &it->second;
}

bool Response::GetHeader(OvData& sink, const char* name) const
{
    if (!name) return false;
    const std::string* value = FindHeader(CanonicalizeHeaderName(name).c_str());
    if (!value) return false;
    Hand(sink, *value);
    return true;
}

bool Response::GetBody(OvData& sink) const
{
    if (state_ != kStateComplete) return false;
    Hand(sink, body_.data(), body_.size());
    return true;
}

bool Response::GetCookie(unsigned index, OvData& sink) const
{
    if (index >= parsed_.cookies.size()) return false;
    Hand(sink, parsed_.cookies[index]);
    return true;
}

bool Response::SaveToFile(const wchar_t* path) const
{
    AutoHandle file(
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file) return false;
    // A full disk must not pass for a saved image.
    bool ok = true;
    size_t done = 0;
    while (ok && done < body_.size()) {
        DWORD step = static_cast<DWORD>(std::min<size_t>(body_.size() - done, 1 << 20));
        DWORD written = 0;
        ok = WriteFile(file.get(), body_.data() + done, step, &written, nullptr) && written == step;
        done += written;
    }
    if (!file.reset()) ok = false;
    return ok;
}

void Response::StartRedirect(const std::string& url)
{
    currentUrl_ = url;
    body_.clear();
    // A failed hop must not look complete, nor carry the 3xx's status and headers.
    state_ = kStateCreated;
    parsed_.statusCode = -1;
    parsed_.headers.clear();
}

Response::Saved Response::Save() const
{
    return Saved{currentUrl_, body_, state_, parsed_.statusCode, parsed_.headers};
}

void Response::Restore(Saved&& saved)
{
    currentUrl_ = std::move(saved.url);
    body_ = std::move(saved.body);
    state_ = saved.state;
    parsed_.statusCode = saved.statusCode;
    parsed_.headers = std::move(saved.headers);
}

}  // namespace Orvane
