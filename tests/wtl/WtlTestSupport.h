// Helpers of the window-layer tests: message pumping with a deadline, recorded seams, and a
// top-level window to parent test windows.
#pragma once

#include <windows.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace wtltest {

// Dispatches what is queued for the calling thread.
void Pump();
// Pumps until done() or the deadline; true when done() became true.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

// Replaces every seam with a recorder for the test's lifetime.
struct SeamRecorder {
  SeamRecorder();
  ~SeamRecorder();

  struct Box {
    std::wstring text, caption;
    UINT flags;
  };
  std::vector<Box> boxes;
  int boxAnswer = IDOK;
  std::vector<std::wstring> opened;
  std::vector<std::wstring> browseStarts;
  bool browseConfirms = true;
  std::wstring browseAnswer;
  struct Track {
    HMENU menu;
    UINT flags;
    int x, y;
    HWND owner;
  };
  std::vector<Track> tracks;
  UINT trackAnswer = 0;
  std::vector<UINT> beeps;
};

// A plain top-level window for parenting; destroyed with the object. Hidden unless asked: under
// Xvfb without a window manager, Wine waits 2 s for every visible top-level window it takes down.
class HostWindow {
public:
  explicit HostWindow(int width = 640, int height = 480, bool visible = false);
  ~HostWindow();
  HWND hwnd() const { return hwnd_; }

private:
  HWND hwnd_ = nullptr;
};

// A window object that takes its window down with it, as the program's owners do: without that, a
// parent destroyed after the object would send the child's last messages to a freed object.
template <class W>
class Owned : public W {
public:
  using W::W;
  ~Owned() {
    if (this->m_hWnd)
      ::DestroyWindow(this->m_hWnd);
  }
};

// A window object built in a buffer that is poisoned once the object is gone: a message that still
// reached the object would then crash on either architecture instead of reading stale fields.
template <class W>
class Poisoned {
public:
  Poisoned() : object_(new (storage_) W()) {}
  ~Poisoned() { Kill(); }
  Poisoned(const Poisoned&) = delete;
  Poisoned& operator=(const Poisoned&) = delete;
  W* operator->() { return object_; }
  void Kill() {
    if (!object_)
      return;
    object_->~W();
    object_ = nullptr;
    std::memset(storage_, 0xCC, sizeof(storage_));
  }

private:
  alignas(W) unsigned char storage_[sizeof(W)];
  W* object_;
};

}  // namespace wtltest
