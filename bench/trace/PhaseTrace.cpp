// Every request gets a record of timestamps, found by the context that WinINet passes around (the
// request object) and, on the request's worker thread, by a thread-local pointer.
#include "PhaseTrace.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace vxbench {

namespace {

enum Mark {
    kStart,
    kOpenBegin,
    kOpened,
    kConnectHandle,
    kRequestHandle,
    kSendBegin,
    kSendEnd,
    kWorkerCreated,
    kWorkerReturned,
    kWorkerRunning,
    kConnected,
    kSent,
    kHeaders,
    kFirstRead,
    kLastRead,
    kCloseBegin,
    kClosed,
    kClientBegin,
    kSaveBegin,
    kSaveEnd,
    kPosted,
    kDispatched,
    kNextStart,
    kClientEnd,
    kMarks
};

struct Record {
    double at[kMarks];
    int reads = 0;
    int pended = 0;
    WPARAM posted = 0;
    Record() { std::fill(at, at + kMarks, -1.0); }
};

struct Phase {
    const char* name;
    Mark from, to;
};

const Phase kPhases[] = {
    {"start: Start to InternetOpenA", kStart, kOpenBegin},
    {"handle: InternetOpenA", kOpenBegin, kOpened},
    {"handle: InternetConnectA + options", kOpened, kConnectHandle},
    {"handle: HttpOpenRequestA", kConnectHandle, kRequestHandle},
    {"send: HttpSendRequestA call", kSendBegin, kSendEnd},
    {"worker: CreateThread call", kWorkerCreated, kWorkerReturned},
    {"worker: CreateThread to running", kWorkerCreated, kWorkerRunning},
    {"connect: send to connected (21)", kSendEnd, kConnected},
    {"send: connected to sent (31)", kConnected, kSent},
    {"first byte: sent to headers (100)", kSent, kHeaders},
    {"first byte: Start to headers", kStart, kHeaders},
    {"body: headers to first read", kHeaders, kFirstRead},
    {"body: first to last read", kFirstRead, kLastRead},
    {"finish: last read to closing", kLastRead, kCloseBegin},
    {"finish: closing the handles", kCloseBegin, kClosed},
    {"completion: closed to client", kClosed, kClientBegin},
    {"client: OnResponse", kClientBegin, kClientEnd},
    {"saving: file written and renamed", kSaveBegin, kSaveEnd},
    {"saving: renamed to posted", kSaveEnd, kPosted},
    {"hop: posted to dispatched (UI queue)", kPosted, kDispatched},
    {"hop: dispatched to next Start (slot)", kDispatched, kNextStart},
    {"request: Start to closed", kStart, kClosed},
    {"cycle: Start to next Start", kStart, kNextStart},
};

LARGE_INTEGER g_frequency, g_origin;
std::mutex g_lock;
std::deque<Record> g_records;  // deque: indices and references stay valid as it grows
std::map<DWORD_PTR, size_t> g_byContext;
std::map<HINTERNET, size_t> g_byRequest, g_byInternet;
std::map<WPARAM, size_t> g_byPost;
std::deque<size_t> g_waitingForSlot;  // posted completions, in the order the UI thread handles them
DWORD g_uiThread = 0;
double g_proxyMs = 0;
int g_proxyCalls = 0;

thread_local double t_startMark = -1;
thread_local long t_openRecord = -1;    // caller thread: between InternetOpenA and InternetConnectA
thread_local long t_workerRecord = -1;  // the request's worker thread

const size_t kNone = static_cast<size_t>(-1);

double Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart - g_origin.QuadPart) * 1000.0 / double(g_frequency.QuadPart);
}

// Called under g_lock. The first stamp of a mark wins, except for the marks that move along.
void Stamp(size_t record, Mark mark, double at) {
    if (record == kNone || record >= g_records.size())
        return;
    double& slot = g_records[record].at[mark];
    if (slot < 0 || mark == kLastRead)
        slot = at;
}

size_t Find(const std::map<DWORD_PTR, size_t>& map, DWORD_PTR key) {
    auto it = map.find(key);
    return it == map.end() ? kNone : it->second;
}

size_t FindHandle(const std::map<HINTERNET, size_t>& map, HINTERNET key) {
    auto it = map.find(key);
    return it == map.end() ? kNone : it->second;
}

