// The base of every tab page: what the tab view asks of a page.
#pragma once

#include <windows.h>

class VxView {
public:
    explicit VxView(bool canClose = true) : closable(canClose) {}
    virtual ~VxView() = default;
    // True when this view took the address itself.
    virtual bool OpenUrl(const wchar_t* url) { return false; }
    // The address the view shows, "" when none.
    virtual const wchar_t* GetUrl() { return L""; }
    virtual bool CanClose() { return closable; }
    // The same for every view: the window it set in hwnd_.
    virtual HWND GetHwnd() { return hwnd_; }

    bool closable;  // what CanClose answers unless a view decides otherwise

protected:
    HWND hwnd_ = nullptr;  // set by the view when its window exists
};
