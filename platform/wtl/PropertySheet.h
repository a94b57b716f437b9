// Property sheets and pages. A page answers the sheet's PSN_ notifications through the operations
// T may redefine (OnSetActive, OnKillActive, OnApply, OnReset, OnQueryCancel); the sheet window is
// subclassed once it exists so that T's message map sees its messages.
#pragma once

#include "wtl/Dialog.h"

#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

namespace WTL {

template <class T, class TBase = CWindow>
class CPropertyPageImpl : public CDialogImplBaseT<TBase> {
  using Base = CDialogImplBaseT<TBase>;

public:
  PROPSHEETPAGEW m_psp;

  explicit CPropertyPageImpl(LPCWSTR title = nullptr) {
    m_psp = {};
    m_psp.dwSize = sizeof(m_psp);
    m_psp.dwFlags = PSP_USECALLBACK;
    m_psp.hInstance = AppModule().GetResourceInstance();
    m_psp.pszTemplate = MAKEINTRESOURCEW(T::IDD);
    m_psp.pfnDlgProc = &StartPageProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(static_cast<Base*>(this));
    m_psp.pfnCallback = &PageCallback;
    if (title)
      SetTitle(title);
  }
  CPropertyPageImpl(const CPropertyPageImpl&) = delete;
  CPropertyPageImpl& operator=(const CPropertyPageImpl&) = delete;

  void SetTitle(LPCWSTR title) {
    m_title = title ? title : L"";
    m_psp.pszTitle = m_title.c_str();
    m_psp.dwFlags |= PSP_USETITLE;
  }

  // The page handle for a sheet; the window itself is created when the page is first shown.
  HPROPSHEETPAGE Create() {
    if (this->m_hWnd || !this->PrepareThunk())
      return nullptr;
    return ::CreatePropertySheetPageW(&m_psp);
  }

  HWND GetPropertySheet() const { return ::GetParent(this->m_hWnd); }
  void SetModified(BOOL changed = TRUE) {
    ::SendMessageW(GetPropertySheet(), changed ? PSM_CHANGED : PSM_UNCHANGED,
                   reinterpret_cast<WPARAM>(this->m_hWnd), 0);
  }

  // 0 accepts the activation, -1 refuses it.
  int OnSetActive() { return 0; }
  // TRUE keeps the page active (invalid input).
  BOOL OnKillActive() { return FALSE; }
  // PSNRET_NOERROR, PSNRET_INVALID or PSNRET_INVALID_NOCHANGEPAGE.
  int OnApply() { return PSNRET_NOERROR; }
  void OnReset() {}
  // TRUE refuses the cancel.
  BOOL OnQueryCancel() { return FALSE; }

  BEGIN_MSG_MAP(CPropertyPageImpl)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
  END_MSG_MAP()

  // Only notifications of the page itself or of its sheet; every other PSN_ code answers 0.
  LRESULT OnNotify(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    if (hdr->hwndFrom != this->m_hWnd && hdr->hwndFrom != GetPropertySheet()) {
      bHandled = FALSE;
      return 0;
    }
    T* self = static_cast<T*>(this);
    switch (hdr->code) {
    case PSN_SETACTIVE:
      return self->OnSetActive();
    case PSN_KILLACTIVE:
      return self->OnKillActive();
    case PSN_APPLY:
      return self->OnApply();
    case PSN_RESET:
      self->OnReset();
      return 0;
    case PSN_QUERYCANCEL:
      return self->OnQueryCancel();
    default:
      if (hdr->code <= static_cast<UINT>(PSN_FIRST) && hdr->code >= static_cast<UINT>(PSN_LAST))
        return 0;
      bHandled = FALSE;
      return 0;
    }
  }

  // The page object travels in the PROPSHEETPAGE given with WM_INITDIALOG; the few messages
  // before it go to the dialog manager alone.
  static INT_PTR CALLBACK StartPageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_INITDIALOG || !lp)
      return FALSE;
    auto* self = reinterpret_cast<Base*>(reinterpret_cast<PROPSHEETPAGEW*>(lp)->lParam);
    return self ? static_cast<CPropertyPageImpl*>(self)->AttachDialog(hwnd, msg, wp, lp) : FALSE;
  }

  static UINT CALLBACK PageCallback(HWND, UINT, LPPROPSHEETPAGEW) { return 1; }

private:
  std::wstring m_title;
};

template <class T, class TBase = CWindow>
class CPropertySheetImpl : public CWindowImplBaseT<TBase, CNullTraits> {
public:
  PROPSHEETHEADERW m_psh;

