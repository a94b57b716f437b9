// The flat API of HTMLayout.dll. Every element call resolves its handle first, so a null or stale
// handle does nothing; changes to a shown document repaint its window later, in one go.
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "EngineWindow_win.h"
#include "Utf.h"
#include "htmlayout.h"

using namespace hl;

namespace {

std::u16string Wide(LPCWSTR s) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s), wcslen(s)) : std::u16string();
}

std::string Narrow(LPCWSTR s) {
  std::u16string w = Wide(s);
  return Utf16To8(w);
}

// After a change to an element: restyle now (so pictures are asked for at once), repaint later.
void Touch(Element* e) {
  Document* d = e->document();
  if (!d) return;
  d->UpdateStyles();
  if (auto* w = EngineWindow::FromElement(e)) w->Changed();
}

std::string LowerAscii(const char* s) {
  std::string r(s ? s : "");
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) EngineWindow::Register();
  return TRUE;
}

LPCWSTR HLAPI HTMLayoutClassNameW(void) { return EngineWindow::ClassName(); }

BOOL HLAPI HTMLayoutSetMediaType(HWND hwnd, LPCWSTR mediaType) {
  EngineWindow* w = EngineWindow::FromHwnd(hwnd);
  if (!w) return FALSE;
  w->SetMediaType(Narrow(mediaType));
  return TRUE;
}

BOOL HLAPI HTMLayoutLoadHtml(HWND hwnd, const BYTE* html, UINT size) {
  EngineWindow* w = EngineWindow::FromHwnd(hwnd);
  if (!w || (!html && size)) return FALSE;
  w->LoadHtml(reinterpret_cast<const char*>(html), html ? size : 0);
  return TRUE;
}

VOID HLAPI HTMLayoutSetCallback(HWND hwnd, HTMLAYOUT_NOTIFY callback, LPVOID param) {
  if (EngineWindow* w = EngineWindow::FromHwnd(hwnd)) w->SetCallback(callback, param);
}

BOOL HLAPI HTMLayoutDataReady(HWND hwnd, LPCWSTR uri, LPBYTE data, DWORD size) {
  EngineWindow* w = EngineWindow::FromHwnd(hwnd);
  if (!w || !uri || (!data && size)) return FALSE;
  return w->DataReady(Wide(uri), data, data ? size : 0) ? TRUE : FALSE;
}

HLRESULT HLAPI HTMLayout_UseElement(HELEMENT he) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  ++e->apiRefs;
  e->AddRef();
  return HL_OK;
}

