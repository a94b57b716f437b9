// One request over WinINet: Start opens, connects and sends; the status callback starts the worker,
// which reads headers and body, decodes gzip, follows a redirect or calls the client, then lets go.
#include "RequestWin.h"

#include "Inflate.h"
#include "common/Log.h"

#include <algorithm>
#include <stdexcept>

namespace Orvane {

namespace {

// The announced length only reserves memory; a hostile header must not reserve it all.
const DWORD kReserveCap = 32u << 20;

// The one report of a failed call; the caller passes GetLastError() (or an asynchronous result's
// error) before anything else can overwrite it.
void LogFailure(const char* call, DWORD error)
{
    Brimholt::Log << "Dornet: " << call << " failed: " << error << std::endl;
}

void CloseInternet(HINTERNET& handle)
{
    if (handle && !InternetCloseHandle(handle)) LogFailure("InternetCloseHandle", GetLastError());
    handle = nullptr;
}

}  // namespace

RequestWin::RequestWin(const char* url, Client& client, void* userData) : Request(url, client, userData)
{
    InitializeCriticalSection(&lock_);
}

RequestWin::RequestWin(const RequestWin& from, const std::string& url, bool keepPostData)
    : Request(from, url, keepPostData),
      userAgent_(from.userAgent_),
      accept_(from.accept_),
      referer_(from.url_),
      useSystemProxy_(from.useSystemProxy_),
      timeoutMs_(from.timeoutMs_)
{
    InitializeCriticalSection(&lock_);
}

RequestWin::~RequestWin()
{
    CloseHandles();
    DeleteCriticalSection(&lock_);
}

void RequestWin::SetHeader(const char* name, const char* value)
{
    std::string text = name ? name : "";
    if (EqualsNoCase(text, "Accept"))
        accept_ = value ? value : "";
    else if (EqualsNoCase(text, "Referer"))
        referer_ = value ? value : "";
    else if (EqualsNoCase(text, "User-Agent"))
        userAgent_ = value ? value : "";
    else
        Request::SetHeader(name, value);
}

void RequestWin::UseSystemProxy()
{
    useSystemProxy_ = true;
}

void RequestWin::SetTimeout(int seconds)
{
    if (seconds < 0) {
        timeoutMs_ = INFINITE;
        return;
    }
    unsigned long long ms = static_cast<unsigned long long>(seconds) * 1000u;
    timeoutMs_ = static_cast<DWORD>(std::min<unsigned long long>(ms, INFINITE));
}

OvRequest* RequestWin::Clone(const std::string& url, bool keepPostData)
{
    RequestWin* clone = new RequestWin(*this, url, keepPostData);
    try {
        response_->StartRedirect(url);
    } catch (...) {
        delete clone;
        throw;
    }
    return clone;
}

void RequestWin::Drop()
{
    if (--holds_ == 0) delete this;
}

int RequestWin::Start()
{
    Hold();
    int result = kStartNoRequest;
    try {
        result = Open();
    } catch (const std::exception&) {  // out of memory while building the request: nothing may escape
        Brimholt::Log << "Dornet: out of memory while starting a request" << std::endl;
    }
    if (result != kStarted) {
        StopCallbacks();
        CloseHandles();
    }
    Drop();  // on failure, the last closing status deletes the request (here, under Wine)
    return result;
}

int RequestWin::Open()
{
    const std::string agent = StripLineBreaks(userAgent_);
    DWORD access = INTERNET_OPEN_TYPE_DIRECT;
    const char* proxy = nullptr;
    if (useSystemProxy_) {
        access = INTERNET_OPEN_TYPE_PRECONFIG;
    } else if (!proxy_.empty()) {
        access = INTERNET_OPEN_TYPE_PROXY;
        proxy = proxy_.c_str();
    }
    internet_ = InternetOpenA(agent.c_str(), access, proxy, nullptr, INTERNET_FLAG_ASYNC);
    if (!internet_) {
        LogFailure("InternetOpenA", GetLastError());
        return kStartNoInternet;
    }
    // Without the callback no completion would ever come.
    if (InternetSetStatusCallbackA(internet_, OnInternetStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        LogFailure("InternetSetStatusCallbackA", GetLastError());
        return kStartNoInternet;
    }

    UrlComponents parts;
    if (!SplitUrl(url_.c_str(), parts)) return kStartBadUrl;

    INTERNET_PORT port = static_cast<INTERNET_PORT>(parts.port < 0 ? 0 : parts.port);
    connection_ =
        InternetConnectA(internet_, parts.host.c_str(), port, parts.user.empty() ? nullptr : parts.user.c_str(),
                         parts.password.empty() ? nullptr : parts.password.c_str(), INTERNET_SERVICE_HTTP, 0,
                         reinterpret_cast<DWORD_PTR>(this));
    if (!connection_) {
        LogFailure("InternetConnectA", GetLastError());
        return kStartNoConnection;
    }
    Hold();

    if (timeoutMs_ != 0) {
        const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                 INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                                 INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};
        for (DWORD option : options) {
            if (!InternetSetOptionA(connection_, option, &timeoutMs_, sizeof timeoutMs_))
                LogFailure("InternetSetOptionA", GetLastError());
        }
    }

    const char* verb = PrepareBody();
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                  INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_PRAGMA_NOCACHE;
    if (parts.scheme == "https") flags |= INTERNET_FLAG_SECURE;

    accept_ = StripLineBreaks(accept_);
    referer_ = StripLineBreaks(referer_);
    const char* acceptTypes[] = {accept_.c_str(), nullptr};
    request_ = HttpOpenRequestA(connection_, verb, parts.object.c_str(), "HTTP/1.1", referer_.c_str(), acceptTypes,
                                flags, reinterpret_cast<DWORD_PTR>(this));
    if (!request_) {
        LogFailure("HttpOpenRequestA", GetLastError());
        return kStartNoRequest;
    }
    Hold();

    headerText_ = BuildHeaderText(headers_);
    event_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event_) {
        LogFailure("CreateEventW", GetLastError());
        return kStartNoRequest;
    }

