// Window-procedure thunks: a few bytes of code per window object that put the object's address in
// place of the window handle and jump to the class's procedure, so a message finds its object
// without a lookup. Written for x86 and x86-64.
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

  // The owning object is going away while hwnd still lives. Its messages go to `previous` from now
  // on: the window gets `previous` back when the thunk is still its procedure; when someone has
  // subclassed it since (and so calls the thunk), the code is kept and forwards to `previous` until
  // the window's WM_NCDESTROY frees it.
  void ReleaseWindow(HWND hwnd, WNDPROC previous);
  // The same for a dialog: the dialog manager handles its messages alone from now on.
  void ReleaseDialog(HWND hwnd);

private:
  void* code_ = nullptr;
};

// The object whose window the calling thread is creating; its first message takes it.
void SetCreatingObject(void* object);
void* TakeCreatingObject();

}  // namespace WTL
