// Message maps: a class lists the messages it handles; unhandled messages go on to the chained
// maps and finally to the default processing. A handler clears bHandled to pass a message on.
#pragma once

#include <windows.h>

namespace WTL {

class CMessageMap {
public:
  virtual ~CMessageMap() = default;
  // Map 0 is the window's own map; other ids are alternate maps (contained windows use them).
  virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                    LRESULT& lResult, DWORD dwMsgMapID) = 0;
};

}  // namespace WTL

#define BEGIN_MSG_MAP(theClass)                                                                    \
public:                                                                                            \
  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult, \
                            DWORD dwMsgMapID = 0) {                                                \
    BOOL bHandled = TRUE;                                                                          \
    (void)hWnd;                                                                                    \
    (void)uMsg;                                                                                    \
    (void)wParam;                                                                                  \
    (void)lParam;                                                                                  \
    (void)lResult;                                                                                 \
    (void)bHandled;                                                                                \
    switch (dwMsgMapID) {                                                                          \
    case 0:

#define ALT_MSG_MAP(mapId) \
  break;                   \
  case mapId:

#define END_MSG_MAP() \
  break;              \
  default:            \
    break;            \
    }                 \
    return FALSE;     \
    }

// LRESULT func(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
#define MESSAGE_HANDLER(msg, func)                        \
  if (uMsg == (msg)) {                                    \
    bHandled = TRUE;                                      \
    lResult = func(uMsg, wParam, lParam, bHandled);       \
    if (bHandled)                                         \
      return TRUE;                                        \
  }

#define MESSAGE_RANGE_HANDLER(msgFirst, msgLast, func)    \
  if (uMsg >= (msgFirst) && uMsg <= (msgLast)) {          \
    bHandled = TRUE;                                      \
    lResult = func(uMsg, wParam, lParam, bHandled);       \
    if (bHandled)                                         \
      return TRUE;                                        \
  }

// LRESULT func(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled)
#define COMMAND_HANDLER(id, code, func)                                                        \
  if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (code)) {             \
    bHandled = TRUE;                                                                           \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled)                                                                              \
      return TRUE;                                                                             \
  }

#define COMMAND_ID_HANDLER(id, func)                                                           \
  if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                          \
    bHandled = TRUE;                                                                           \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled)                                                                              \
      return TRUE;                                                                             \
  }

#define COMMAND_CODE_HANDLER(code, func)                                                       \
  if (uMsg == WM_COMMAND && HIWORD(wParam) == (code)) {                                        \
    bHandled = TRUE;                                                                           \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled)                                                                              \
      return TRUE;                                                                             \
  }

#define COMMAND_RANGE_HANDLER(idFirst, idLast, func)                                           \
  if (uMsg == WM_COMMAND && LOWORD(wParam) >= (idFirst) && LOWORD(wParam) <= (idLast)) {       \
    bHandled = TRUE;                                                                           \
    lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
    if (bHandled)                                                                              \
      return TRUE;                                                                             \
  }

// LRESULT func(int idCtrl, LPNMHDR pnmh, BOOL& bHandled)
#define NOTIFY_HANDLER(id, cd, func)                                                              \
  if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->idFrom == static_cast<UINT_PTR>(id) && \
      reinterpret_cast<LPNMHDR>(lParam)->code == static_cast<UINT>(cd)) {                         \
    bHandled = TRUE;                                                                              \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);        \
    if (bHandled)                                                                                 \
      return TRUE;                                                                                \
  }

#define NOTIFY_ID_HANDLER(id, func)                                                                \
  if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->idFrom == static_cast<UINT_PTR>(id)) { \
    bHandled = TRUE;                                                                               \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);         \
    if (bHandled)                                                                                  \
      return TRUE;                                                                                 \
  }

#define NOTIFY_CODE_HANDLER(cd, func)                                                      \
  if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->code == static_cast<UINT>(cd)) { \
    bHandled = TRUE;                                                                       \
    lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled); \
    if (bHandled)                                                                          \
      return TRUE;                                                                         \
  }

#define CHAIN_MSG_MAP(theChainClass)                                                        \
  if (theChainClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, dwMsgMapID)) \
    return TRUE;

#define CHAIN_MSG_MAP_ALT(theChainClass, mapId)                                        \
  if (theChainClass::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, mapId)) \
    return TRUE;

#define CHAIN_MSG_MAP_MEMBER(theChainMember)                                              \
  if ((theChainMember).ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, 0)) \
    return TRUE;

#define CHAIN_MSG_MAP_ALT_MEMBER(theChainMember, mapId)                                      \
  if ((theChainMember).ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, mapId)) \
    return TRUE;

// Hands the notifications of child controls on to the parent window, so that a container window
// (a panel) passes its children's commands up to the frame.
#define FORWARD_NOTIFICATIONS()                                                \
  if (WTL::IsForwardedNotification(uMsg)) {                                    \
    lResult = ::SendMessageW(::GetParent(hWnd), uMsg, wParam, lParam);         \
    return TRUE;                                                               \
  }

namespace WTL {

inline bool IsForwardedNotification(UINT msg) {
  switch (msg) {
  case WM_COMMAND:
  case WM_NOTIFY:
  case WM_PARENTNOTIFY:
  case WM_DRAWITEM:
  case WM_MEASUREITEM:
  case WM_DELETEITEM:
  case WM_VKEYTOITEM:
  case WM_CHARTOITEM:
  case WM_COMPAREITEM:
  case WM_HSCROLL:
  case WM_VSCROLL:
  case WM_CTLCOLORBTN:
  case WM_CTLCOLORDLG:
  case WM_CTLCOLOREDIT:
  case WM_CTLCOLORLISTBOX:
  case WM_CTLCOLORMSGBOX:
  case WM_CTLCOLORSCROLLBAR:
  case WM_CTLCOLORSTATIC:
    return true;
  default:
    return false;
  }
}

}  // namespace WTL
