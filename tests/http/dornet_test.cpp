// Dornet through its public interface, as callers use it, against the local test server: one
// completion per started request, redirects, decoding, forms, proxies, time-outs, parallel loads.
#include "DebugCapture.h"
#include "Dornet.h"
#include "TestServer.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using Orvane::OvRequest;
using Orvane::OvResponse;
using Orvane::OvStringFetcher;
using vxtest::DebugCapture;

namespace {

const DWORD kWaitMs = 30000;  // a completion that has not come by then counts as missing

class Probe : public OvRequest::Client {
public:
    Probe() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Probe() {
        if (response_)
            response_->Release();
        CloseHandle(done_);
    }
    void OnResponse(const OvResponse& response) override {
        if (calls_++ == 0) {
            thread_ = GetCurrentThreadId();
            response_ = response.AddRef();  // kept past the call, read on the test thread
        }
        SetEvent(done_);
    }
    bool Wait(DWORD ms = kWaitMs) const { return WaitForSingleObject(done_, ms) == WAIT_OBJECT_0; }
    int Calls() const { return calls_; }
    DWORD Thread() const { return thread_; }
    const OvResponse& Response() const { return *response_; }

private:
    HANDLE done_;
    std::atomic<int> calls_{0};
    DWORD thread_ = 0;
    const OvResponse* response_ = nullptr;
};

class CountingSink : public Orvane::OvData {
public:
    char* Allocate(size_t n) override {
        ++calls;
        text.resize(n);
        return &text[0];
    }
    int calls = 0;
    std::string text;
};

std::string Body(const OvResponse& r) {
    std::string body;
    OvStringFetcher<char> sink(body);
    EXPECT_TRUE(r.GetBody(sink));
    return body;
}

std::string Header(const OvResponse& r, const char* name) {
    std::string value;
    OvStringFetcher<char> sink(value);
    return r.GetHeader(sink, name) ? value : "<none>";
}

std::string Url(const OvResponse& r) {
    std::string url;
    OvStringFetcher<char> sink(url);
    r.GetURL(sink);
    return url;
}

std::string Md5(const std::string& data) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::string hex;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
            BYTE digest[16];
            DWORD size = sizeof digest;
            if (CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
                char two[3];
                for (BYTE b : digest) {
                    std::snprintf(two, sizeof two, "%02x", b);
                    hex += two;
                }
            }
            CryptDestroyHash(hash);
        }
        CryptReleaseContext(provider, 0);
    }
    return hex;
}

