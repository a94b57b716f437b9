// Dialogs from templates: CDialogImpl runs a dialog resource modally or modeless, with its messages
// going through the object's message map. Unhandled messages go to the system's dialog manager;
// nothing here ends a dialog on its own (no automatic IDCANCEL).
#pragma once

#include "wtl/WindowImpl.h"

namespace WTL {

template <class TBase = CWindow>
class CDialogImplBaseT : public CWindowImplRoot<TBase> {
public:
  CDialogImplBaseT() = default;
  CDialogImplBaseT(const CDialogImplBaseT&) = delete;
  CDialogImplBaseT& operator=(const CDialogImplBaseT&) = delete;
  // An object may go before its dialog: the dialog's later messages must not reach it.
  ~CDialogImplBaseT() {
    if (this->m_hWnd)
      this->m_thunk.ReleaseDialog(this->m_hWnd);
  }

  static INT_PTR CALLBACK StartDialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static INT_PTR CALLBACK DialogProc(HWND self, UINT msg, WPARAM wp, LPARAM lp);

  BOOL MapDialogRect(RECT* rc) { return ::MapDialogRect(this->m_hWnd, rc); }

protected:
  // Binds the object to a dialog window at its first message.
  INT_PTR AttachDialog(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    this->m_hWnd = hwnd;
    DLGPROC proc = this->m_thunk.GetDlgProc();
    ::SetWindowLongPtrW(hwnd, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
    return proc(hwnd, msg, wp, lp);
  }
  bool PrepareThunk() {
    this->m_destroyed = false;
    if (this->m_thunk.Init(reinterpret_cast<void*>(&DialogProc), this))
      return true;
    ::SetLastError(ERROR_OUTOFMEMORY);
    return false;
  }
};

template <class TBase>
INT_PTR CALLBACK CDialogImplBaseT<TBase>::StartDialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = static_cast<CDialogImplBaseT*>(TakeCreatingObject());
  return self ? self->AttachDialog(hwnd, msg, wp, lp) : FALSE;
}

template <class TBase>
INT_PTR CALLBACK CDialogImplBaseT<TBase>::DialogProc(HWND selfArg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<CDialogImplBaseT*>(selfArg);
  HWND hwnd = self->m_hWnd;
  MSG current = {hwnd, msg, wp, lp, 0, {0, 0}};
  const MSG* outer = self->m_pCurrentMsg;
  self->m_pCurrentMsg = &current;
  ++self->m_msgDepth;
  LRESULT result = 0;
  BOOL handled = self->ProcessWindowMessage(hwnd, msg, wp, lp, result, 0);
  --self->m_msgDepth;
  self->m_pCurrentMsg = outer;
  INT_PTR answer = FALSE;
  if (handled) {
    switch (msg) {
    // These answer through the procedure's return value; all others through DWLP_MSGRESULT.
    case WM_INITDIALOG:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      answer = static_cast<INT_PTR>(result);
      break;
    default:
      ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      answer = TRUE;
      break;
    }
  }
  if (msg == WM_NCDESTROY)
    self->m_destroyed = true;
  if (self->m_destroyed && self->m_msgDepth == 0) {
    self->m_destroyed = false;
    self->m_hWnd = nullptr;
    self->OnFinalMessage(hwnd);
  }
  return answer;
}

// T declares enum { IDD = resource id }.
template <class T, class TBase = CWindow>
class CDialogImpl : public CDialogImplBaseT<TBase> {
public:
  // The dialog result, or -1 when the dialog could not be created (ERROR_OUTOFMEMORY when the
  // object could not be prepared).
  INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM initParam = 0) {
    if (this->m_hWnd || !this->PrepareThunk())
      return -1;
    m_modal = true;
    m_ended = false;
    SetCreatingObject(static_cast<CDialogImplBaseT<TBase>*>(this));
    INT_PTR r = ::DialogBoxParamW(AppModule().GetResourceInstance(), MAKEINTRESOURCEW(T::IDD), parent,
                                  &CDialogImplBaseT<TBase>::StartDialogProc, initParam);
    TakeCreatingObject();
    m_modal = false;
    return r;
  }

  HWND Create(HWND parent, LPARAM initParam = 0) {
    if (this->m_hWnd || !this->PrepareThunk())
      return nullptr;
    m_modal = false;
    m_ended = false;
    SetCreatingObject(static_cast<CDialogImplBaseT<TBase>*>(this));
    HWND hwnd = ::CreateDialogParamW(AppModule().GetResourceInstance(), MAKEINTRESOURCEW(T::IDD), parent,
                                     &CDialogImplBaseT<TBase>::StartDialogProc, initParam);
    TakeCreatingObject();
    return hwnd;
  }

  // Keeps the result in the object. A modal dialog then ends; a modeless one stays until its owner
  // destroys it, so a test can run any dialog modeless and read the result it ended with.
  BOOL EndDialog(INT_PTR result) {
    m_result = result;
    m_ended = true;
    return m_modal ? ::EndDialog(this->m_hWnd, result) : TRUE;
  }
  bool HasEnded() const { return m_ended; }
  INT_PTR GetResult() const { return m_result; }
  bool IsModal() const { return m_modal; }

private:
  bool m_modal = false;
  bool m_ended = false;
  INT_PTR m_result = 0;
};

}  // namespace WTL
