// Registration of the window classes of CWindowImpl.
#include "wtl/WindowImpl.h"

#include <cwchar>

namespace WTL {

CWndClassInfo CWndClassInfo::Own(LPCWSTR name, UINT style, int bkgndColor) {
  CWndClassInfo info = {};
  info.wc.cbSize = sizeof(info.wc);
  info.wc.style = style;
  info.wc.hbrBackground = bkgndColor < 0 ? nullptr : reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(bkgndColor + 1));
  info.wc.lpszClassName = name;
  info.cursorId = IDC_ARROW;
  return info;
}

CWndClassInfo CWndClassInfo::Super(LPCWSTR name, LPCWSTR origName) {
  CWndClassInfo info = {};
  info.wc.cbSize = sizeof(info.wc);
  info.wc.lpszClassName = name;
  info.origName = origName;
  return info;
}

ATOM CWndClassInfo::Register(WNDPROC startProc, WNDPROC* superProc) {
  CModuleLock guard;
  if (!atom) {
    HINSTANCE instance = AppModule().GetModuleInstance();
    WNDCLASSEXW reg = wc;
    if (origName) {
      WNDCLASSEXW base = {};
      base.cbSize = sizeof(base);
      if (!(origInstance && ::GetClassInfoExW(origInstance, origName, &base)) &&
          !::GetClassInfoExW(instance, origName, &base) && !::GetClassInfoExW(nullptr, origName, &base)) {
        return 0;
      }
      origProc = base.lpfnWndProc;
      reg = base;
      reg.cbSize = sizeof(reg);
      reg.lpszMenuName = nullptr;
    } else if (!reg.hCursor && cursorId) {
      reg.hCursor = ::LoadCursorW(nullptr, cursorId);
    }
    reg.lpfnWndProc = startProc;
    reg.hInstance = instance;
    if (wc.lpszClassName) {
      reg.lpszClassName = wc.lpszClassName;
    } else {
      std::swprintf(generatedName, sizeof(generatedName) / sizeof(generatedName[0]), L"Vx:%p",
                    static_cast<void*>(this));
      reg.lpszClassName = generatedName;
    }
    if (wc.hIcon)
      reg.hIcon = wc.hIcon;
    if (wc.hIconSm)
      reg.hIconSm = wc.hIconSm;
    // A name already registered by someone else fails: that class would not route to our objects.
    atom = ::RegisterClassExW(&reg);
    if (!atom)
      return 0;
  }
  *superProc = origName ? origProc : ::DefWindowProcW;
  return atom;
}

}  // namespace WTL