std::string QueryEncode(const std::string& text) {
    std::string out;
    char buf[4];
    for (unsigned char c : text) {
        if (isalnum(c) || c == '/' || c == '.' || c == '-') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

// The /echo endpoint's answer: request line, header lines as received, body.
struct Echo {
    explicit Echo(const std::string& text) {
        size_t end = text.find("\n\n");
        body = end == std::string::npos ? "" : text.substr(end + 2);
        std::string head = text.substr(0, end);
        size_t begin = 0;
        while (begin <= head.size()) {
            size_t eol = head.find('\n', begin);
            if (eol == std::string::npos)
                eol = head.size();
            std::string line = head.substr(begin, eol - begin);
            if (begin == 0)
                requestLine = line;
            else if (line.find(": ") != std::string::npos)
                headers.emplace_back(line.substr(0, line.find(": ")), line.substr(line.find(": ") + 2));
            begin = eol + 1;
        }
    }
    int Count(const char* name) const {
        int n = 0;
        for (const auto& h : headers)
            n += lstrcmpiA(h.first.c_str(), name) == 0;
        return n;
    }
    std::string Value(const char* name) const {
        for (const auto& h : headers)
            if (lstrcmpiA(h.first.c_str(), name) == 0)
                return h.second;
        return "<none>";
    }
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

DWORD WINAPI WatchdogThread(LPVOID) {
    Sleep(280000);
    std::fprintf(stderr, "watchdog: the test run hangs; ending it\n");
    std::fflush(stderr);
    ExitProcess(3);
}

void Watchdog() {
    static bool started = false;
    if (started)
        return;
    started = true;
    CloseHandle(CreateThread(nullptr, 0, WatchdogThread, nullptr, 0, nullptr));
}

class DornetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Watchdog();
        server_ = new vxtest::TestServer;
        std::string error;
        if (!server_->Start(&error)) {
            std::fprintf(stderr, "test server: %s\n", error.c_str());
            delete server_;
            server_ = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(server_, nullptr) << "the local test server did not start"; }
    void TearDown() override {
        // A second completion would come right after the first; give it a moment to show.
        Sleep(30);
        for (auto& probe : probes_) {
            EXPECT_EQ(probe->Calls(), 1) << "OnResponse calls for one started request";
            if (probe->Calls() == 0)
                probe.release();  // a late call must find it alive
        }
    }

    static std::string U(const std::string& path) { return server_->Url(path); }

    Probe& NewProbe() {
        probes_.emplace_back(new Probe);
        return *probes_.back();
    }

    OvRequest* Create(const std::string& url, Probe& probe, void* userData = nullptr) {
        return OvRequest::CreateInstance(url.c_str(), probe, userData);
    }

    // Starts a request (after setup) and waits for its completion; null when none came.
    template <class Setup>
    const OvResponse* Fetch(const std::string& url, Setup setup) {
        Probe& probe = NewProbe();
        OvRequest* request = Create(url, probe);
        setup(*request);
        int started = request->Start();
        EXPECT_EQ(started, 0) << url;
        if (started != 0) {
            probes_.pop_back();
            return nullptr;
        }
        if (!probe.Wait()) {
            ADD_FAILURE() << "no completion for " << url;
            return nullptr;
        }
        EXPECT_NE(probe.Thread(), GetCurrentThreadId()) << "OnResponse must come on the worker thread";
        return &probe.Response();
    }
    const OvResponse* Fetch(const std::string& url) {
        return Fetch(url, [](OvRequest&) {});
    }

    static vxtest::TestServer* server_;
    std::vector<std::unique_ptr<Probe>> probes_;
};

vxtest::TestServer* DornetTest::server_ = nullptr;

TEST_F(DornetTest, PlainGet) {
    int marker = 0;
    Probe& probe = NewProbe();
    const std::string url = U("/plain");
    OvRequest* request = Create(url, probe, &marker);
    ASSERT_EQ(request->Start(), 0);
    ASSERT_TRUE(probe.Wait());
    const OvResponse& r = probe.Response();
    EXPECT_NE(probe.Thread(), GetCurrentThreadId());
    EXPECT_EQ(r.GetState(), 0);
    EXPECT_EQ(r.GetStatusCode(), 200);
    EXPECT_EQ(Body(r), "hello from the test server\n");
    EXPECT_EQ(r.GetUserData(), &marker);
    EXPECT_EQ(Url(r), url);
    std::string requestUrl;
    OvStringFetcher<char> sink(requestUrl);
    r.GetRequestURL(sink);
    EXPECT_EQ(requestUrl, url);
    EXPECT_EQ(Header(r, "content-TYPE"), "text/plain");
    CountingSink missing;
    EXPECT_FALSE(r.GetHeader(missing, "X-Not-There"));
    EXPECT_EQ(missing.calls, 0);
    EXPECT_EQ(r.GetCookieCount(), 0u);
}

TEST_F(DornetTest, EmptyBodyAllocatesOnce) {
    const OvResponse* r = Fetch(U("/empty"));
    ASSERT_TRUE(r);
    CountingSink sink;
    sink.text = "0123456789";
    EXPECT_TRUE(r->GetBody(sink));
    EXPECT_EQ(sink.calls, 1);
    EXPECT_EQ(sink.text, "");
}

// A 200 with no body ends the request at its first read, while WinINet may still be inside the
// send's completion: every road to such an answer, many at once and on kept-alive connections.
TEST_F(DornetTest, EmptyAnswersInEveryShape) {
    struct Case {
        const char* name;
        const char* path;
        std::function<void(OvRequest&)> setup;
    };
    const std::string proxy = server_->ProxyAddress();
    const Case cases[] = {
        {"Content-Length: 0", "/empty", [](OvRequest&) {}},
        {"octet stream of 0 bytes", "/bytes/0", [](OvRequest&) {}},
        {"one empty chunk", "/chunked/0", [](OvRequest&) {}},
        {"after a redirect", "/redirect/302?to=/empty", [](OvRequest&) {}},
        {"with a time-out", "/empty", [](OvRequest& q) { q.SetTimeout(30); }},
        {"through a proxy", "/empty", [&proxy](OvRequest& q) { q.SetProxy(proxy.c_str()); }},
        {"compression offered", "/empty", [](OvRequest& q) { q.SetHeader("Accept-Encoding", "gzip, deflate"); }},
        {"answer to a form", "/empty", [](OvRequest& q) { q.SetPostData("a=b", 3); }},
    };
    const wchar_t* file = L"empty-answer.bin";
    for (int round = 0; round < 20; ++round) {
        std::vector<std::pair<const Case*, Probe*>> started;
        for (const Case& c : cases) {
            Probe& probe = NewProbe();
            OvRequest* request = Create(U(c.path), probe);
            c.setup(*request);
            ASSERT_EQ(request->Start(), 0) << c.name;
            started.emplace_back(&c, &probe);
        }
        for (const auto& s : started) {
            SCOPED_TRACE(s.first->name);
            ASSERT_TRUE(s.second->Wait());
            const OvResponse& r = s.second->Response();
            EXPECT_EQ(r.GetState(), 0);
            EXPECT_EQ(r.GetStatusCode(), 200);
            EXPECT_EQ(Body(r), "");
            ASSERT_TRUE(r.SaveToFile(file));
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            ASSERT_TRUE(GetFileAttributesExW(file, GetFileExInfoStandard, &data));
            EXPECT_EQ(data.nFileSizeLow, 0u);
        }
    }
    DeleteFileW(file);
}

TEST_F(DornetTest, BodiesArriveWhole) {
    const char* paths[] = {"/bytes/5000000?seed=3", "/chunked/5000000?seed=4",
                           "/bytes/1?seed=5",       "/bytes/4096",
                           "/bytes/4097",           "/chunked/0"};
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        const OvResponse* r = Fetch(U(path));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->GetState(), 0);
        std::string body = Body(*r);
        EXPECT_EQ(Md5(body), Header(*r, "X-Body-MD5"));
    }
}