    {
        CsGuard lock(lock_);
        starting_ = true;
    }
    SetLastError(0);
    BOOL sent = HttpSendRequestA(request_, headerText_.empty() ? nullptr : headerText_.c_str(),
                                 static_cast<DWORD>(headerText_.size()), body_.empty() ? nullptr : body_.data(),
                                 static_cast<DWORD>(body_.size()));
    DWORD error = GetLastError();
    CsGuard lock(lock_);
    starting_ = false;
    if (!sent && error != ERROR_IO_PENDING) {
        LogFailure("HttpSendRequestA", error);
        return kStartNoRequest;
    }
    if (sent) {
        // Done at once: no completion status will come for the send.
        lastResultOk_ = true;
        SetEvent(event_.get());
        workerWanted_ = true;
    }
    if (workerWanted_ && !StartWorker()) return kStartNoRequest;
    return kStarted;
}

void CALLBACK RequestWin::OnInternetStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length)
{
    RequestWin* self = reinterpret_cast<RequestWin*>(context);
    if (!self) return;
    if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        self->Drop();  // the last status WinINet reports for that handle
        return;
    }
    self->OnStatus(status, info, length);
}

void RequestWin::OnStatus(DWORD status, const void* info, DWORD length)
{
    CsGuard lock(lock_);
    if (finished_) return;
    switch (status) {
        case INTERNET_STATUS_RESOLVING_NAME:
            response_->SetState(kStateResolving);
            break;
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
        case INTERNET_STATUS_SENDING_REQUEST:
            WantWorker();
            break;
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
            response_->SetState(kStateConnected);
            break;
        case INTERNET_STATUS_REQUEST_SENT:
            response_->SetState(kStateSent);
            break;
        case INTERNET_STATUS_REQUEST_COMPLETE: {
            const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            lastResultOk_ = result && length >= sizeof *result && result->dwResult != 0;
            lastError_ = result && length >= sizeof *result ? result->dwError : 0;
            WantWorker();
            if (event_) SetEvent(event_.get());
            break;
        }
        default:
            break;
    }
}

// Called under lock_. While Start is inside HttpSendRequestA the worker is only noted: a send that
// fails there must be able to delete the request without a worker running on it.
void RequestWin::WantWorker()
{
    if (workerStarted_) return;
    if (starting_)
        workerWanted_ = true;
    else
        StartWorker();
}