void StampContext(DWORD_PTR context, Mark mark) {
    double at = Now();
    std::lock_guard<std::mutex> guard(g_lock);
    Stamp(Find(g_byContext, context), mark, at);
}

void StampWorker(Mark mark) {
    if (t_workerRecord < 0)
        return;
    double at = Now();
    std::lock_guard<std::mutex> guard(g_lock);
    Stamp(static_cast<size_t>(t_workerRecord), mark, at);
}

decltype(&InternetOpenA) RealOpen;
decltype(&InternetSetStatusCallbackA) RealSetCallback;
decltype(&InternetConnectA) RealConnect;
decltype(&HttpOpenRequestA) RealOpenRequest;
decltype(&HttpSendRequestA) RealSend;
decltype(&InternetReadFileExA) RealRead;
decltype(&InternetCloseHandle) RealClose;
decltype(&CreateThread) RealCreateThread;
decltype(&CreateFileW) RealCreateFile;
decltype(&MoveFileExW) RealMoveFile;
decltype(&PostMessageW) RealPost;
decltype(&DispatchMessageW) RealDispatch;
typedef BOOL(WINAPI* ProxyConfigFn)(void*);
ProxyConfigFn RealProxyConfig;
INTERNET_STATUS_CALLBACK g_callback;

void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    if (status == INTERNET_STATUS_CONNECTED_TO_SERVER)
        StampContext(context, kConnected);
    else if (status == INTERNET_STATUS_REQUEST_SENT)
        StampContext(context, kSent);
    else if (status == INTERNET_STATUS_REQUEST_COMPLETE)
        StampContext(context, kHeaders);
    g_callback(handle, context, status, info, length);
}

HINTERNET WINAPI Open(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
    double begin = Now();
    HINTERNET handle = RealOpen(agent, access, proxy, bypass, flags);
    double end = Now();
    std::lock_guard<std::mutex> guard(g_lock);
    g_records.emplace_back();
    size_t record = g_records.size() - 1;
    Stamp(record, kStart, t_startMark >= 0 ? t_startMark : begin);
    Stamp(record, kOpenBegin, begin);
    Stamp(record, kOpened, end);
    t_startMark = -1;
    t_openRecord = static_cast<long>(record);
    if (handle)
        g_byInternet[handle] = record;
    if (GetCurrentThreadId() == g_uiThread && !g_waitingForSlot.empty()) {
        Stamp(g_waitingForSlot.front(), kNextStart, begin);
        g_waitingForSlot.pop_front();
    }
    return handle;
}

INTERNET_STATUS_CALLBACK WINAPI SetCallback(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
    g_callback = callback;
    return RealSetCallback(handle, callback ? OnStatus : nullptr);
}

HINTERNET WINAPI Connect(HINTERNET internet, LPCSTR host, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                         DWORD service, DWORD flags, DWORD_PTR context) {
    HINTERNET handle = RealConnect(internet, host, port, user, password, service, flags, context);
    double at = Now();
    std::lock_guard<std::mutex> guard(g_lock);
    if (t_openRecord >= 0) {
        g_byContext[context] = static_cast<size_t>(t_openRecord);
        Stamp(static_cast<size_t>(t_openRecord), kConnectHandle, at);
    }
    return handle;
}

HINTERNET WINAPI OpenRequest(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version, LPCSTR referer,
                             LPCSTR* accept, DWORD flags, DWORD_PTR context) {
    HINTERNET handle = RealOpenRequest(connection, verb, object, version, referer, accept, flags, context);
    double at = Now();
    std::lock_guard<std::mutex> guard(g_lock);
    size_t record = Find(g_byContext, context);
    Stamp(record, kRequestHandle, at);
    if (handle && record != kNone)
        g_byRequest[handle] = record;
    return handle;
}

BOOL WINAPI Send(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID body, DWORD bodyLength) {
    size_t record;
    {
        double at = Now();
        std::lock_guard<std::mutex> guard(g_lock);
        record = FindHandle(g_byRequest, request);
        Stamp(record, kSendBegin, at);
    }
    BOOL sent = RealSend(request, headers, headersLength, body, bodyLength);
    DWORD error = GetLastError();
    {
        double at = Now();
        std::lock_guard<std::mutex> guard(g_lock);
        Stamp(record, kSendEnd, at);
    }
    SetLastError(error);
    return sent;
}

