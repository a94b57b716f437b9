// Catches the process's fatal faults and has a fresh copy of the program write the dump: the
// crashed process only waits, so nothing that may be broken in it is needed for the report.
#include "Faultkeep.h"

#include <dbghelp.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

// Bounds the wait for the dump writer, so a crashed process never lingers.
const DWORD kReportWaitMs = 60000;
const size_t kCommandChars = 32768;
// The report thread's own stack: a stack overflow leaves the crashing thread none to spare.
const SIZE_T kReportStack = 256 * 1024;

// Everything a report needs is made at set-up: a crash may come from a broken heap or an
// exhausted stack.
struct Reporter {
  std::wstring commandTemplate;  // program and arguments, "%p" already replaced
  wchar_t command[kCommandChars];
  HANDLE request = nullptr;   // set by the crashing thread
  HANDLE finished = nullptr;  // set by the report thread
  HANDLE dumped = nullptr;    // named; set by the dump writer
  DWORD threadId = 0;
  ULONG_PTR pointers = 0;
  EXCEPTION_RECORD record;
  CONTEXT context;
  EXCEPTION_POINTERS synthetic;
};

Reporter* g_reporter = nullptr;
volatile LONG g_claimant = 0;  // the first crashing thread's id

// Appends without the heap; false when the buffer is full.
bool Put(wchar_t*& out, wchar_t* end, wchar_t c) {
  if (out + 1 >= end)
    return false;
  *out++ = c;
  return true;
}

bool PutNumber(wchar_t*& out, wchar_t* end, ULONG_PTR value, unsigned base) {
  wchar_t digits[32];
  int n = 0;
  do {
    digits[n++] = L"0123456789abcdef"[value % base];
    value /= base;
  } while (value);
  while (n > 0) {
    if (!Put(out, end, digits[--n]))
      return false;
  }
  return true;
}

bool FormatCommand(Reporter& r) {
  wchar_t* out = r.command;
  wchar_t* end = r.command + kCommandChars;
  const std::wstring& t = r.commandTemplate;
  for (size_t i = 0; i < t.size(); ++i) {
    bool ok;
    if (t[i] == L'%' && i + 1 < t.size() && t[i + 1] == L't')
      ok = PutNumber(out, end, r.threadId, 10), ++i;
    else if (t[i] == L'%' && i + 1 < t.size() && t[i + 1] == L'e')
      ok = PutNumber(out, end, r.pointers, 16), ++i;
    else
      ok = Put(out, end, t[i]);
    if (!ok)
      return false;
  }
  *out = 0;
  return true;
}

