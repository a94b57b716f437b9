// Throughput of Dornet against the local test server: COUNT requests of SIZE bytes with a fixed
// number in flight. Prints one line per concurrency: requests/s and MB/s.
// Usage: dornet_bench [http-port [--alternatives] [--phases]] ; without a port it starts the test
// server itself. --alternatives also times Dornet's WinINet sequence rebuilt with design changes
// (WinInetCopy.cpp). With --phases the Dornet runs are repeated with every request's phases timed
// (bench/trace).
#include "Dornet.h"
#include "PhaseTrace.h"
#include "TestServer.h"
#include "WinInetCopy.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const int kCount = 1000;
const size_t kSize = 100 * 1024;

// Counts the answers of one run and frees a slot for the next request.
class Tally : public Orvane::OvRequest::Client, public vxbench::CopyClient {
public:
    explicit Tally(HANDLE slots) : slots_(slots) {}
    void OnResponse(const Orvane::OvResponse& response) override
    {
        vxbench::MarkClient(false);
        std::string body;
        Orvane::OvStringFetcher<char> sink(body);
        bool complete = response.GetState() == 0 && response.GetBody(sink);
        Done(complete, body.size());
        vxbench::MarkClient(true);
    }
    void Done(bool complete, size_t bodySize) override
    {
        if (complete && bodySize == kSize)
            bytes += bodySize;
        else
            ++failures;
        ReleaseSemaphore(slots_, 1, nullptr);
    }
    std::atomic<long long> bytes{0};
    std::atomic<int> failures{0};

private:
    HANDLE slots_;
};

// COUNT requests with `concurrency` in flight; start(url, tally) is false when one did not start.
template <class StartFn>
void Run(const char* name, const std::string& base, int concurrency, StartFn start)
{
    HANDLE slots = CreateSemaphoreW(nullptr, concurrency, concurrency, nullptr);
    Tally tally(slots);
    LARGE_INTEGER freq, begin, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&begin);
    int startFailures = 0;
    for (int i = 0; i < kCount; ++i) {
        WaitForSingleObject(slots, INFINITE);
        std::string url = base + "/bytes/" + std::to_string(kSize) + "?seed=" + std::to_string(i % 8);
        if (!start(url, tally)) {
            ++startFailures;
            ReleaseSemaphore(slots, 1, nullptr);
        }
    }
    for (int i = 0; i < concurrency; ++i) WaitForSingleObject(slots, INFINITE);
    QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - begin.QuadPart) / double(freq.QuadPart);
    std::printf("%s concurrency=%d requests=%d seconds=%.3f req/s=%.1f MB/s=%.1f failures=%d\n", name, concurrency,
                kCount, seconds, kCount / seconds, tally.bytes / seconds / 1e6, tally.failures + startFailures);
    std::fflush(stdout);
    CloseHandle(slots);
}

void RunDornet(const std::string& base, int concurrency)
{
    Run("dornet", base, concurrency, [](const std::string& url, Tally& tally) {
        vxbench::MarkStart();
        return Orvane::OvRequest::CreateInstance(url.c_str(), tally, nullptr)->Start() == 0;
    });
}

// Dornet's design against the ones it could move to, timed by the same loop. The pool and the shared
// handle exist before the clock starts, as they would for the program's whole life.
void RunAlternatives(const std::string& base, int concurrency)
{
    const vxbench::WinInetVariant variants[] = {
        {"alt:as-dornet", 4096, false, false},      {"alt:64k", 65536, false, false},
        {"alt:pool", 4096, true, false},            {"alt:shared", 4096, false, true},
        {"alt:64k+pool", 65536, true, false},       {"alt:64k+pool+shared", 65536, true, true},
    };
    for (const vxbench::WinInetVariant& variant : variants) {
        vxbench::WinInetCopy copy(variant, concurrency);
        if (!copy.Ready()) {
            std::printf("%s concurrency=%d failed to set up (error %lu)\n", variant.name, concurrency, GetLastError());
            continue;
        }
        Run(variant.name, base, concurrency,
            [&copy](const std::string& url, Tally& tally) { return copy.Start(url, tally); });
    }
}

// What one thread per request costs here by itself: COUNT threads that only note when they run,
// with `alive` of them running (sleeping as long as a request lasts) at a time.
DWORD WINAPI NoteRunning(LPVOID param)
{
    LARGE_INTEGER* at = static_cast<LARGE_INTEGER*>(param);
    QueryPerformanceCounter(at);
    Sleep(5);
    return 0;
}

void ThreadStarts(int alive)
{
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    HANDLE running[20] = {};
    LARGE_INTEGER created[20], ran[20];
    double total = 0;
    for (int i = 0; i < kCount; ++i) {
        int slot = i % alive;
        if (running[slot]) {
            WaitForSingleObject(running[slot], INFINITE);
            CloseHandle(running[slot]);
            total += double(ran[slot].QuadPart - created[slot].QuadPart) / double(freq.QuadPart);
        }
        QueryPerformanceCounter(&created[slot]);
        running[slot] = CreateThread(nullptr, 0, NoteRunning, &ran[slot], 0, nullptr);
    }
    for (int slot = 0; slot < alive; ++slot) {
        WaitForSingleObject(running[slot], INFINITE);
        CloseHandle(running[slot]);
        total += double(ran[slot].QuadPart - created[slot].QuadPart) / double(freq.QuadPart);
    }
    std::printf("phase threads-alone alive=%d CreateThread to running mean=%.3f ms\n", alive, total * 1000 / kCount);
}

}  // namespace

int main(int argc, char** argv)
{
    vxtest::TestServer server;
    std::string base;
    if (argc > 1) {
        base = std::string("http://127.0.0.1:") + argv[1];
    } else {
        std::string error;
        if (!server.Start(&error)) {
            std::fprintf(stderr, "test server: %s\n", error.c_str());
            return 1;
        }
        base = server.Url("");
    }
    bool alternatives = false, phases = false;
    for (int i = 2; i < argc; ++i) {
        alternatives |= std::string(argv[i]) == "--alternatives";
        phases |= std::string(argv[i]) == "--phases";
    }
    for (int concurrency : {5, 20}) {
        RunDornet(base, concurrency);
        if (alternatives) RunAlternatives(base, concurrency);
    }
    // Timed apart: the trace takes a lock at every step of every request.
    if (phases && vxbench::InstallPhaseTrace()) {
        for (int concurrency : {5, 20}) {
            RunDornet(base, concurrency);
            vxbench::PrintPhases(concurrency == 5 ? "c5" : "c20");
        }
        for (int alive : {5, 20}) ThreadStarts(alive);
    }
    return 0;
}
