// Throughput of Dornet against the local test server: COUNT requests of SIZE bytes with a fixed
// number in flight. Prints one line per concurrency: requests/s and MB/s.
// Usage: dornet_bench [http-port [--phases]] ; without a port it starts the test server itself. With
// --phases the runs are repeated with every request's phases timed (bench/trace).
#include "Dornet.h"
#include "PhaseTrace.h"
#include "TestServer.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const int kCount = 1000;
const size_t kSize = 100 * 1024;

class Counter : public Orvane::OvRequest::Client {
public:
    explicit Counter(HANDLE slots) : slots_(slots) {}
    void OnResponse(const Orvane::OvResponse& response) override
    {
        vxbench::MarkClient(false);
        std::string body;
        Orvane::OvStringFetcher<char> sink(body);
        if (response.GetState() == 0 && response.GetBody(sink) && body.size() == kSize)
            bytes += body.size();
        else
            ++failures;
        ++done;
        vxbench::MarkClient(true);
        ReleaseSemaphore(slots_, 1, nullptr);
    }
    std::atomic<long long> bytes{0};
    std::atomic<int> failures{0};
    std::atomic<int> done{0};

private:
    HANDLE slots_;
};

void Run(const std::string& base, int concurrency)
{
    HANDLE slots = CreateSemaphoreW(nullptr, concurrency, concurrency, nullptr);
    Counter counter(slots);
    LARGE_INTEGER freq, begin, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&begin);
    int startFailures = 0;
    for (int i = 0; i < kCount; ++i) {
        WaitForSingleObject(slots, INFINITE);
        std::string url = base + "/bytes/" + std::to_string(kSize) + "?seed=" + std::to_string(i % 8);
        vxbench::MarkStart();
        if (Orvane::OvRequest::CreateInstance(url.c_str(), counter, nullptr)->Start() != 0) {
            ++startFailures;
            ReleaseSemaphore(slots, 1, nullptr);
        }
    }
    for (int i = 0; i < concurrency; ++i) WaitForSingleObject(slots, INFINITE);
    QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - begin.QuadPart) / double(freq.QuadPart);
    std::printf("dornet concurrency=%d requests=%d seconds=%.3f req/s=%.1f MB/s=%.1f failures=%d\n", concurrency,
                kCount, seconds, kCount / seconds, counter.bytes / seconds / 1e6, counter.failures + startFailures);
    std::fflush(stdout);
    CloseHandle(slots);
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
    for (int concurrency : {5, 20}) Run(base, concurrency);
    // Timed apart: the trace takes a lock at every step of every request.
    if (argc > 2 && std::string(argv[2]) == "--phases" && vxbench::InstallPhaseTrace()) {
        for (int concurrency : {5, 20}) {
            Run(base, concurrency);
            vxbench::PrintPhases(concurrency == 5 ? "c5" : "c20");
        }
        for (int alive : {5, 20}) ThreadStarts(alive);
    }
    return 0;
}