DWORD WINAPI ReportThread(void*) {
  Reporter& r = *g_reporter;
  WaitForSingleObject(r.request, INFINITE);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (FormatCommand(r) && CreateProcessW(nullptr, r.command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    // A writer that dies without setting the event must not hold the crashed process either.
    HANDLE waits[2] = {r.dumped, pi.hProcess};
    WaitForMultipleObjects(2, waits, FALSE, kReportWaitMs);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  SetEvent(r.finished);
  return 0;
}

[[noreturn]] void End(DWORD code) {
  TerminateProcess(GetCurrentProcess(), code);
  for (;;)
    Sleep(INFINITE);
}

// The first crashing thread wins. A later one (the report thread included) waits for the first
// to end the process; a fault of the first one inside its own handling ends the process at once.
void Claim(DWORD code) {
  LONG self = static_cast<LONG>(GetCurrentThreadId());
  LONG first = InterlockedCompareExchange(&g_claimant, self, 0);
  if (first == 0)
    return;
  if (first != self)
    WaitForSingleObject(g_reporter->finished, kReportWaitMs + 10000);
  End(code);
}

// Runs on the crashing thread, which may have almost no stack left: it only signals and waits.
[[noreturn]] void HandOver(ULONG_PTR pointers, DWORD code) {
  Reporter& r = *g_reporter;
  r.threadId = GetCurrentThreadId();
  r.pointers = pointers;
  SetEvent(r.request);
  WaitForSingleObject(r.finished, kReportWaitMs + 5000);
  End(code);
}

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* pointers) {
  DWORD code = pointers->ExceptionRecord->ExceptionCode;
  Claim(code);
  HandOver(reinterpret_cast<ULONG_PTR>(pointers), code);
}

// abort() and std::terminate raise no exception, so the record is made here.
[[noreturn]] void ReportWithoutException(DWORD code) {
  Claim(code);
  Reporter& r = *g_reporter;
  RtlCaptureContext(&r.context);
  ZeroMemory(&r.record, sizeof r.record);
  r.record.ExceptionCode = code;
  r.record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  r.record.ExceptionAddress = __builtin_return_address(0);
  r.synthetic.ExceptionRecord = &r.record;
  r.synthetic.ContextRecord = &r.context;
  HandOver(reinterpret_cast<ULONG_PTR>(&r.synthetic), code);
}

void OnAbort(int) { ReportWithoutException(kFaultkeepAbortCode); }

void OnTerminate() { ReportWithoutException(kFaultkeepTerminateCode); }

// The crashed process's exception record and context, copied into this one.
struct CopiedException {
  EXCEPTION_RECORD record;
  CONTEXT context;
  EXCEPTION_POINTERS pointers;
};

bool CopyException(HANDLE process, ULONG_PTR address, CopiedException& copy) {
  EXCEPTION_POINTERS remote = {};
  if (!ReadProcessMemory(process, reinterpret_cast<void*>(address), &remote, sizeof remote, nullptr) ||
      !ReadProcessMemory(process, remote.ExceptionRecord, &copy.record, sizeof copy.record, nullptr) ||
      !ReadProcessMemory(process, remote.ContextRecord, &copy.context, sizeof copy.context, nullptr))
    return false;
  copy.record.ExceptionRecord = nullptr;  // a chained record would point into the other process
  copy.pointers.ExceptionRecord = &copy.record;
  copy.pointers.ContextRecord = &copy.context;
  return true;
}

bool WriteDump(const wchar_t* path, DWORD processId, DWORD threadId, ULONG_PTR pointers, BOOL full) {
  std::wstring target = path;
  std::wstring temporary = target + L".tmp";
  DeleteFileW(target.c_str());
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
  if (!process)
    return false;
  // The exception is copied before anything else: the crashed process waits for the dump only so
  // long, and the rest of the dump can take longer than that on a loaded machine.
  CopiedException exception;
  bool withException = pointers && CopyException(process, pointers, exception);
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  BOOL written = FALSE;
  if (file != INVALID_HANDLE_VALUE) {
    MINIDUMP_EXCEPTION_INFORMATION info = {};
    info.ThreadId = threadId;
    info.ExceptionPointers = &exception.pointers;
    info.ClientPointers = FALSE;
    // Symbols are not needed for the dump; reading them for every module takes seconds.
    SymSetOptions(SymGetOptions() | SYMOPT_DEFERRED_LOADS);
    MINIDUMP_TYPE type = full ? MiniDumpWithFullMemory : MiniDumpNormal;
    written = MiniDumpWriteDump(process, processId, file, type, withException ? &info : nullptr, nullptr, nullptr);
    CloseHandle(file);
  }
  CloseHandle(process);
  if (!written) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// abort() would show its message box before raising SIGABRT. The import library of msvcrt.dll
// lacks the switch, so it is taken from the runtime at run time.
void QuietAbort() {
  typedef unsigned int(__cdecl * SetAbortBehavior)(unsigned int flags, unsigned int mask);
  HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
  FARPROC found = runtime ? GetProcAddress(runtime, "_set_abort_behavior") : nullptr;
  auto set = reinterpret_cast<SetAbortBehavior>(reinterpret_cast<void*>(found));
  if (set)
    set(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
}

std::wstring EventName(DWORD processId) { return kFaultkeepEventPrefix + std::to_wstring(processId); }

void Release(Reporter* r) {
  for (HANDLE h : {r->request, r->finished, r->dumped}) {
    if (h)
      CloseHandle(h);
  }
  delete r;
}

}  // namespace

// The flag is reserved: callers pass 1.
extern "C" void __cdecl BhSetupCrashDumper(const wchar_t* program, const wchar_t* arguments, int flag) {
  if (g_reporter || !program || !arguments)
    return;
  auto* r = new Reporter();
  std::wstring args = arguments;
  std::wstring pid = std::to_wstring(GetCurrentProcessId());
  for (size_t at = args.find(L"%p"); at != std::wstring::npos; at = args.find(L"%p", at + pid.size()))
    args.replace(at, 2, pid);
  r->commandTemplate = L"\"" + std::wstring(program) + L"\" " + args;
  r->request = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  r->finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  r->dumped = CreateEventW(nullptr, TRUE, FALSE, EventName(GetCurrentProcessId()).c_str());
  if (!r->request || !r->finished || !r->dumped) {
    Release(r);
    return;
  }
  g_reporter = r;
  HANDLE thread = CreateThread(nullptr, kReportStack, ReportThread, nullptr, 0, nullptr);
  if (!thread) {
    g_reporter = nullptr;
    Release(r);
    return;
  }
  CloseHandle(thread);
  SetUnhandledExceptionFilter(OnUnhandled);
  signal(SIGABRT, OnAbort);
  QuietAbort();
  std::set_terminate(OnTerminate);
}

extern "C" void __cdecl BhWriteCrashDump(const wchar_t* dumpPath, DWORD processId, DWORD threadId,
                                         ULONG_PTR exceptionPointers, BOOL full) {
  if (dumpPath)
    WriteDump(dumpPath, processId, threadId, exceptionPointers, full);
  // The crashed process waits for this whether or not the dump was written.
  HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName(processId).c_str());
  if (done) {
    SetEvent(done);
    CloseHandle(done);
  }
}
