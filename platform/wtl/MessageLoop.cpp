// The thread message loop.
#include "wtl/MessageLoop.h"

#include <algorithm>

namespace WTL {

template <class P>
bool CMessageLoop::Remove(std::vector<P*>& list, P* item, int walking) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it == list.end() || !item)
    return false;
  if (walking)
    *it = nullptr;
  else
    list.erase(it);
  return true;
}

template <class P>
void CMessageLoop::Compact(std::vector<P*>& list, int walking) {
  if (!walking)
    list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
}

bool CMessageLoop::AddMessageFilter(CMessageFilter* filter) {
  if (!filter || std::find(filters_.begin(), filters_.end(), filter) != filters_.end())
    return false;
  filters_.push_back(filter);
  return true;
}

bool CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) {
  return Remove(filters_, filter, walkingFilters_);
}

bool CMessageLoop::AddIdleHandler(CIdleHandler* handler) {
  if (!handler || std::find(idleHandlers_.begin(), idleHandlers_.end(), handler) != idleHandlers_.end())
    return false;
  idleHandlers_.push_back(handler);
  return true;
}

bool CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) {
  return Remove(idleHandlers_, handler, walkingIdle_);
}

BOOL CMessageLoop::PreTranslateMessage(MSG* msg) {
  BOOL swallowed = FALSE;
  ++walkingFilters_;
  // Filters added during the walk are not consulted for this message.
  for (size_t i = filters_.size(); i-- > 0 && !swallowed;) {
    if (i < filters_.size() && filters_[i])
      swallowed = filters_[i]->PreTranslateMessage(msg);
  }
  --walkingFilters_;
  Compact(filters_, walkingFilters_);
  return swallowed;
}

BOOL CMessageLoop::OnIdle(int) {
  BOOL more = FALSE;
  ++walkingIdle_;
  size_t count = idleHandlers_.size();
  for (size_t i = 0; i < count && i < idleHandlers_.size(); ++i) {
    if (idleHandlers_[i] && idleHandlers_[i]->OnIdle())
      more = TRUE;
  }
  --walkingIdle_;
  Compact(idleHandlers_, walkingIdle_);
  return more;
}

bool CMessageLoop::IsIdleMessage(const MSG* msg) {
  switch (msg->message) {
  case WM_MOUSEMOVE:
  case WM_NCMOUSEMOVE:
  case WM_PAINT:
  case 0x0118:  // WM_SYSTIMER: the caret blink
    return false;
  default:
    return true;
  }
}

int CMessageLoop::Run() {
  bool doIdle = true;
  int idleCount = 0;
  for (;;) {
    while (doIdle && !::PeekMessageW(&msg_, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++))
        doIdle = false;
    }
    BOOL got = ::GetMessageW(&msg_, nullptr, 0, 0);
    if (got == -1)
      return -1;
    if (!got)
      break;
    if (!PreTranslateMessage(&msg_)) {
      ::TranslateMessage(&msg_);
      ::DispatchMessageW(&msg_);
    }
    if (IsIdleMessage(&msg_)) {
      doIdle = true;
      idleCount = 0;
    }
  }
  return static_cast<int>(msg_.wParam);
}

}  // namespace WTL
