// The local HTTP test server: tests/http/testserver.py, started through ServerLauncher; its
// lifeline is the control port.
#include "TestServer.h"

#include "LinuxTool.h"

#include <windows.h>

#include <cstdio>

#ifndef VX_TESTSERVER_SCRIPT
#error "VX_TESTSERVER_SCRIPT must name testserver.py (a Linux path)"
#endif

namespace vxtest {

bool TestServer::Start(std::string* error, bool keepLog)
{
    if (process_.Running()) return true;
    std::vector<std::string> args;
    if (keepLog) {
        const std::string name = ScratchPath("testserver", ".log");
        logFile_ = DosName(name);
        args = {"--log", name};
    }
    if (!process_.Start(VX_TESTSERVER_SCRIPT, args, "control", error)) return false;
    ports_.http = process_.Port("http");
    ports_.proxy = process_.Port("proxy");
    ports_.silent = process_.Port("silent");
    ports_.refused = process_.Port("refused");
    if (!ports_.http) {
        Stop();
        if (error) *error = "the test server's port file names no http port";
        return false;
    }
    return true;
}

void TestServer::Stop()
{
    process_.Stop();
    if (!logFile_.empty()) DeleteFileW(logFile_.c_str());
    logFile_.clear();
}

std::string TestServer::Log() const
{
    std::string text;
    if (!logFile_.empty()) ReadWhole(logFile_, text);
    return text;
}

std::string TestServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(ports_.http) + path;
}

std::string TestServer::ProxyAddress() const { return "127.0.0.1:" + std::to_string(ports_.proxy); }

}  // namespace vxtest
