// OutputDebugStringA raises DBG_PRINTEXCEPTION_C before it looks for a debugger; a vectored handler
// sees it first, even when no debugger is attached (as under Wine).
#include "DebugCapture.h"

#include <windows.h>

#include <mutex>

namespace vxtest {

namespace {

const DWORD kDbgPrintException = 0x40010006;  // DBG_PRINTEXCEPTION_C

std::mutex& Mutex()
{
    static std::mutex m;
    return m;
}

// Written from whichever thread logs; the handler has no other way to reach the capture.
std::vector<std::string>& Strings()
{
    static std::vector<std::string> s;
    return s;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == kDbgPrintException && r->NumberParameters >= 2) {
        std::lock_guard<std::mutex> lock(Mutex());
        Strings().emplace_back(reinterpret_cast<const char*>(r->ExceptionInformation[1]));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

DebugCapture::DebugCapture()
{
    {
        std::lock_guard<std::mutex> lock(Mutex());
        Strings().clear();
    }
    handler_ = AddVectoredExceptionHandler(1, &OnException);
}

DebugCapture::~DebugCapture()
{
    RemoveVectoredExceptionHandler(handler_);
}

std::vector<std::string> DebugCapture::Take()
{
    std::lock_guard<std::mutex> lock(Mutex());
    std::vector<std::string> out;
    out.swap(Strings());
    return out;
}

}  // namespace vxtest
