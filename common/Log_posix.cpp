// Debugger output of the log stream on the host build: standard error stands in for the debugger.
#include "Log.h"

#include <cstdio>

void Brimholt::DebugOutput(const char* text)
{
    std::fputs(text, stderr);
    std::fflush(stderr);
}
