// Dornet's request as http/RequestWin.cpp makes it: the same flags, options, statuses, locks and
// hand-offs, without the redirects, gzip and proxies the benchmark never meets. Each switch changes
// only what it names, so the unswitched copy must time like Dornet.
#include "WinInetCopy.h"

#include "HttpText.h"
#include "UrlSplit.h"
#include "common/Scoped.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <vector>

namespace vxbench {

namespace {

const DWORD kMaxRead = 64 * 1024;
const DWORD kReserveCap = 32u << 20;

void CloseInternet(HINTERNET& handle)
{
    if (handle) InternetCloseHandle(handle);
    handle = nullptr;
}

class Fetch;

}  // namespace

// Workers that stay for the whole run; a request queued here runs on the first free one.
struct WinInetCopy::Pool {
    explicit Pool(int workers);
    ~Pool();
    bool Post(Fetch* fetch);
    static DWORD WINAPI Loop(LPVOID param);

    CRITICAL_SECTION lock;
    HANDLE queued = nullptr;
    std::deque<Fetch*> jobs;  // under lock; null stops one worker
    std::vector<HANDLE> threads;
};

namespace {

HINTERNET OpenInternet();

class Fetch {
public:
    Fetch(const WinInetVariant& variant, HINTERNET shared, WinInetCopy::Pool* pool, const std::string& url,
          CopyClient& client)
        : variant_(variant), shared_(shared), pool_(pool), url_(url), client_(client)
    {
        InitializeCriticalSection(&lock_);
    }
    ~Fetch()
    {
        CloseHandles();
        if (event_) CloseHandle(event_);
        if (worker_) CloseHandle(worker_);
        DeleteCriticalSection(&lock_);
    }
    Fetch(const Fetch&) = delete;
    Fetch& operator=(const Fetch&) = delete;

    int Start();
    void Work();

    static void CALLBACK OnInternetStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

private:
    static DWORD WINAPI ThreadProc(LPVOID param);

    int Open();
    void OnStatus(DWORD status, const void* info, DWORD length);
    void WantWorker();
    bool StartWorker();
    void StopCallbacks();
    void CloseHandles();
    bool WaitCompletion();
    void ReadHeaders();
    bool ReadBody();
    bool ShortOfLength() const;
    void Finish();

    void Hold() { ++holds_; }
    void Drop()
    {
        if (--holds_ == 0) delete this;
    }

    const WinInetVariant& variant_;
    HINTERNET shared_;
    WinInetCopy::Pool* pool_;
    std::string url_;
    CopyClient& client_;
    std::string userAgent_ = "Mozilla/5.0 (Windows NT 6.3; Win64, x64; Trident/7.0; rv:11.0) like Gecko";
    std::string accept_ = "*/*";
    std::string referer_;
    DWORD timeoutMs_ = INFINITE;

    HINTERNET internet_ = nullptr;  // stays null with a shared handle
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    HANDLE event_ = nullptr;
    HANDLE worker_ = nullptr;

    std::atomic<long> holds_{0};
    CRITICAL_SECTION lock_;
    bool finished_ = false;       // under lock_
    bool starting_ = false;       // under lock_
    bool workerWanted_ = false;   // under lock_
    bool workerStarted_ = false;  // under lock_
    std::atomic<bool> sent_{false};
    std::atomic<bool> lastResultOk_{false};
    bool complete_ = false;

    std::string headerText_;
    Orvane::ParsedHeaders parsed_;
    std::vector<char> body_;
    bool haveLength_ = false;
    DWORD contentLength_ = 0;
    char chunk_[kMaxRead];
    INTERNET_BUFFERSA buffers_;
};

int Fetch::Start()
{
    Hold();
    int result = Open();
    if (result != 0) {
        StopCallbacks();
        CloseHandles();
    }
    Drop();
    return result;
}

int Fetch::Open()
{
    if (!shared_) {
        internet_ = OpenInternet();
        if (!internet_) return 5;
    }
    Orvane::UrlComponents parts;
    if (!Orvane::SplitUrl(url_.c_str(), parts)) return 1;

    INTERNET_PORT port = static_cast<INTERNET_PORT>(parts.port < 0 ? 0 : parts.port);
    connection_ = InternetConnectA(shared_ ? shared_ : internet_, parts.host.c_str(), port, nullptr, nullptr,
                                   INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(this));
    if (!connection_) return 2;
    Hold();

    const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                             INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};
    for (DWORD option : options) InternetSetOptionA(connection_, option, &timeoutMs_, sizeof timeoutMs_);

    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                  INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_PRAGMA_NOCACHE;
    accept_ = Orvane::StripLineBreaks(accept_);
    referer_ = Orvane::StripLineBreaks(referer_);
    const char* acceptTypes[] = {accept_.c_str(), nullptr};
    request_ = HttpOpenRequestA(connection_, "GET", parts.object.c_str(), "HTTP/1.1", referer_.c_str(), acceptTypes,
                                flags, reinterpret_cast<DWORD_PTR>(this));
    if (!request_) return 3;
    Hold();

