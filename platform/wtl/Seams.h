// Replaceable seams for what tests must not really do: message boxes, shell "open", the folder
// browser, popup-menu tracking and message beeps. The user interface calls these wrappers; a test
// replaces the members of Seams() before it drives a window and calls ResetSeams() afterwards.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

namespace WTL {

struct UiSeams {
  std::function<int(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags)> messageBox;
  std::function<bool(HWND owner, const wchar_t* file, const wchar_t* params, int show)> shellOpen;
  // Shell "explore" of a folder.
  std::function<bool(HWND owner, const wchar_t* folder)> shellExplore;
  // True with the chosen file-system folder when the user confirmed one.
  std::function<bool(HWND owner, const wchar_t* title, const std::wstring& start, int rootCsidl, std::wstring& chosen)>
      browseFolder;
  // Answers like TrackPopupMenuEx: the command with TPM_RETURNCMD, else non-zero on success.
  std::function<UINT(HMENU menu, UINT flags, int x, int y, HWND owner)> trackPopupMenu;
  std::function<BOOL(UINT type)> messageBeep;
  // Shell_NotifyIconW.
  std::function<BOOL(DWORD action, NOTIFYICONDATAW* data)> notifyIcon;
};

// Process-wide; read on any thread, replaced only while no window uses them.
UiSeams& Seams();
void ResetSeams();

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);
bool ShellOpen(HWND owner, const wchar_t* file, const wchar_t* params = nullptr, int show = SW_SHOWNORMAL);
bool ShellExplore(HWND owner, const wchar_t* folder);
bool BrowseForFolder(HWND owner, const std::wstring& start, std::wstring& chosen,
                     int rootCsidl = 0x0011 /* CSIDL_DRIVES */, const wchar_t* title = nullptr);
UINT TrackPopup(HMENU menu, UINT flags, int x, int y, HWND owner);
BOOL PlayMessageBeep(UINT type);
BOOL NotifyIcon(DWORD action, NOTIFYICONDATAW* data);

// Whether the text is an http or https address (scheme compared without case).
bool IsWebAddress(const wchar_t* text);
bool IsWebAddress(const char* text);
// Opens a web address in the user's browser; anything but http and https only beeps.
bool OpenWebAddress(HWND owner, const wchar_t* url);

}  // namespace WTL
