// Helpers of the window-layer tests: message pumping with a deadline, recorded seams, and a
// top-level window to parent test windows.
#pragma once

#include <windows.h>

#include <functional>
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

}  // namespace wtltest
