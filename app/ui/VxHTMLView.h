// A view whose own window is an engine window: a superclass of the engine's class, so the view's
// message map sees the window's messages and the engine draws the page.
#pragma once

#include "VxHTMLBase.h"
#include "wtl/WindowImpl.h"

// WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, WS_EX_STATICEDGE.
typedef WTL::CWinTraits<0x56000000, 0x20000> VxHTMLViewTraits;

// T's message map chains VxHTMLView<T> first, so that T's own WM_CREATE handler runs once the
// engine window exists and its notifications come to T (a page loaded there gets its resources).
template <class T>
class VxHTMLView : public WTL::CWindowImpl<T, WTL::CHTMLayoutCtrlT<WTL::CWindow>, VxHTMLViewTraits>,
                   public VxHTMLBase<T> {
public:
    DECLARE_WND_SUPERCLASS(nullptr, WTL::CHTMLayoutCtrl::GetWndClassName())

    HWND Create(HWND parent, const RECT& rc, int id = 0) {
        return WTL::CWindowImpl<T, WTL::CHTMLayoutCtrlT<WTL::CWindow>, VxHTMLViewTraits>::Create(
            parent, &rc, nullptr, 0, 0, WTL::MenuOrId(id));
    }

    BEGIN_MSG_MAP(VxHTMLView)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    END_MSG_MAP()

private:
    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL& handled) {
        LRESULT result = this->DefWindowProc();
        if (result == -1)
            return -1;
        this->SetupHost(this->m_hWnd);
        handled = FALSE;
        return result;
    }
};
