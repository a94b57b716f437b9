// The local HTTP test server: tests/http/testserver.py, started through ServerLauncher; its
// lifeline is the control port.
#include "TestServer.h"

#ifndef VX_TESTSERVER_SCRIPT
#error "VX_TESTSERVER_SCRIPT must name testserver.py (a Linux path)"
#endif

namespace vxtest {

bool TestServer::Start(std::string* error)
{
    if (process_.Running()) return true;
    if (!process_.Start(VX_TESTSERVER_SCRIPT, {}, "control", error)) return false;
    ports_.http = process_.Port("http");
    ports_.proxy = process_.Port("proxy");
    ports_.silent = process_.Port("silent");
    ports_.refused = process_.Port("refused");
    if (!ports_.http) {
        process_.Stop();
        if (error) *error = "the test server's port file names no http port";
        return false;
    }
    return true;
}

void TestServer::Stop() { process_.Stop(); }

std::string TestServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(ports_.http) + path;
}

std::string TestServer::ProxyAddress() const { return "127.0.0.1:" + std::to_string(ports_.proxy); }

}  // namespace vxtest
