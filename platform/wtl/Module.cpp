// The application module object and its per-thread loop map.
#include "wtl/Module.h"

namespace WTL {

CAppModule::CAppModule() {
  ::InitializeCriticalSection(&lock_);
  instance_ = resourceInstance_ = ::GetModuleHandleW(nullptr);
}

HRESULT CAppModule::Init(HINSTANCE instance) {
  CModuleLock guard;
  if (instance)
    instance_ = resourceInstance_ = instance;
  initialized_ = true;
  return S_OK;
}

void CAppModule::Term() {
  CModuleLock guard;
  loops_.clear();
  initialized_ = false;
}

bool CAppModule::AddMessageLoop(CMessageLoop* loop) {
  if (!loop)
    return false;
  CModuleLock guard;
  return loops_.emplace(::GetCurrentThreadId(), loop).second;
}

bool CAppModule::RemoveMessageLoop() {
  CModuleLock guard;
  return loops_.erase(::GetCurrentThreadId()) != 0;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) {
  CModuleLock guard;
  auto it = loops_.find(threadId);
  return it == loops_.end() ? nullptr : it->second;
}

size_t CAppModule::GetMessageLoopCount() {
  CModuleLock guard;
  return loops_.size();
}

CAppModule& AppModule() {
  static CAppModule* module = new CAppModule;
  return *module;
}

}  // namespace WTL