struct RedirectCase {
    const char* name;
    std::string path;
    bool post;
    bool form;
    bool disable;
    int status;
    const char* requestLine;  // of the echo that ends the chain; null when the 3xx itself arrives
    const char* body;         // what the echo received
};

TEST_F(DornetTest, Redirects) {
    const std::string here = "127.0.0.1:" + std::to_string(server_->Ports().http);
    const RedirectCase cases[] = {
        {"301 POST", "/redirect/301?to=/echo/301", true, false, false, 200, "POST /echo/301 HTTP/1.1", "data=1"},
        {"302 POST", "/redirect/302?to=/echo/302", true, false, false, 200, "POST /echo/302 HTTP/1.1", "data=1"},
        {"303 POST", "/redirect/303?to=/echo/303", true, false, false, 200, "GET /echo/303 HTTP/1.1", ""},
        {"303 form", "/redirect/303?to=/echo/303f", false, true, false, 200, "GET /echo/303f HTTP/1.1", ""},
        {"302 form", "/redirect/302?to=/echo/302f", false, true, false, 200, "POST /echo/302f HTTP/1.1", "f=v%20w"},
        {"301 GET", "/redirect/301?to=/echo/get", false, false, false, 200, "GET /echo/get HTTP/1.1", ""},
        {"307", "/redirect/307?to=/echo/307", true, false, false, 307, nullptr, nullptr},
        {"308", "/redirect/308?to=/echo/308", false, false, false, 308, nullptr, nullptr},
        {"disabled", "/redirect/302?to=/echo/no", false, false, true, 302, nullptr, nullptr},
        {"absolute", "/redirect/302?to=" + QueryEncode("http://" + here + "/echo/abs"), false, false, false, 200,
         "GET /echo/abs HTTP/1.1", ""},
        {"relative", "/redirect/302?to=" + QueryEncode("../echo/rel"), false, false, false, 200,
         "GET /echo/rel HTTP/1.1", ""},
        {"network path", "/redirect/302?to=" + QueryEncode("//" + here + "/echo/net"), false, false, false, 200,
         "GET /echo/net HTTP/1.1", ""},
    };
    for (const RedirectCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string url = U(c.path);
        const OvResponse* r = Fetch(url, [&c](OvRequest& q) {
            q.SetHeader("X-Custom", "kept");
            if (c.post)
                q.SetPostData("data=1", 6);
            if (c.form)
                q.SetFormField("f", "v w");
            if (c.disable)
                q.DisableRedirect();
        });
        ASSERT_TRUE(r);
        EXPECT_EQ(r->GetState(), 0);
        EXPECT_EQ(r->GetStatusCode(), c.status);
        if (!c.requestLine) {
            EXPECT_EQ(Body(*r), "redirect body");
            EXPECT_EQ(Url(*r), url);
            EXPECT_NE(Header(*r, "Location"), "<none>");
            continue;
        }
        Echo echo(Body(*r));
        EXPECT_EQ(echo.requestLine, c.requestLine);
        EXPECT_EQ(echo.body, c.body);
        EXPECT_EQ(echo.Value("Referer"), url);
        EXPECT_EQ(echo.Value("X-Custom"), "kept");
        if (c.form) {
            EXPECT_EQ(echo.Value("Content-Type"), "application/x-www-form-urlencoded");
        }
        const std::string line = c.requestLine;
        EXPECT_EQ(Url(*r), U(line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1)));
        EXPECT_EQ(Header(*r, "X-Hop"), "<none>") << "headers of the 3xx must not stay";
    }
}