    headerText_ = Orvane::BuildHeaderText(Orvane::HeaderMap());
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event_) return 3;

    {
        CsGuard lock(lock_);
        starting_ = true;
    }
    SetLastError(0);
    BOOL sent = HttpSendRequestA(request_, headerText_.empty() ? nullptr : headerText_.c_str(),
                                 static_cast<DWORD>(headerText_.size()), nullptr, 0);
    DWORD error = GetLastError();
    CsGuard lock(lock_);
    starting_ = false;
    if (!sent && error != ERROR_IO_PENDING) return 3;
    if (sent) {
        lastResultOk_ = true;
        SetEvent(event_);
        workerWanted_ = true;
    }
    if (workerWanted_ && !StartWorker()) return 3;
    return 0;
}

void CALLBACK Fetch::OnInternetStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length)
{
    Fetch* self = reinterpret_cast<Fetch*>(context);
    if (!self) return;
    if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        self->Drop();
        return;
    }
    self->OnStatus(status, info, length);
}

void Fetch::OnStatus(DWORD status, const void* info, DWORD length)
{
    CsGuard lock(lock_);
    if (finished_) return;
    switch (status) {
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
    case INTERNET_STATUS_SENDING_REQUEST:
        WantWorker();
        break;
    case INTERNET_STATUS_REQUEST_SENT:
        sent_ = true;
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
        const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        lastResultOk_ = result && length >= sizeof *result && result->dwResult != 0;
        WantWorker();
        if (event_) SetEvent(event_);
        break;
    }
    default:
        break;
    }
}

// Called under lock_.
void Fetch::WantWorker()
{
    if (workerStarted_) return;
    if (starting_)
        workerWanted_ = true;
    else
        StartWorker();
}

// Called under lock_. The pool takes the request at the moment Dornet would start its thread.
bool Fetch::StartWorker()
{
    if (workerStarted_) return true;
    Hold();
    if (pool_) {
        workerStarted_ = pool_->Post(this);
    } else {
        worker_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
        workerStarted_ = worker_ != nullptr;
    }
    if (!workerStarted_) --holds_;
    return workerStarted_;
}

void Fetch::StopCallbacks()
{
    CsGuard lock(lock_);
    finished_ = true;
}

void Fetch::CloseHandles()
{
    CloseInternet(request_);
    CloseInternet(connection_);
    CloseInternet(internet_);
}

DWORD WINAPI Fetch::ThreadProc(LPVOID param)
{
    static_cast<Fetch*>(param)->Work();
    return 0;
}

bool Fetch::WaitCompletion()
{
    DWORD wait = timeoutMs_ == 0 ? INFINITE : timeoutMs_;
    return WaitForSingleObject(event_, wait) == WAIT_OBJECT_0 && lastResultOk_;
}

void Fetch::Work()
{
    if (WaitCompletion() && sent_) {
        ReadHeaders();
        complete_ = ReadBody() && !ShortOfLength();
    }
    Finish();
}

void Fetch::ReadHeaders()
{
    DWORD size = 0;
    if (!HttpQueryInfoA(request_, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr) &&
        GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND && size > 0) {
        std::string text(size, '\0');
        if (HttpQueryInfoA(request_, HTTP_QUERY_RAW_HEADERS_CRLF, &text[0], &size, nullptr) && size > 0) {
            text.resize(std::min<size_t>(size, text.size()));
            Orvane::ParseRawHeaders(text, parsed_);
        }
    }

    DWORD length = 0;
    DWORD lengthSize = sizeof length;
    haveLength_ = HttpQueryInfoA(request_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &lengthSize,
                                 nullptr) != FALSE;
    if (haveLength_) {
        contentLength_ = length;
        body_.reserve(std::min(length, kReserveCap));
    }
}

