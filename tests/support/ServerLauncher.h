// Starts a Python server of the tests (a Linux program) from a test running under Wine and holds
// its lifeline: the server writes its ports to a file and quits when the lifeline connection closes.
#pragma once

#include <string>
#include <vector>

namespace vxtest {

class ServerProcess {
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { Stop(); }

    // Runs python3 script args... --port-file F, waits for F, then connects to the port that F
    // names under lifelineKey. False with a reason when any step fails.
    bool Start(const std::string& script, const std::vector<std::string>& args, const char* lifelineKey,
               std::string* error);
    void Stop();
    bool Running() const { return lifeline_ != ~0ull; }

    // A number from the port file, 0 when absent.
    int Port(const char* key) const;

private:
    std::string ports_;  // the port file's JSON object
    unsigned long long lifeline_ = ~0ull;  // SOCKET
};

// The whole file; false when it cannot be read or is empty.
bool ReadWhole(const std::wstring& path, std::string& out);

}  // namespace vxtest
