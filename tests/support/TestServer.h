// Starts and stops the local HTTP test server (tests/http/testserver.py) from a test running under
// Wine, hands out its ports and reads its request log. Link the target vx_testserver; the endpoints
// are listed at the top of testserver.py. Typical use: one server per test suite, started in
// SetUpTestSuite, stopped in TearDownTestSuite (or by the process ending, whichever comes first).
#pragma once

#include "ServerLauncher.h"

#include <string>

namespace vxtest {

struct TestServerPorts {
    int http = 0;     // the endpoints
    int proxy = 0;    // forward proxy
    int silent = 0;   // accepts and never answers
    int refused = 0;  // refuses every connection
};

class TestServer {
public:
    TestServer() = default;
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    ~TestServer() { Stop(); }

    // False with a reason in error when the server did not come up within a few seconds. With
    // keepLog the server logs every request it answers, header lines included (see testserver.py).
    bool Start(std::string* error, bool keepLog = false);
    void Stop();
    // What the server logged so far; empty unless started with keepLog.
    std::string Log() const;

    const TestServerPorts& Ports() const { return ports_; }
    // "http://127.0.0.1:PORT" + path on the endpoint port.
    std::string Url(const std::string& path) const;
    std::string ProxyAddress() const;  // "127.0.0.1:PORT" of the forward proxy

private:
    TestServerPorts ports_;
    ServerProcess process_;
    std::wstring logFile_;  // DOS name
};

}  // namespace vxtest
