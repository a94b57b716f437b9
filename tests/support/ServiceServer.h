// Starts the reference service and demo comic site (service/server.py) for a test under Wine, on
// the port compiled into the tests' copy of the service root, with the test-only control endpoints.
// Link the target vx_testservice, which also brings that copy of the root.
#pragma once

#include "ServerLauncher.h"

#include <string>
#include <utility>
#include <vector>

namespace vxtest {

class ServiceServer {
public:
    // False with a reason in error when the servers did not come up (their port may be taken).
    bool Start(std::string* error);
    void Stop() { process_.Stop(); }

    int ServicePort() const { return process_.Port("service"); }
    int SitePort() const { return process_.Port("site"); }
    std::string ServiceUrl(const std::string& path) const;  // "http://127.0.0.1:PORT" + path
    std::string SiteUrl(const std::string& path) const;

    // A control command ("log", "fail", "stats", "reset", ...) with its parameters; the answer's
    // body (JSON), or "ERROR: " and the reason.
    std::string Control(const std::string& command,
                        const std::vector<std::pair<std::string, std::string>>& params = {}) const;

private:
    ServerProcess process_;
};

}  // namespace vxtest
