// The message loop of one thread, with message filters (consulted before translation) and idle
// handlers (run whenever the queue has become empty).
#pragma once

#include <windows.h>

#include <vector>

namespace WTL {

class CMessageFilter {
public:
  virtual ~CMessageFilter() = default;
  // TRUE swallows the message: it is neither translated nor dispatched.
  virtual BOOL PreTranslateMessage(MSG* msg) = 0;
};

class CIdleHandler {
public:
  virtual ~CIdleHandler() = default;
  // TRUE asks for another idle call before the loop waits for the next message.
  virtual BOOL OnIdle() = 0;
};

class CMessageLoop {
public:
  virtual ~CMessageLoop() = default;

  bool AddMessageFilter(CMessageFilter* filter);
  bool RemoveMessageFilter(CMessageFilter* filter);
  bool AddIdleHandler(CIdleHandler* handler);
  bool RemoveIdleHandler(CIdleHandler* handler);

  // Runs until WM_QUIT and returns its exit code (-1 when GetMessage fails).
  int Run();

  // The filters, the most recently added first, until one swallows the message.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // Every idle handler; TRUE when one of them asked for more.
  virtual BOOL OnIdle(int idleCount);
  // Messages that do not make the loop idle again: mouse moves, paint, the caret blink.
  static bool IsIdleMessage(const MSG* msg);

private:
  template <class P>
  static bool Remove(std::vector<P*>& list, P* item, int walking);
  template <class P>
  static void Compact(std::vector<P*>& list, int walking);

  std::vector<CMessageFilter*> filters_;
  std::vector<CIdleHandler*> idleHandlers_;
  // Depth of walks over the lists: entries removed during a walk are nulled, compacted after it.
  int walkingFilters_ = 0;
  int walkingIdle_ = 0;
  MSG msg_ = {};
};

}  // namespace WTL
