// Dialog data exchange: a DDX map moves values between members and controls (load with
// DoDataExchange(FALSE), store and validate with DoDataExchange(TRUE)) and binds controls to members.
#pragma once

#include "wtl/Seams.h"
#include "wtl/Window.h"

#include <string>

namespace WTL {

template <class T>
class CWinDataExchange {
public:
  BOOL DDX_Text(UINT id, std::wstring& value, BOOL save) {
    CWindow dlg(Self()->m_hWnd);
    if (save)
      value = dlg.GetDlgItemText(id);
    else if (!dlg.SetDlgItemText(id, value.c_str()))
      return Fail(id, save);
    return TRUE;
  }

  // A signed decimal; storing fails on text that is no number.
  BOOL DDX_Int(UINT id, int& value, BOOL save) {
    if (save) {
      BOOL ok = FALSE;
      UINT v = ::GetDlgItemInt(Self()->m_hWnd, id, &ok, TRUE);
      if (!ok)
        return Fail(id, save);
      value = static_cast<int>(v);
    } else if (!::SetDlgItemInt(Self()->m_hWnd, id, static_cast<UINT>(value), TRUE)) {
      return Fail(id, save);
    }
    return TRUE;
  }

  // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE.
  BOOL DDX_Check(UINT id, int& value, BOOL save) {
    HWND ctl = ::GetDlgItem(Self()->m_hWnd, id);
    if (!ctl)
      return Fail(id, save);
    if (save)
      value = static_cast<int>(::SendMessageW(ctl, BM_GETCHECK, 0, 0));
    else
      ::SendMessageW(ctl, BM_SETCHECK, static_cast<WPARAM>(value), 0);
    return TRUE;
  }

  BOOL DDX_Check(UINT id, bool& value, BOOL save) {
    int v = value ? BST_CHECKED : BST_UNCHECKED;
    if (!DDX_Check(id, v, save))
      return FALSE;
    if (save)
      value = v == BST_CHECKED;
    return TRUE;
  }

  // The radio buttons of the group that starts at firstId: value is the index of the checked one, -1 none.
  BOOL DDX_Radio(UINT firstId, int& value, BOOL save) {
    HWND ctl = ::GetDlgItem(Self()->m_hWnd, firstId);
    if (!ctl)
      return Fail(firstId, save);
    int found = -1;
    for (int i = 0; ctl; ++i) {
      if (i > 0 && (::GetWindowLongPtrW(ctl, GWL_STYLE) & WS_GROUP))
        break;
      if ((::SendMessageW(ctl, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) == 0)
        break;
      if (save) {
        if (found < 0 && ::SendMessageW(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED)
          found = i;
      } else {
        ::SendMessageW(ctl, BM_SETCHECK, i == value ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      ctl = ::GetWindow(ctl, GW_HWNDNEXT);
    }
    if (save)
      value = found;
    return TRUE;
  }

  // Binds the control's handle when loading.
  BOOL DDX_Control_Handle(UINT id, CWindow& ctl, BOOL save) {
    if (!save && !ctl.m_hWnd) {
      ctl.m_hWnd = ::GetDlgItem(Self()->m_hWnd, id);
      if (!ctl.m_hWnd)
        return Fail(id, save);
    }
    return TRUE;
  }

  // Subclasses the control with a window object (a CWindowImpl) when loading.
  template <class C>
  BOOL DDX_Control(UINT id, C& ctl, BOOL save) {
    if (!save && !ctl.m_hWnd && !ctl.SubclassWindow(::GetDlgItem(Self()->m_hWnd, id)))
      return Fail(id, save);
    return TRUE;
  }

  // Called for a value that cannot be moved; T may override it.
  void OnDataExchangeError(UINT id, BOOL save) {
    if (save) {
      HWND ctl = ::GetDlgItem(Self()->m_hWnd, id);
      if (ctl)
        ::SetFocus(ctl);
    }
    PlayMessageBeep(MB_OK);
  }

private:
  T* Self() { return static_cast<T*>(this); }
  BOOL Fail(UINT id, BOOL save) {
    Self()->OnDataExchangeError(id, save);
    return FALSE;
  }
};

}  // namespace WTL

#define BEGIN_DDX_MAP(thisClass)                                                     \
  BOOL DoDataExchange(BOOL bSaveAndValidate = FALSE, UINT nCtlID = static_cast<UINT>(-1)) { \
    (void)bSaveAndValidate;                                                          \
    (void)nCtlID;

#define VX_DDX_ENTRY(id, call)                                          \
  if (nCtlID == static_cast<UINT>(-1) || nCtlID == static_cast<UINT>(id)) { \
    if (!(call))                                                        \
      return FALSE;                                                     \
  }

#define DDX_TEXT(id, var) VX_DDX_ENTRY(id, this->DDX_Text(id, var, bSaveAndValidate))
#define DDX_INT(id, var) VX_DDX_ENTRY(id, this->DDX_Int(id, var, bSaveAndValidate))
#define DDX_CHECK(id, var) VX_DDX_ENTRY(id, this->DDX_Check(id, var, bSaveAndValidate))
#define DDX_RADIO(id, var) VX_DDX_ENTRY(id, this->DDX_Radio(id, var, bSaveAndValidate))
#define DDX_CONTROL_HANDLE(id, var) VX_DDX_ENTRY(id, this->DDX_Control_Handle(id, var, bSaveAndValidate))
#define DDX_CONTROL(id, var) VX_DDX_ENTRY(id, this->DDX_Control(id, var, bSaveAndValidate))

#define END_DDX_MAP() \
  return TRUE;        \
  }