TEST_F(DornetTest, RedirectChainsAreCapped) {
    const struct {
        const char* path;
        int status;
        const char* finalPath;
    } cases[] = {
        {"/chain/20", 200, "/chain/0"},
        {"/chain/21", 302, "/chain/1"},
        {"/loop", 302, "/loop"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const OvResponse* r = Fetch(U(c.path));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->GetState(), 0);
        EXPECT_EQ(r->GetStatusCode(), c.status);
        EXPECT_EQ(Url(*r), U(c.finalPath));
    }
}

TEST_F(DornetTest, RedirectsThatFailStillCompleteOnce) {
    // The clone cannot start (its address does not split): the 3xx arrives as it was.
    const std::string unsplittable = U("/redirect/302?to=" + QueryEncode("http://127.0.0.1:99999/x"));
    const OvResponse* r = Fetch(unsplittable);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetState(), 0);
    EXPECT_EQ(r->GetStatusCode(), 302);
    EXPECT_EQ(Body(*r), "redirect body");
    EXPECT_EQ(Url(*r), unsplittable);
    EXPECT_EQ(Header(*r, "X-Hop"), "redirect");

    // The clone starts and fails: its own outcome, with nothing left of the 3xx but the cookies.
    const std::string refused = "http://127.0.0.1:" + std::to_string(server_->Ports().refused) + "/x";
    r = Fetch(U("/redirect/302?cookie=a%3D1&to=" + QueryEncode(refused)));
    ASSERT_TRUE(r);
    EXPECT_NE(r->GetState(), 0);
    EXPECT_EQ(r->GetStatusCode(), -1);
    EXPECT_EQ(Header(*r, "X-Hop"), "<none>");
    CountingSink body;
    EXPECT_FALSE(r->GetBody(body));
    EXPECT_EQ(body.calls, 0);
    EXPECT_EQ(Url(*r), refused);
    ASSERT_EQ(r->GetCookieCount(), 1u);
}

TEST_F(DornetTest, CookiesAccumulateOverRedirects) {
    const OvResponse* r = Fetch(U("/redirect/302?cookie=a%3D1&to=" + QueryEncode("/headers?h=Set-Cookie:b=2")));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetStatusCode(), 200);
    ASSERT_EQ(r->GetCookieCount(), 2u);
    std::string first, second;
    OvStringFetcher<char> s1(first), s2(second);
    EXPECT_TRUE(r->GetCookie(0, s1));
    EXPECT_TRUE(r->GetCookie(1, s2));
    EXPECT_EQ(first, "a=1");
    EXPECT_EQ(second, "b=2");
}

TEST_F(DornetTest, ResponseHeadersAndCookies) {
    const OvResponse* r = Fetch(U("/headers?h=X-A:1&h=x-a:2&h=Set-Cookie:a%3D1&h=Set-Cookie:b%3D2&h=etag:%22v1%22"));
    ASSERT_TRUE(r);
    EXPECT_EQ(Header(*r, "x-a"), "2");
    EXPECT_EQ(Header(*r, "X-A"), "2");
    EXPECT_EQ(Header(*r, "ETAG"), "\"v1\"");
    EXPECT_EQ(Header(*r, "Set-Cookie"), "<none>");
    ASSERT_EQ(r->GetCookieCount(), 2u);
    CountingSink sink;
    EXPECT_TRUE(r->GetCookie(1, sink));
    EXPECT_EQ(sink.text, "b=2");
    EXPECT_FALSE(r->GetCookie(2, sink));
    EXPECT_EQ(sink.calls, 1);
}