BOOL WINAPI Read(HINTERNET request, LPINTERNET_BUFFERSA buffers, DWORD flags, DWORD_PTR context) {
    double at = Now();
    {
        std::lock_guard<std::mutex> guard(g_lock);
        size_t record = Find(g_byContext, context);
        Stamp(record, kFirstRead, at);
        Stamp(record, kLastRead, at);
        if (record != kNone)
            ++g_records[record].reads;
    }
    BOOL done = RealRead(request, buffers, flags, context);
    DWORD error = GetLastError();
    if (!done && error == ERROR_IO_PENDING) {
        std::lock_guard<std::mutex> guard(g_lock);
        size_t record = Find(g_byContext, context);
        if (record != kNone)
            ++g_records[record].pended;
    }
    SetLastError(error);
    return done;
}

BOOL WINAPI Close(HINTERNET handle) {
    size_t request, internet;
    {
        double at = Now();
        std::lock_guard<std::mutex> guard(g_lock);
        request = FindHandle(g_byRequest, handle);
        internet = FindHandle(g_byInternet, handle);
        Stamp(request, kCloseBegin, at);
        if (request != kNone)
            g_byRequest.erase(handle);
        if (internet != kNone)
            g_byInternet.erase(handle);
    }
    BOOL closed = RealClose(handle);
    if (internet != kNone) {
        double at = Now();
        std::lock_guard<std::mutex> guard(g_lock);
        Stamp(internet, kClosed, at);
    }
    return closed;
}

struct WorkerStart {
    LPTHREAD_START_ROUTINE proc;
    LPVOID param;
    long record;
};

DWORD WINAPI WorkerEntry(LPVOID param) {
    WorkerStart start = *static_cast<WorkerStart*>(param);
    delete static_cast<WorkerStart*>(param);
    t_workerRecord = start.record;
    StampWorker(kWorkerRunning);
    DWORD result = start.proc(start.param);
    t_workerRecord = -1;
    return result;
}

// Dornet passes the request as the thread's parameter, which is also its WinINet context.
HANDLE WINAPI NewThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE proc, LPVOID param,
                        DWORD flags, LPDWORD id) {
    long record;
    {
        double at = Now();
        std::lock_guard<std::mutex> guard(g_lock);
        size_t found = Find(g_byContext, reinterpret_cast<DWORD_PTR>(param));
        Stamp(found, kWorkerCreated, at);
        record = found == kNone ? -1 : static_cast<long>(found);
    }
    auto* start = new WorkerStart{proc, param, record};
    HANDLE thread = RealCreateThread(attributes, stack, WorkerEntry, start, flags, id);
    if (!thread)
        delete start;
    double at = Now();
    std::lock_guard<std::mutex> guard(g_lock);
    if (record >= 0)
        Stamp(static_cast<size_t>(record), kWorkerReturned, at);
    return thread;
}

HANDLE WINAPI NewFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD creation,
                      DWORD flags, HANDLE templateFile) {
    StampWorker(kSaveBegin);
    return RealCreateFile(name, access, share, attributes, creation, flags, templateFile);
}

BOOL WINAPI MoveFile(LPCWSTR from, LPCWSTR to, DWORD flags) {
    BOOL moved = RealMoveFile(from, to, flags);
    DWORD error = GetLastError();
    StampWorker(kSaveEnd);
    SetLastError(error);
    return moved;
}

BOOL WINAPI Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (t_workerRecord >= 0) {
        double at = Now();
        std::lock_guard<std::mutex> guard(g_lock);
        size_t record = static_cast<size_t>(t_workerRecord);
        Stamp(record, kPosted, at);
        g_byPost[wParam] = record;
        g_waitingForSlot.push_back(record);
    }
    return RealPost(window, message, wParam, lParam);
}

LRESULT WINAPI Dispatch(const MSG* msg) {
    if (msg) {
        double at = Now();
        std::lock_guard<std::mutex> guard(g_lock);
        auto it = g_byPost.find(msg->wParam);
        if (it != g_byPost.end()) {
            Stamp(it->second, kDispatched, at);
            g_byPost.erase(it);
        }
    }
    return RealDispatch(msg);
}