HLRESULT HLAPI HTMLayout_UnuseElement(HELEMENT he) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (e->apiRefs <= 0) return HL_INVALID_PARAMETER;  // more releases than uses: ignored
  --e->apiRefs;
  e->Release();
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutGetRootElement(HWND hwnd, HELEMENT* root) {
  if (root) *root = nullptr;
  EngineWindow* w = EngineWindow::FromHwnd(hwnd);
  if (!w) return HL_INVALID_HWND;
  if (!root) return HL_INVALID_PARAMETER;
  *root = ToHandle(w->doc().root());
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutGetParentElement(HELEMENT he, HELEMENT* parent) {
  if (parent) *parent = nullptr;
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!parent) return HL_INVALID_PARAMETER;
  *parent = ToHandle(e->parent());
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutDeleteElement(HELEMENT he) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!e->parent()) return HL_INVALID_PARAMETER;
  Ref<Element> keep(e);  // a handle nobody holds stays valid until this call returns
  EngineWindow* w = EngineWindow::FromElement(e);
  if (Document* d = e->document()) d->DeleteElement(e);
  else e->Detach();
  if (w) w->Changed();
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutUpdateElement(HELEMENT he, BOOL remeasure) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  EngineWindow* w = EngineWindow::FromElement(e);
  if (!w) return HL_PASSIVE_HANDLE;
  w->doc().UpdateStyles();
  if (remeasure) w->EnsureLayout();
  w->Changed();
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutScrollToView(HELEMENT he, UINT flags) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  EngineWindow* w = EngineWindow::FromElement(e);
  if (!w) return HL_PASSIVE_HANDLE;
  w->ScrollToView(e, flags);
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutIsElementVisible(HELEMENT he, BOOL* visible) {
  if (visible) *visible = FALSE;
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!visible) return HL_INVALID_PARAMETER;
  Document* d = e->document();
  *visible = d && d->IsVisible(e) ? TRUE : FALSE;
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutSelectElements(HELEMENT he, LPCSTR selector, HL_ELEMENT_CALLBACK callback, LPVOID param) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  std::vector<Selector> sels;
  if (!selector || !callback || !ParseSelectorList(selector, sels)) return HL_INVALID_PARAMETER;
  SelectElements(e, sels, [&](Element* m) { return callback(ToHandle(m), param) != FALSE; });
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutVisitElements(HELEMENT he, LPCSTR tag, LPCSTR attribute, LPCWSTR value,
                                      HL_ELEMENT_CALLBACK callback, LPVOID param, DWORD depth) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!callback) return HL_INVALID_PARAMETER;
  std::string t = LowerAscii(tag);
  std::u16string v = Wide(value);
  VisitElements(e, static_cast<int>(std::min<DWORD>(depth, 100000)),
                [&](Element* c) {
                  if (!t.empty() && t != "*" && c->tag() != t) return false;
                  if (!attribute) return true;
                  const std::u16string* a = c->Attr(attribute);
                  return a && (!value || *a == v);
                },
                [&](Element* m) { return callback(ToHandle(m), param) != FALSE; });
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutGetAttributeByName(HELEMENT he, LPCSTR name, LPCWSTR* value) {
  if (value) *value = nullptr;
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!name || !value) return HL_INVALID_PARAMETER;
  const std::u16string* v = e->Attr(name);
  *value = v ? reinterpret_cast<LPCWSTR>(v->c_str()) : nullptr;
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutSetAttributeByName(HELEMENT he, LPCSTR name, LPCWSTR value) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!name || !*name) return HL_INVALID_PARAMETER;
  std::u16string v = Wide(value);
  // The program sets a picture's address again when the file behind it changed (a cover that
  // was downloaded anew): that loads it again.
  if (value && LowerAscii(name) == "src") e->imageReload = true;
  e->SetAttr(name, value ? v.c_str() : nullptr, v.size());
  Touch(e);
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutSetStyleAttribute(HELEMENT he, LPCSTR name, LPCWSTR value) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!name || !*name) return HL_INVALID_PARAMETER;
  e->SetRuntimeStyle(name, Narrow(value));
  Touch(e);
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutSetElementHtml(HELEMENT he, const BYTE* html, DWORD length, UINT where) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!html && length) return HL_INVALID_PARAMETER;
  const char* text = reinterpret_cast<const char*>(html);
  Document* d = e->document();
  bool ok = d ? d->SetElementHtml(e, text, html ? length : 0, static_cast<int>(where))
              : ReplaceContent(e, text, html ? length : 0, static_cast<int>(where));
  if (!ok) return HL_INVALID_PARAMETER;
  if (auto* w = EngineWindow::FromElement(e)) w->Changed();
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutSetElementInnerText16(HELEMENT he, LPCWSTR text, UINT length) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!text && length) return HL_INVALID_PARAMETER;
  const char16_t* t = reinterpret_cast<const char16_t*>(text);
  if (Document* d = e->document()) d->SetInnerText(e, t, text ? length : 0);
  else ReplaceText(e, t, text ? length : 0);
  if (auto* w = EngineWindow::FromElement(e)) w->Changed();
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutGetElementInnerTextCB(HELEMENT he, HL_TEXT_RECEIVER receiver, LPVOID param) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!receiver) return HL_INVALID_PARAMETER;
  std::string text = Utf16To8(InnerText(e));
  receiver(text.c_str(), static_cast<UINT>(text.size()), param);
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutGetElementState(HELEMENT he, UINT* state) {
  if (state) *state = 0;
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!state) return HL_INVALID_PARAMETER;
  *state = e->state();
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutSetElementState(HELEMENT he, UINT bitsToSet, UINT bitsToClear, BOOL update) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (Document* d = e->document()) d->SetState(e, bitsToSet, bitsToClear);
  else e->SetState(bitsToSet, bitsToClear);
  EngineWindow* w = EngineWindow::FromElement(e);
  if (w && update) w->Changed();
  return HL_OK;
}

HLRESULT HLAPI HTMLayoutAttachEventHandlerEx(HELEMENT he, HL_EVENT_PROC handler, LPVOID tag, UINT subscription) {
  Element* e = FromHandle(he);
  if (!e) return HL_INVALID_HANDLE;
  if (!handler) return HL_INVALID_PARAMETER;
  for (EventHandler& h : e->handlers) {
    if (h.proc == reinterpret_cast<void*>(handler) && h.tag == tag) {
      h.subscription = subscription;
      return HL_OK;
    }
  }
  e->handlers.push_back(EventHandler{reinterpret_cast<void*>(handler), tag, subscription});
  return HL_OK;
}

}  // extern "C"
