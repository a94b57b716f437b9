// The library's entry point: its log lines carry the product's name, like the script host's.
#include <windows.h>

#include "common/Log.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) SetLogTag("Vellix");
    return TRUE;
}