bool Fetch::ReadBody()
{
    const DWORD size = std::min(variant_.readSize, kMaxRead);
    for (;;) {
        buffers_ = INTERNET_BUFFERSA();
        buffers_.dwStructSize = sizeof buffers_;
        buffers_.lpvBuffer = chunk_;
        buffers_.dwBufferLength = size;
        SetLastError(0);
        if (!InternetReadFileExA(request_, &buffers_, IRF_ASYNC, reinterpret_cast<DWORD_PTR>(this))) {
            DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                if (!WaitCompletion()) return false;
            } else if (error != 0) {
                return false;
            }
        }
        DWORD got = std::min(buffers_.dwBufferLength, size);
        if (got == 0) return true;
        body_.insert(body_.end(), chunk_, chunk_ + got);
    }
}

bool Fetch::ShortOfLength() const
{
    if (!haveLength_ || parsed_.headers.count("Content-Encoding")) return false;
    if (parsed_.statusCode == 204 || parsed_.statusCode == 304) return false;
    return body_.size() < contentLength_;
}

void Fetch::Finish()
{
    StopCallbacks();
    if (worker_) CloseHandle(worker_);
    worker_ = nullptr;
    CloseHandles();
    // Dornet's caller copies the body out of the response the same way (GetBody into a string).
    std::string copy(body_.begin(), body_.end());
    client_.Done(complete_, copy.size());
    Drop();
}

HINTERNET OpenInternet()
{
    const std::string agent =
        Orvane::StripLineBreaks("Mozilla/5.0 (Windows NT 6.3; Win64, x64; Trident/7.0; rv:11.0) like Gecko");
    HINTERNET internet = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (internet && InternetSetStatusCallbackA(internet, Fetch::OnInternetStatus) == INTERNET_INVALID_STATUS_CALLBACK)
        CloseInternet(internet);
    return internet;
}

}  // namespace

WinInetCopy::Pool::Pool(int workers)
{
    InitializeCriticalSection(&lock);
    queued = CreateSemaphoreW(nullptr, 0, 0x7fffffff, nullptr);
    for (int i = 0; queued && i < workers; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, Loop, this, 0, nullptr);
        if (thread) threads.push_back(thread);
    }
}

WinInetCopy::Pool::~Pool()
{
    for (size_t i = 0; i < threads.size(); ++i) Post(nullptr);
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    if (queued) CloseHandle(queued);
    DeleteCriticalSection(&lock);
}

bool WinInetCopy::Pool::Post(Fetch* fetch)
{
    if (threads.empty()) return false;
    {
        CsGuard hold(lock);
        jobs.push_back(fetch);
    }
    return ReleaseSemaphore(queued, 1, nullptr) != FALSE;
}

DWORD WINAPI WinInetCopy::Pool::Loop(LPVOID param)
{
    Pool* pool = static_cast<Pool*>(param);
    for (;;) {
        WaitForSingleObject(pool->queued, INFINITE);
        Fetch* fetch;
        {
            CsGuard hold(pool->lock);
            fetch = pool->jobs.front();
            pool->jobs.pop_front();
        }
        if (!fetch) return 0;
        fetch->Work();
    }
}

WinInetCopy::WinInetCopy(const WinInetVariant& variant, int workers) : variant_(variant)
{
    if (variant_.sharedInternet) internet_ = OpenInternet();
    if (variant_.pool) pool_ = new Pool(workers);
}

// The caller has seen every Done: no request is left on the pool or the shared handle.
WinInetCopy::~WinInetCopy()
{
    delete pool_;
    CloseInternet(internet_);
}

bool WinInetCopy::Ready() const
{
    return (!variant_.sharedInternet || internet_) && (!variant_.pool || !pool_->threads.empty());
}

bool WinInetCopy::Start(const std::string& url, CopyClient& client)
{
    return (new Fetch(variant_, internet_, pool_, url, client))->Start() == 0;
}

}  // namespace vxbench
