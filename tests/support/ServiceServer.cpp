// The reference service for tests: started through ServerLauncher with "--lifeline"; control
// commands go over a plain HTTP/1.0 exchange so that the peer under test (Dornet) is not also the
// test's own instrument.
#include "ServiceServer.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>

#if !defined(VX_SERVICE_SCRIPT) || !defined(VX_TEST_SERVICE_PORT)
#error "VX_SERVICE_SCRIPT (a Linux path of service/server.py) and VX_TEST_SERVICE_PORT are needed"
#endif

namespace vxtest {

namespace {

std::string Escape(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/' || c == '*') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

bool ServiceServer::Start(std::string* error)
{
    const std::vector<std::string> args = {"--port", std::to_string(VX_TEST_SERVICE_PORT), "--site-port", "0",
                                           "--test-control", "--lifeline", "--quiet"};
    return process_.Start(VX_SERVICE_SCRIPT, args, "lifeline", error);
}

std::string ServiceServer::ServiceUrl(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(ServicePort()) + path;
}

std::string ServiceServer::SiteUrl(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(SitePort()) + path;
}

std::string ServiceServer::Control(const std::string& command,
                                   const std::vector<std::pair<std::string, std::string>>& params) const
{
    std::string target = "/__control/" + command;
    for (size_t i = 0; i < params.size(); ++i)
        target += (i ? "&" : "?") + Escape(params[i].first) + "=" + Escape(params[i].second);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(ServicePort()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        return "ERROR: cannot connect to the service";
    }
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    send(s, request.data(), static_cast<int>(request.size()), 0);
    std::string answer;
    char buffer[8192];
    int got;
    while ((got = recv(s, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, got);
    closesocket(s);
    size_t end = answer.find("\r\n\r\n");
    if (answer.compare(0, 12, "HTTP/1.0 200") != 0 && answer.compare(0, 12, "HTTP/1.1 200") != 0)
        return "ERROR: " + answer.substr(0, end);
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

}  // namespace vxtest