BOOL WINAPI ProxyConfig(void* config) {
    double begin = Now();
    BOOL ok = RealProxyConfig(config);
    DWORD error = GetLastError();
    double spent = Now() - begin;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_proxyMs += spent;
        ++g_proxyCalls;
    }
    SetLastError(error);
    return ok;
}

// Points one import of a module at the hook; false when the module does not import it.
template <class Fn>
bool Patch(HMODULE module, const char* dll, const char* name, Fn hook, Fn& real) {
    if (!module)
        return false;
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return false;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + imp->Name), dll) != 0 || !imp->OriginalFirstThunk)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), name) != 0)
                continue;
            DWORD old;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old))
                return false;
            real = reinterpret_cast<Fn>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return true;
        }
    }
    return false;
}

void PrintStats(const char* label, const char* name, std::vector<double>& values, const char* unit = "ms") {
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values)
        sum += v;
    std::printf("phase %s %-40s n=%5zu median=%8.3f mean=%8.3f p90=%8.3f %s\n", label, name, values.size(),
                values[values.size() / 2], sum / values.size(), values[values.size() * 9 / 10], unit);
}

}  // namespace

bool InstallPhaseTrace() {
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_origin);
    g_uiThread = GetCurrentThreadId();
    HMODULE dornet = GetModuleHandleW(L"Dornet.dll");
    HMODULE program = GetModuleHandleW(nullptr);
    bool ok = Patch(dornet, "wininet.dll", "InternetOpenA", Open, RealOpen) &&
              Patch(dornet, "wininet.dll", "InternetSetStatusCallbackA", SetCallback, RealSetCallback) &&
              Patch(dornet, "wininet.dll", "InternetConnectA", Connect, RealConnect) &&
              Patch(dornet, "wininet.dll", "HttpOpenRequestA", OpenRequest, RealOpenRequest) &&
              Patch(dornet, "wininet.dll", "HttpSendRequestA", Send, RealSend) &&
              Patch(dornet, "wininet.dll", "InternetReadFileExA", Read, RealRead) &&
              Patch(dornet, "wininet.dll", "InternetCloseHandle", Close, RealClose) &&
              Patch(dornet, "kernel32.dll", "CreateThread", NewThread, RealCreateThread);
    // Only the downloader saves, posts and looks up the proxy.
    Patch(dornet, "kernel32.dll", "CreateFileW", NewFile, RealCreateFile);
    Patch(program, "kernel32.dll", "MoveFileExW", MoveFile, RealMoveFile);
    Patch(program, "user32.dll", "PostMessageW", Post, RealPost);
    Patch(program, "user32.dll", "DispatchMessageW", Dispatch, RealDispatch);
    Patch(program, "winhttp.dll", "WinHttpGetIEProxyConfigForCurrentUser", ProxyConfig, RealProxyConfig);
    if (!ok)
        std::fprintf(stderr, "phase trace: the imports of Dornet.dll could not be patched\n");
    return ok;
}

void MarkStart() {
    t_startMark = Now();
}

void MarkClient(bool end) {
    StampWorker(end ? kClientEnd : kClientBegin);
}

void PrintPhases(const char* label) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (const Phase& phase : kPhases) {
        std::vector<double> values;
        for (const Record& r : g_records)
            if (r.at[phase.from] >= 0 && r.at[phase.to] >= r.at[phase.from])
                values.push_back(r.at[phase.to] - r.at[phase.from]);
        PrintStats(label, phase.name, values);
    }
    std::vector<double> reads, pended;
    for (const Record& r : g_records) {
        reads.push_back(r.reads);
        pended.push_back(r.pended);
    }
    PrintStats(label, "count: reads per request", reads, "reads");
    PrintStats(label, "count: reads that pended", pended, "reads");
    if (g_proxyCalls)
        std::printf("phase %s %-40s n=%5d mean=%8.3f ms\n", label, "proxy: WinHttpGetIEProxyConfig", g_proxyCalls,
                    g_proxyMs / g_proxyCalls);
    std::fflush(stdout);
    g_records.clear();
    g_byContext.clear();
    g_byRequest.clear();
    g_byInternet.clear();
    g_byPost.clear();
    g_waitingForSlot.clear();
    g_proxyMs = 0;
    g_proxyCalls = 0;
}

}  // namespace vxbench
