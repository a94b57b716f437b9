// Debugger output of the log stream on Windows.
#include "Log.h"

#include <windows.h>

void Brimholt::DebugOutput(const char* text)
{
    OutputDebugStringA(text);
}
