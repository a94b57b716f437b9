// A hyperlink label: the window text drawn as a link, a target address opened through the shell
// seam when the text is clicked. Made by subclassing a static control or created on its own.
#pragma once

#include "wtl/WindowImpl.h"

#include <string>

namespace WTL {

enum : DWORD {
  HLINK_UNDERLINEHOVER = 0x01,  // underlined only while the mouse is over the text
  HLINK_NOTUNDERLINED = 0x02,
};

class CHyperLink : public CWindowImpl<CHyperLink> {
public:
  DECLARE_WND_SUPERCLASS(L"Vx.HyperLink", L"STATIC")

  CHyperLink() = default;
  ~CHyperLink();

  BOOL SubclassWindow(HWND hwnd);

  // The label is the window text.
  std::wstring GetLabel() const { return GetWindowText(); }
  void SetLabel(LPCWSTR label);
  // The address opened on a click; the label when none is set.
  const std::wstring& GetHyperLink() const { return target_; }
  void SetHyperLink(LPCWSTR target) { target_ = target ? target : L""; }
  DWORD GetHyperLinkExtendedStyle() const { return exStyle_; }
  void SetHyperLinkExtendedStyle(DWORD style, DWORD mask = 0) {
    exStyle_ = mask ? (exStyle_ & ~mask) | (style & mask) : style;
  }

  bool Navigate();
  // The taller of the heights of "NS" in the normal and the underlined font.
  int GetIdealHeight();
  bool IsHot() const { return hot_; }
  // The label's text in client coordinates: only it reacts to the mouse.
  RECT GetTextRect();

  BEGIN_MSG_MAP(CHyperLink)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_PRINTCLIENT, OnPaint)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBkgnd)
    MESSAGE_HANDLER(WM_SETFONT, OnSetFont)
    MESSAGE_HANDLER(WM_GETFONT, OnGetFont)
    MESSAGE_HANDLER(WM_SETTEXT, OnSetText)
    MESSAGE_HANDLER(WM_NCHITTEST, OnNcHitTest)
    MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_MOUSELEAVE, OnMouseLeave)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
  END_MSG_MAP()

private:
  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL& bHandled);
  LRESULT OnPaint(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnEraseBkgnd(UINT, WPARAM, LPARAM, BOOL&) { return 1; }
  LRESULT OnSetFont(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnGetFont(UINT, WPARAM, LPARAM, BOOL&) { return reinterpret_cast<LRESULT>(font_); }
  LRESULT OnSetText(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnNcHitTest(UINT, WPARAM, LPARAM, BOOL&) { return HTCLIENT; }
  LRESULT OnSetCursor(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnMouseMove(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnMouseLeave(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnLButtonDown(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnLButtonUp(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);

  void Setup();
  void MakeFonts(HFONT base);
  void FreeFonts();
  void SetHot(bool hot);
  bool TextHit(LPARAM lp);
  bool Underlined() const;

  std::wstring target_;
  DWORD exStyle_ = 0;
  HFONT font_ = nullptr;       // the font given or inherited; not ours
  HFONT underline_ = nullptr;  // ours
  bool hot_ = false;
  bool pressed_ = false;
};

}  // namespace WTL
