// The crash-dump library's interface. Callers load "Faultkeep.dll" themselves and take these
// by name, so no program has a hard import of it.
#pragma once

#include <windows.h>

// Exception codes of the crashes that never reach an exception filter.
const DWORD kFaultkeepAbortCode = 0x40000015;      // STATUS_FATAL_APP_EXIT, as abort() reports it
const DWORD kFaultkeepTerminateCode = 0xE0000F01;  // std::terminate

// "Local\Faultkeep-<pid>": set by the dump writer once the dump of process <pid> is done.
const wchar_t kFaultkeepEventPrefix[] = L"Local\\Faultkeep-";

typedef void(__cdecl* BhSetupCrashDumperFn)(const wchar_t* program, const wchar_t* arguments, int flag);
typedef void(__cdecl* BhWriteCrashDumpFn)(const wchar_t* dumpPath, DWORD processId, DWORD threadId,
                                          ULONG_PTR exceptionPointers, BOOL full);

#ifdef FAULTKEEP_BUILD
extern "C" {
__declspec(dllexport) void __cdecl BhSetupCrashDumper(const wchar_t* program, const wchar_t* arguments, int flag);
__declspec(dllexport) void __cdecl BhWriteCrashDump(const wchar_t* dumpPath, DWORD processId, DWORD threadId,
                                                    ULONG_PTR exceptionPointers, BOOL full);
}
#endif
