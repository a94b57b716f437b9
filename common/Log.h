// The module's diagnostic stream: each flushed message goes to the debugger output as one string.
#pragma once

#include <atomic>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

namespace Brimholt {

class DebugBuffer : public std::stringbuf {
public:
    void SetPrefix(const std::string& prefix);

    // One writer at a time, from its first insertion to its flush; a thread that holds the
    // message lock may take it again.
    void LockMessage();

protected:
    int sync() override;

private:
    void UnlockMessage();

    std::string prefix_;
    std::mutex message_;
    std::atomic<std::thread::id> owner_{};
};

// Every insertion goes through here first so that a message's lock is held before its first
// character lands in the shared buffer.
class LogStream : public std::ostream {
public:
    LogStream() : std::ostream(&buffer_) {}
    DebugBuffer& Buffer() { return buffer_; }

    template <class T>
    LogStream& operator<<(const T& value)
    {
        buffer_.LockMessage();
        static_cast<std::ostream&>(*this) << value;
        return *this;
    }
    LogStream& operator<<(std::ostream& (*manip)(std::ostream&))
    {
        buffer_.LockMessage();
        manip(*this);
        return *this;
    }
    LogStream& operator<<(std::ios_base& (*manip)(std::ios_base&))
    {
        buffer_.LockMessage();
        manip(*this);
        return *this;
    }

private:
    DebugBuffer buffer_;
};

extern LogStream Log;

// Writes one string to the debugger output; the platform's own.
void DebugOutput(const char* text);

}  // namespace Brimholt

// A non-empty name makes every message start with "[" + name + "] "; an empty name clears it.
void SetLogTag(const std::string& name);
