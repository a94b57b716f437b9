// Catches the debugger strings of the test process (OutputDebugStringA) so tests can read what the
// log stream wrote. Link the target vx_debugcapture.
#pragma once

#include <string>
#include <vector>

namespace vxtest {

// Collects from construction until destruction; one capture at a time.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // The strings caught so far, in order; the capture starts empty again.
    std::vector<std::string> Take();

private:
    void* handler_;
};

}  // namespace vxtest
