// The application module: module and resource instance, the process-wide module lock, and the map of
// message loops per thread that every thread running a loop registers in.
#pragma once

#include <windows.h>

#include <map>

namespace WTL {

class CMessageLoop;

class CAppModule {
public:
  CAppModule();
  CAppModule(const CAppModule&) = delete;
  CAppModule& operator=(const CAppModule&) = delete;

  // instance null: the program's own module.
  HRESULT Init(HINSTANCE instance = nullptr);
  void Term();
  bool IsInitialized() const { return initialized_; }

  HINSTANCE GetModuleInstance() const { return instance_; }
  HINSTANCE GetResourceInstance() const { return resourceInstance_; }
  void SetResourceInstance(HINSTANCE instance) { resourceInstance_ = instance; }

  void Lock() { ::EnterCriticalSection(&lock_); }
  void Unlock() { ::LeaveCriticalSection(&lock_); }

  // One loop per thread; false when the calling thread already has one.
  bool AddMessageLoop(CMessageLoop* loop);
  // Removes the calling thread's loop; false when it has none.
  bool RemoveMessageLoop();
  CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId());
  size_t GetMessageLoopCount();

private:
  CRITICAL_SECTION lock_;
  HINSTANCE instance_;
  HINSTANCE resourceInstance_;
  bool initialized_ = false;
  std::map<DWORD, CMessageLoop*> loops_;
};

// The process's one module object. It is never destroyed: threads that outlive the main loop may
// still take its lock while the process exits.
CAppModule& AppModule();

class CModuleLock {
public:
  CModuleLock() { AppModule().Lock(); }
  ~CModuleLock() { AppModule().Unlock(); }
  CModuleLock(const CModuleLock&) = delete;
  CModuleLock& operator=(const CModuleLock&) = delete;
};

}  // namespace WTL