// Called under lock_.
bool RequestWin::StartWorker()
{
    if (workerStarted_) return true;
    Hold();
    worker_.reset(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    if (!worker_) {
        LogFailure("CreateThread", GetLastError());
        --holds_;  // Start or a handle still holds the request
        return false;
    }
    workerStarted_ = true;
    return true;
}

void RequestWin::StopCallbacks()
{
    CsGuard lock(lock_);
    finished_ = true;
}

void RequestWin::CloseHandles()
{
    CloseInternet(request_);
    CloseInternet(connection_);
    CloseInternet(internet_);
}

DWORD WINAPI RequestWin::ThreadProc(LPVOID param)
{
    static_cast<RequestWin*>(param)->Work();
    return 0;
}

bool RequestWin::WaitCompletion(const char* call)
{
    // A time-out of 0 means no limit, like the unset default.
    DWORD wait = timeoutMs_ == 0 ? INFINITE : timeoutMs_;
    if (WaitForSingleObject(event_.get(), wait) != WAIT_OBJECT_0) {
        Brimholt::Log << "Dornet: " << call << " did not complete within " << wait << " ms" << std::endl;
        return false;
    }
    if (!lastResultOk_) LogFailure(call, lastError_);
    return lastResultOk_;
}

void RequestWin::Work()
{
    if (WaitCompletion("HttpSendRequestA") && response_->GetState() == kStateSent) {
        try {
            ReadHeaders();
            if (ReadBody() && !ShortOfLength()) response_->SetState(kStateComplete);
        } catch (const std::exception&) {  // out of memory: the request failed, the process goes on
            std::vector<char>().swap(response_->Body());
        }
    }
    Finish();
}

void RequestWin::ReadHeaders()
{
    DWORD size = 0;
    if (!HttpQueryInfoA(request_, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr) &&
        GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND && size > 0) {
        std::string text(size, '\0');
        if (!HttpQueryInfoA(request_, HTTP_QUERY_RAW_HEADERS_CRLF, &text[0], &size, nullptr)) {
            LogFailure("HttpQueryInfoA", GetLastError());
        } else if (size > 0) {
            text.resize(std::min<size_t>(size, text.size()));
            response_->ParseRawHeaders(text);
        }
    }

    DWORD length = 0;
    DWORD lengthSize = sizeof length;
    haveLength_ = HttpQueryInfoA(request_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &lengthSize,
                                 nullptr) != FALSE;
    if (haveLength_) {
        contentLength_ = length;
        response_->Body().reserve(std::min(length, kReserveCap));
    }
}

bool RequestWin::ReadBody()
{
    std::vector<char>& body = response_->Body();
    for (;;) {
        buffers_ = INTERNET_BUFFERSA();
        buffers_.dwStructSize = sizeof buffers_;
        buffers_.lpvBuffer = chunk_;
        buffers_.dwBufferLength = sizeof chunk_;
        SetLastError(0);
        if (!InternetReadFileExA(request_, &buffers_, IRF_ASYNC, reinterpret_cast<DWORD_PTR>(this))) {
            DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                if (!WaitCompletion("InternetReadFileExA")) return false;
            } else if (error != 0) {
                LogFailure("InternetReadFileExA", error);
                return false;
            }
        }
        DWORD got = std::min<DWORD>(buffers_.dwBufferLength, sizeof chunk_);
        if (got == 0) return true;
        body.insert(body.end(), chunk_, chunk_ + got);
    }
}

// A connection that drops mid-body ends the reads like a clean end: only the announced length tells.
bool RequestWin::ShortOfLength() const
{
    if (!haveLength_ || response_->FindHeader("Content-Encoding")) return false;
    int code = response_->GetStatusCode();
    if (code == 204 || code == 304) return false;
    return response_->Body().size() < contentLength_;
}

void RequestWin::Finish()
{
    StopCallbacks();
    worker_.reset();
    CloseHandles();

    Response& response = *response_.get();
    const std::string* coding = response.FindHeader("Content-Encoding");
    if (response.GetState() == kStateComplete && coding && EqualsNoCase(*coding, "gzip")) {
        try {
            DecodeGzip(response.Body());
        } catch (const std::exception&) {
            response.SetState(kStateSent);
        }
    }
    if (!FollowRedirect()) client_->OnResponse(response);
    Drop();
}

OvRequest* OvRequest::CreateInstance(const char* url, Client& client, void* userData)
{
    return new RequestWin(url, client, userData);
}

}  // namespace Orvane
