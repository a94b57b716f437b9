// The "HTMLAYOUT-W" window: one document, double-buffered painting, vertical scrolling, hover,
// link clicks and check buttons turned into behaviour events, and resource requests sent to the
// owner's notification callback.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "Document.h"
#include "htmlayout.h"

namespace hl {

inline HELEMENT ToHandle(Element* e) {
  return e ? reinterpret_cast<HELEMENT>(static_cast<uintptr_t>(e->handle())) : nullptr;
}
inline Element* FromHandle(HELEMENT h) {
  return Element::FromHandle(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)));
}

class EngineWindow : public ResourceHost {
 public:
  static const wchar_t* ClassName();
  static bool Register();
  static EngineWindow* FromHwnd(HWND hwnd);
  static EngineWindow* FromElement(Element* e);

  HWND hwnd() const { return hwnd_; }
  Document& doc() { return *doc_; }
  void SetCallback(HTMLAYOUT_NOTIFY cb, void* param) { callback_ = cb, callbackParam_ = param; }
  void SetMediaType(const std::string& media);
  void LoadHtml(const char* utf8, size_t len);
  bool DataReady(const std::u16string& uri, const uint8_t* data, size_t size);
  void Changed();
  void EnsureLayout();
  void ScrollToView(Element* e, unsigned flags);

  void RequestData(const std::u16string& uri, DataType type, Element* principal) override;
  std::shared_ptr<Image> DecodeImage(const uint8_t* data, size_t size) override;

 private:
  explicit EngineWindow(HWND hwnd);
  ~EngineWindow() override;
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Proc(UINT msg, WPARAM wp, LPARAM lp);
  void AddRef() { ++refs_; }
  void Release() {
    if (--refs_ == 0) delete this;
  }

  UINT Notify(NMHDR* hdr);
  void LoadFile(const std::u16string& uri);
  void Paint(HDC target, const RECT& update);
  void Repaint();
  void SetScroll(int y);
  LRESULT LocateElement(ATOM selector);
  int ViewHeight() const;
  void OnMouseMove(int x, int y);
  void OnButtonUp(int x, int y);
  void OnVScroll(int code);
  void TrackTip(Element* hover, int x, int y);
  void ShowTip();
  void HideTip();
  bool Dispatch(UINT cmd, Element* target);
  bool Alive() const { return !destroyed_; }

  HWND hwnd_;
  int refs_ = 1;  // the window's own; each message in progress holds another
  bool destroyed_ = false;
  std::unique_ptr<Document> doc_;
  HTMLAYOUT_NOTIFY callback_ = nullptr;
  void* callbackParam_ = nullptr;
  int scrollY_ = 0;
  int contentH_ = 0;
  bool scrollBar_ = false;
  bool inLayout_ = false;
  bool tracking_ = false;
  bool invalid_ = false;  // invalidated and not painted since: one InvalidateRect is enough
  bool deferred_ = false;  // a change waits for the paint timer
  DWORD lastPaint_;        // GetTickCount when the last WM_PAINT ended
  Ref<Element> pressed_;
  HWND tip_ = nullptr;    // the tooltip of title attributes, made when first needed
  Ref<Element> tipFor_;   // the element whose title shows or is about to show
  POINT tipAt_ = {0, 0};  // where the mouse rested, in screen coordinates
  bool tipShown_ = false;
  std::wstring tipText_;
  HDC backDc_ = nullptr;
  HBITMAP backBmp_ = nullptr;
  HGDIOBJ backOld_ = nullptr;
  int backW_ = 0, backH_ = 0;
};

}  // namespace hl
