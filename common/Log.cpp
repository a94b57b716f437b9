// The log stream and its buffer; the platform files supply DebugOutput.
#include "Log.h"

namespace Brimholt {

LogStream Log;

void DebugBuffer::SetPrefix(const std::string& prefix)
{
    LockMessage();
    prefix_ = prefix;
    UnlockMessage();
}

void DebugBuffer::LockMessage()
{
    std::thread::id me = std::this_thread::get_id();
    if (owner_.load() == me)
        return;
    message_.lock();
    owner_.store(me);
}

void DebugBuffer::UnlockMessage()
{
    owner_.store(std::thread::id());
    message_.unlock();
}

int DebugBuffer::sync()
{
    // A flush without a preceding insertion (Log.flush()) still takes the lock for itself.
    LockMessage();
    std::string text = str();
    if (!text.empty()) {
        if (!prefix_.empty())
            text.insert(0, prefix_);
        DebugOutput(text.c_str());
        str(std::string());
    }
    UnlockMessage();
    return 0;
}

}  // namespace Brimholt

void SetLogTag(const std::string& name)
{
    Brimholt::Log.Buffer().SetPrefix(name.empty() ? std::string() : "[" + name + "] ");
}