TEST_F(DornetTest, StatusLinesAndCodes) {
    const struct {
        const char* path;
        int status;
        const char* body;
    } cases[] = {
        {"/noreason", 200, "ok"},
        {"/status/404", 404, "status 404"},
        {"/status/500", 500, "status 500"},
        {"/status/201", 201, "status 201"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const OvResponse* r = Fetch(U(c.path));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->GetState(), 0);
        EXPECT_EQ(r->GetStatusCode(), c.status);
        EXPECT_EQ(Body(*r), c.body);
    }
}

TEST_F(DornetTest, GzipIsDecodedOtherCodingsAreNot) {
    const struct {
        const char* path;
        const char* md5Header;  // which digest the delivered body must have
    } cases[] = {
        {"/encoded/20000?coding=gzip", "X-Body-MD5"},
        {"/encoded/20000?coding=GZIP", "X-Body-MD5"},
        {"/encoded/3000000?coding=gzip&chunked=1", "X-Body-MD5"},
        {"/encoded/20000?coding=deflate", "X-Raw-MD5"},
        {"/encoded/20000?coding=gzip&corrupt=1", "X-Raw-MD5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const OvResponse* r = Fetch(U(c.path));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->GetState(), 0);
        EXPECT_EQ(Md5(Body(*r)), Header(*r, c.md5Header));
    }
}

TEST_F(DornetTest, FormAndBody) {
    const OvResponse* r = Fetch(U("/echo/form"), [](OvRequest& q) {
        q.SetFormField("q", "first");
        q.SetFormField("q", "one piece");
        q.SetFormField("t", "na");
    });
    ASSERT_TRUE(r);
    Echo form(Body(*r));
    EXPECT_EQ(form.requestLine, "POST /echo/form HTTP/1.1");
    EXPECT_EQ(form.Value("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_TRUE(form.body == "q=one%20piece&t=na" || form.body == "t=na&q=one%20piece") << form.body;

    // A body of its own wins over the fields.
    r = Fetch(U("/echo/body"), [](OvRequest& q) {
        q.SetFormField("q", "unused");
        q.SetPostData("raw\0bytes", 9);
    });
    ASSERT_TRUE(r);
    Echo raw(Body(*r));
    EXPECT_EQ(raw.requestLine, "POST /echo/body HTTP/1.1");
    EXPECT_EQ(raw.body, std::string("raw\0bytes", 9));
    EXPECT_EQ(raw.Count("Content-Type"), 0);
}

TEST_F(DornetTest, RequestHeaders) {
    const OvResponse* r = Fetch(U("/echo/default"));
    ASSERT_TRUE(r);
    Echo plain(Body(*r));
    EXPECT_EQ(plain.requestLine, "GET /echo/default HTTP/1.1");
    EXPECT_EQ(plain.Value("User-Agent"), "Mozilla/5.0 (Windows NT 6.3; Win64, x64; Trident/7.0; rv:11.0) like Gecko");
    EXPECT_EQ(plain.Value("Accept"), "*/*");
    EXPECT_EQ(plain.Count("Referer"), 0);
    EXPECT_EQ(plain.Count("Cookie"), 0);

    r = Fetch(U("/echo/set"), [](OvRequest& q) {
        q.SetHeader("accept-encoding", "gzip");
        q.SetHeader("Accept-Encoding", "deflate");
        q.SetHeader("referer", "http://ref.example/page");
        q.SetHeader("ACCEPT", "text/html");
        q.SetHeader("user-agent", "Probe/1");
        q.SetHeader("cookie", "a=1; b=2");
        q.SetHeader("X-Evil", "a\r\nX-Injected: 1");
        q.SetHeader("X-Evil2\r\nX-Injected2", "v");
    });
    ASSERT_TRUE(r);
    Echo set(Body(*r));
    EXPECT_EQ(set.Count("Accept-Encoding"), 1);
    EXPECT_EQ(set.Value("Accept-Encoding"), "deflate");
    EXPECT_EQ(set.Count("Referer"), 1);
    EXPECT_EQ(set.Value("Referer"), "http://ref.example/page");
    EXPECT_EQ(set.Value("Accept"), "text/html");
    EXPECT_EQ(set.Value("User-Agent"), "Probe/1");
    EXPECT_EQ(set.Value("Cookie"), "a=1; b=2");
    EXPECT_EQ(set.Value("X-Evil"), "aX-Injected: 1");
    EXPECT_EQ(set.Count("X-Injected"), 0);
    EXPECT_EQ(set.Count("X-Injected2"), 0);
}

TEST_F(DornetTest, FailedConnectionsCompleteOnce) {
    const struct {
        const char* name;
        std::string url;
        int state;  // -1: any non-zero state
    } cases[] = {
        {"unresolvable", "http://nonexistent.invalid/x", 2},
        {"refused", "http://127.0.0.1:" + std::to_string(server_->Ports().refused) + "/x", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const OvResponse* r = Fetch(c.url);
        ASSERT_TRUE(r);
        if (c.state >= 0) {
            EXPECT_EQ(r->GetState(), c.state);
        }
        EXPECT_NE(r->GetState(), 0);
        EXPECT_EQ(r->GetStatusCode(), -1);
        CountingSink body;
        EXPECT_FALSE(r->GetBody(body));
        EXPECT_EQ(body.calls, 0);
    }
}

TEST_F(DornetTest, FailedConnectionsLogTheCallAndItsError) {
    const struct {
        const char* name;
        std::string url;
        DWORD error;
    } cases[] = {
        {"refused", "http://127.0.0.1:" + std::to_string(server_->Ports().refused) + "/x",
         ERROR_INTERNET_CANNOT_CONNECT},
        {"unresolvable", "http://nonexistent.invalid/x", ERROR_INTERNET_NAME_NOT_RESOLVED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DebugCapture capture;
        ASSERT_TRUE(Fetch(c.url));
        // The worker logs before it calls the client: the line is there once the completion came.
        std::vector<std::string> lines = capture.Take();
        const std::string expected = "[Vellix] Dornet: HttpSendRequestA failed: " + std::to_string(c.error) + "\n";
        std::string all;
        for (const std::string& line : lines)
            all += line;
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << all;
    }
}

TEST_F(DornetTest, FailedStartsNeverComplete) {
    const std::pair<const char*, int> cases[] = {{"no colon", 1}, {"http://127.0.0.1:70000/", 1}};
    std::vector<std::unique_ptr<Probe>> probes;
    for (const auto& c : cases) {
        probes.emplace_back(new Probe);
        EXPECT_EQ(Create(c.first, *probes.back())->Start(), c.second) << c.first;
    }
    probes.emplace_back(new Probe);
    delete Create(U("/plain"), *probes.back());  // never started
    Sleep(300);
    for (const auto& probe : probes)
        EXPECT_EQ(probe->Calls(), 0);
}

TEST_F(DornetTest, TimeOuts) {
    const struct {
        const char* name;
        std::string url;
        int seconds;  // -1: no SetTimeout
        bool complete;
    } cases[] = {
        {"hang", U("/hang"), 1, false},
        {"silent server", "http://127.0.0.1:" + std::to_string(server_->Ports().silent) + "/", 1, false},
        {"stalled body", U("/stall/100000"), 1, false},
        {"0 waits without limit", U("/slow?ms=1500"), 0, true},
        {"unset waits without limit", U("/slow?ms=1500"), -1, true},
        {"in time", U("/slow?ms=200"), 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD begin = GetTickCount();
        const OvResponse* r = Fetch(c.url, [&c](OvRequest& q) {
            if (c.seconds >= 0)
                q.SetTimeout(c.seconds);
        });
        DWORD elapsed = GetTickCount() - begin;
        ASSERT_TRUE(r);
        if (c.complete) {
            EXPECT_EQ(r->GetState(), 0);
            EXPECT_EQ(r->GetStatusCode(), 200);
        } else {
            EXPECT_NE(r->GetState(), 0);
            CountingSink body;
            EXPECT_FALSE(r->GetBody(body));
            EXPECT_GE(elapsed, 900u);
            EXPECT_LT(elapsed, 15000u);
        }
    }
}

TEST_F(DornetTest, TruncatedBodyIsNoSuccess) {
    // /huge announces more than a 32-bit process could hold: the announced length must not be trusted.
    for (const char* path : {"/short/100000", "/huge"}) {
        SCOPED_TRACE(path);
        const OvResponse* r = Fetch(U(path));
        ASSERT_TRUE(r);
        EXPECT_NE(r->GetState(), 0);
        CountingSink body;
        EXPECT_FALSE(r->GetBody(body));
    }
}

TEST_F(DornetTest, TwentyParallelDownloads) {
    const int count = 20;
    std::vector<Probe*> started;
    for (int i = 0; i < count; ++i) {
        Probe& probe = NewProbe();
        OvRequest* request = Create(U("/bytes/2097152?seed=" + std::to_string(100 + i)), probe);
        ASSERT_EQ(request->Start(), 0);
        started.push_back(&probe);
    }
    for (Probe* probe : started) {
        ASSERT_TRUE(probe->Wait());
        const OvResponse& r = probe->Response();
        EXPECT_NE(probe->Thread(), GetCurrentThreadId());
        EXPECT_EQ(r.GetState(), 0);
        std::string body = Body(r);
        EXPECT_EQ(body.size(), 2097152u);
        EXPECT_EQ(Md5(body), Header(r, "X-Body-MD5"));
    }
}

TEST_F(DornetTest, FiveRequestsToOneServerRunTogether) {
    // The program's five download slots fetch from one host: none may wait for another's end.
    const int count = 5;
    std::vector<Probe*> started;
    for (int i = 0; i < count; ++i) {
        Probe& probe = NewProbe();
        OvRequest* request = Create(U("/gather/5?group=five&ms=4000"), probe);
        ASSERT_EQ(request->Start(), 0);
        started.push_back(&probe);
    }
    for (Probe* probe : started) {
        ASSERT_TRUE(probe->Wait());
        EXPECT_EQ(Body(probe->Response()), "together");
    }
}

TEST_F(DornetTest, SaveToFile) {
    const OvResponse* r = Fetch(U("/bytes/300000?seed=9"));
    ASSERT_TRUE(r);
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"dornet_save_" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    ASSERT_TRUE(r->SaveToFile(path.c_str()));
    std::string saved;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        saved.append(buffer, got);
    CloseHandle(file);
    DeleteFileW(path.c_str());
    EXPECT_EQ(Md5(saved), Header(*r, "X-Body-MD5"));

    std::wstring nowhere = std::wstring(dir) + L"no_such_folder_dornet\\file.bin";
    EXPECT_FALSE(r->SaveToFile(nowhere.c_str()));
}

TEST_F(DornetTest, ProxyCarriesRequestsAndRedirects) {
    // Only the proxy knows the .test host.
    const std::string proxy = server_->ProxyAddress();
    const std::string origin = "http://dornet.test:" + std::to_string(server_->Ports().http);
    const char* paths[] = {"/echo/proxy", "/redirect/302?to=/echo/proxied-hop"};
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        const OvResponse* r = Fetch(origin + path, [&proxy](OvRequest& q) { q.SetProxy(proxy.c_str()); });
        ASSERT_TRUE(r);
        EXPECT_EQ(r->GetStatusCode(), 200);
        EXPECT_EQ(Header(*r, "X-Via-Test-Proxy"), "1");
        EXPECT_EQ(Echo(Body(*r)).Value("Via"), "1.1 vellix-test-proxy");
    }
}

// The system proxy: with no proxy in the Internet settings, WinINet takes http_proxy from the
// environment of this process, which no other test process sees.
class SystemProxy {
public:
    explicit SystemProxy(const std::string& server) {
        std::string value = "http://" + server;
        SetEnvironmentVariableA("http_proxy", value.c_str());
        _putenv(("http_proxy=" + value).c_str());
    }
    ~SystemProxy() {
        SetEnvironmentVariableA("http_proxy", nullptr);
        _putenv("http_proxy=");
    }
};

TEST_F(DornetTest, SystemProxyIsKeptAcrossRedirects) {
    SystemProxy system(server_->ProxyAddress());
    const std::string origin = "http://system.test:" + std::to_string(server_->Ports().http);
    const OvResponse* r = Fetch(origin + "/redirect/302?to=/echo/system", [](OvRequest& q) { q.UseSystemProxy(); });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetStatusCode(), 200);
    EXPECT_EQ(Header(*r, "X-Via-Test-Proxy"), "1");
    EXPECT_EQ(Echo(Body(*r)).Value("Via"), "1.1 vellix-test-proxy");
}

}  // namespace