  explicit CPropertySheetImpl(LPCWSTR title = nullptr, UINT startPage = 0, HWND parent = nullptr) {
    m_psh = {};
    m_psh.dwSize = sizeof(m_psh);
    m_psh.dwFlags = PSH_USECALLBACK;
    m_psh.hwndParent = parent;
    m_psh.hInstance = AppModule().GetResourceInstance();
    m_psh.nStartPage = startPage;
    m_psh.pfnCallback = &SheetCallback;
    SetTitle(title);
  }
  ~CPropertySheetImpl() {
    for (HPROPSHEETPAGE page : m_pages)
      ::DestroyPropertySheetPage(page);
  }
  CPropertySheetImpl(const CPropertySheetImpl&) = delete;
  CPropertySheetImpl& operator=(const CPropertySheetImpl&) = delete;

  void SetTitle(LPCWSTR title) {
    m_title = title ? title : L"";
    m_psh.pszCaption = m_title.c_str();
  }

  BOOL AddPage(HPROPSHEETPAGE page) {
    if (!page)
      return FALSE;
    if (this->m_hWnd)
      return static_cast<BOOL>(this->SendMessage(PSM_ADDPAGE, 0, reinterpret_cast<LPARAM>(page)));
    m_pages.push_back(page);
    return TRUE;
  }
  template <class P>
  BOOL AddPage(P& page) {
    return AddPage(page.Create());
  }

  // The sheet's result: positive after OK, 0 after Cancel, -1 on failure.
  INT_PTR DoModal(HWND parent = ::GetActiveWindow()) {
    if (this->m_hWnd)
      return -1;
    m_psh.dwFlags &= ~PSH_MODELESS;
    return Run(parent);
  }

  // A modeless sheet; it is done (IsDone) after OK or Cancel, and its owner destroys it then.
  HWND Create(HWND parent = nullptr) {
    if (this->m_hWnd)
      return nullptr;
    m_psh.dwFlags |= PSH_MODELESS;
    return reinterpret_cast<HWND>(Run(parent));
  }

  BOOL SetActivePage(int index) { return static_cast<BOOL>(this->SendMessage(PSM_SETCURSEL, index, 0)); }
  HWND GetActivePage() const {
    return reinterpret_cast<HWND>(::SendMessageW(this->m_hWnd, PSM_GETCURRENTPAGEHWND, 0, 0));
  }
  int GetActiveIndex() const {
    HWND tab = reinterpret_cast<HWND>(::SendMessageW(this->m_hWnd, PSM_GETTABCONTROL, 0, 0));
    return tab ? static_cast<int>(::SendMessageW(tab, TCM_GETCURSEL, 0, 0)) : -1;
  }
  int GetPageCount() const {
    HWND tab = reinterpret_cast<HWND>(::SendMessageW(this->m_hWnd, PSM_GETTABCONTROL, 0, 0));
    return tab ? static_cast<int>(::SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0)) : static_cast<int>(m_pages.size());
  }
  void PressButton(int button) { this->SendMessage(PSM_PRESSBUTTON, button, 0); }
  // A modeless sheet has been closed with OK or Cancel.
  bool IsDone() const { return this->m_hWnd && !GetActivePage(); }

  // Called once the sheet window exists and is subclassed; T may redefine it.
  void OnSheetInitialized() {}

  BEGIN_MSG_MAP(CPropertySheetImpl)
  END_MSG_MAP()

  static int CALLBACK SheetCallback(HWND hwnd, UINT msg, LPARAM) {
    if (msg == PSCB_INITIALIZED) {
      T* self = static_cast<T*>(static_cast<CPropertySheetImpl*>(creating_));
      creating_ = nullptr;
      if (self && self->SubclassWindow(hwnd))
        self->OnSheetInitialized();
    }
    return 0;
  }

private:
  INT_PTR Run(HWND parent) {
    if (parent)
      m_psh.hwndParent = parent;
    m_psh.nPages = static_cast<UINT>(m_pages.size());
    // The system owns the pages from here on, whether the sheet is shown or not.
    std::vector<HPROPSHEETPAGE> pages;
    pages.swap(m_pages);
    m_psh.phpage = pages.data();
    // A slot of our own: the pages' initialisation may create other windows meanwhile.
    creating_ = this;
    INT_PTR r = ::PropertySheetW(&m_psh);
    creating_ = nullptr;
    m_psh.phpage = nullptr;
    return r;
  }

  static thread_local void* creating_;
  std::vector<HPROPSHEETPAGE> m_pages;
  std::wstring m_title;
};

template <class T, class TBase>
thread_local void* CPropertySheetImpl<T, TBase>::creating_ = nullptr;

}  // namespace WTL
