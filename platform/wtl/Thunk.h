// Window-procedure thunks: a few bytes of code per window object that put the object's address in
// place of the window handle and jump to the class's procedure, so a message finds its object
// without a lookup. 32-bit x86 only, like the program.
#pragma once

#include <windows.h>

namespace WTL {

class WndProcThunk {
public:
  WndProcThunk() = default;
  ~WndProcThunk();
  WndProcThunk(const WndProcThunk&) = delete;
  WndProcThunk& operator=(const WndProcThunk&) = delete;

  // proc receives self as its first (window-handle) argument. False when no code memory is left.
  bool Init(void* proc, void* self);
  WNDPROC GetWndProc() const { return reinterpret_cast<WNDPROC>(code_); }
  DLGPROC GetDlgProc() const { return reinterpret_cast<DLGPROC>(code_); }

private:
  void* code_ = nullptr;
};

// The object whose window the calling thread is creating; its first message takes it.
void SetCreatingObject(void* object);
void* TakeCreatingObject();

}  // namespace WTL
