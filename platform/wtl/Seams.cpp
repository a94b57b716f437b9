// The real implementations behind the seams.
#include "wtl/Seams.h"

#include <shellapi.h>
#include <shlobj.h>

namespace WTL {

namespace {

int RealMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
  return ::MessageBoxW(owner, text, caption, flags);
}

bool RealShellOpen(HWND owner, const wchar_t* file, const wchar_t* params, int show) {
  HINSTANCE r = ::ShellExecuteW(owner, L"open", file, params, nullptr, show);
  return reinterpret_cast<INT_PTR>(r) > 32;
}

bool RealShellExplore(HWND owner, const wchar_t* folder) {
  HINSTANCE r = ::ShellExecuteW(owner, L"explore", folder, nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(r) > 32;
}

int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data)
    ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

bool RealBrowseFolder(HWND owner, const wchar_t* title, const std::wstring& start, int rootCsidl,
                      std::wstring& chosen) {
  PIDLIST_ABSOLUTE root = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(owner, rootCsidl, &root)))
    root = nullptr;
  BROWSEINFOW bi = {};
  bi.hwndOwner = owner;
  bi.pidlRoot = root;
  bi.lpszTitle = title;
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  bi.lpfn = BrowseCallback;
  bi.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE picked = ::SHBrowseForFolderW(&bi);
  bool ok = false;
  if (picked) {
    wchar_t path[MAX_PATH] = {};
    ok = ::SHGetPathFromIDListW(picked, path) && path[0];
    if (ok)
      chosen = path;
    ::CoTaskMemFree(picked);
  }
  if (root)
    ::CoTaskMemFree(root);
  return ok;
}

UINT RealTrackPopup(HMENU menu, UINT flags, int x, int y, HWND owner) {
  return static_cast<UINT>(::TrackPopupMenuEx(menu, flags, x, y, owner, nullptr));
}

BOOL RealBeep(UINT type) { return ::MessageBeep(type); }

BOOL RealNotifyIcon(DWORD action, NOTIFYICONDATAW* data) { return ::Shell_NotifyIconW(action, data); }

UiSeams RealSeams() {
  UiSeams s;
  s.messageBox = RealMessageBox;
  s.shellOpen = RealShellOpen;
  s.shellExplore = RealShellExplore;
  s.browseFolder = RealBrowseFolder;
  s.trackPopupMenu = RealTrackPopup;
  s.messageBeep = RealBeep;
  s.notifyIcon = RealNotifyIcon;
  return s;
}

}  // namespace

UiSeams& Seams() {
  static UiSeams seams = RealSeams();
  return seams;
}

void ResetSeams() { Seams() = RealSeams(); }

// An emptied member falls back to the real call rather than throwing std::bad_function_call.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
  auto& f = Seams().messageBox;
  return f ? f(owner, text, caption, flags) : RealMessageBox(owner, text, caption, flags);
}

bool ShellOpen(HWND owner, const wchar_t* file, const wchar_t* params, int show) {
  auto& f = Seams().shellOpen;
  return f ? f(owner, file, params, show) : RealShellOpen(owner, file, params, show);
}

bool ShellExplore(HWND owner, const wchar_t* folder) {
  auto& f = Seams().shellExplore;
  return f ? f(owner, folder) : RealShellExplore(owner, folder);
}

bool BrowseForFolder(HWND owner, const std::wstring& start, std::wstring& chosen, int rootCsidl, const wchar_t* title) {
  auto& f = Seams().browseFolder;
  return f ? f(owner, title, start, rootCsidl, chosen) : RealBrowseFolder(owner, title, start, rootCsidl, chosen);
}

UINT TrackPopup(HMENU menu, UINT flags, int x, int y, HWND owner) {
  auto& f = Seams().trackPopupMenu;
  return f ? f(menu, flags, x, y, owner) : RealTrackPopup(menu, flags, x, y, owner);
}

BOOL PlayMessageBeep(UINT type) {
  auto& f = Seams().messageBeep;
  return f ? f(type) : RealBeep(type);
}

BOOL NotifyIcon(DWORD action, NOTIFYICONDATAW* data) {
  auto& f = Seams().notifyIcon;
  return f ? f(action, data) : RealNotifyIcon(action, data);
}

bool IsWebAddress(const wchar_t* text) {
  if (!text)
    return false;
  return (::_wcsnicmp(text, L"http://", 7) == 0 && text[7]) || (::_wcsnicmp(text, L"https://", 8) == 0 && text[8]);
}

bool IsWebAddress(const char* text) {
  if (!text)
    return false;
  return (::_strnicmp(text, "http://", 7) == 0 && text[7]) || (::_strnicmp(text, "https://", 8) == 0 && text[8]);
}

// Site, script and service texts reach links: a "file:" or "javascript:" target must never run.
bool OpenWebAddress(HWND owner, const wchar_t* url) {
  if (!IsWebAddress(url)) {
    PlayMessageBeep(0);
    return false;
  }
  return ShellOpen(owner, url, nullptr, SW_SHOWNORMAL);
}

}  // namespace WTL
