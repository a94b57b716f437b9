// Windows of our own under Wine: message maps (handlers, the handled flag, chaining, alternate maps,
// forwarded notifications), superclassing, subclassing, contained windows, OnFinalMessage, class
// registration, centring, the message loop with filters and idle handlers, and the module.
#include "WtlTestSupport.h"

#include "wtl/MessageLoop.h"
#include "wtl/Module.h"
#include "wtl/Seams.h"
#include "wtl/WindowImpl.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <thread>
#include <vector>

using namespace WTL;
using wtltest::HostWindow;
using wtltest::Owned;
using wtltest::Poisoned;
using wtltest::SeamRecorder;

namespace {

enum : UINT {
  kOwn = WM_APP + 1,
  kBase = WM_APP + 2,
  kPassOn = WM_APP + 3,
  kNobody = WM_APP + 4,
  kDestroyInside = WM_APP + 5,
};

class BaseMap {
public:
  std::vector<std::string>* log = nullptr;

  BEGIN_MSG_MAP(BaseMap)
    MESSAGE_HANDLER(kBase, OnBase)
    MESSAGE_HANDLER(kPassOn, OnBase)
  END_MSG_MAP()

  LRESULT OnBase(UINT msg, WPARAM, LPARAM, BOOL&) {
    log->push_back("base");
    return msg == kBase ? 22 : 33;
  }
};

class MapWindow : public CWindowImpl<MapWindow>, public BaseMap {
public:
  DECLARE_WND_CLASS_EX(L"Vx.Test.MapWindow", CS_DBLCLKS, COLOR_BTNFACE)

  std::vector<std::string> calls;
  CContainedWindow edit{this, 1};

  MapWindow() { log = &calls; }

  BEGIN_MSG_MAP(MapWindow)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(kOwn, OnOwn)
    MESSAGE_HANDLER(kPassOn, OnPassOn)
    COMMAND_ID_HANDLER(42, OnCommand)
    COMMAND_HANDLER(43, BN_CLICKED, OnCommand)
    COMMAND_RANGE_HANDLER(50, 59, OnCommand)
    NOTIFY_HANDLER(7, NM_CLICK, OnNotify)
    NOTIFY_CODE_HANDLER(NM_RETURN, OnNotify)
    CHAIN_MSG_MAP(BaseMap)
  ALT_MSG_MAP(1)
    MESSAGE_HANDLER(WM_CHAR, OnEditChar)
    MESSAGE_HANDLER(kOwn, OnEditOwn)
  END_MSG_MAP()

  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    RECT rc = {0, 0, 100, 20};
    return edit.Create(L"EDIT", m_hWnd, &rc, nullptr, WS_CHILD | WS_VISIBLE, 0, 1001) ? 0 : -1;
  }
  LRESULT OnOwn(UINT, WPARAM, LPARAM, BOOL&) {
    calls.push_back("own");
    return 11;
  }
  LRESULT OnPassOn(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    calls.push_back("pass");
    bHandled = FALSE;
    return 99;
  }
  LRESULT OnCommand(WORD code, WORD id, HWND, BOOL&) {
    calls.push_back("command " + std::to_string(id) + "/" + std::to_string(code));
    return 1;
  }
  LRESULT OnNotify(int id, NMHDR* hdr, BOOL&) {
    calls.push_back("notify " + std::to_string(id) + "/" + std::to_string(static_cast<int>(hdr->code)));
    return 5;
  }
  // The edit's own map: 'x' is swallowed, everything else reaches the edit.
  LRESULT OnEditChar(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    calls.push_back("edit char");
    bHandled = wParam == 'x';
    return 0;
  }
  LRESULT OnEditOwn(UINT, WPARAM, LPARAM, BOOL&) {
    calls.push_back("edit own");
    return 77;
  }
};

struct MapCase {
  const char* name;
  UINT msg;
  WPARAM wParam;
  UINT_PTR notifyId;  // for WM_NOTIFY
  UINT notifyCode;
  LRESULT result;
  std::vector<std::string> calls;
};

TEST(MessageMap, RoutesByTable) {
  HostWindow host;
  Owned<MapWindow> w;
  ASSERT_TRUE(w.Create(host.hwnd(), RECT{0, 0, 200, 100}, L"map", WS_CHILD | WS_VISIBLE));
  const MapCase cases[] = {
      {"own handler", kOwn, 0, 0, 0, 11, {"own"}},
      {"chained base", kBase, 0, 0, 0, 22, {"base"}},
      {"handled flag cleared: next entry runs", kPassOn, 0, 0, 0, 33, {"pass", "base"}},
      {"unhandled: default processing", kNobody, 0, 0, 0, 0, {}},
      {"command by id, any code", WM_COMMAND, MAKEWPARAM(42, 0x300), 0, 0, 1, {"command 42/768"}},
      {"command by id and code", WM_COMMAND, MAKEWPARAM(43, BN_CLICKED), 0, 0, 1, {"command 43/0"}},
      {"command with another code", WM_COMMAND, MAKEWPARAM(43, BN_DBLCLK), 0, 0, 0, {}},
      {"command range", WM_COMMAND, MAKEWPARAM(55, 0), 0, 0, 1, {"command 55/0"}},
      {"command outside the range", WM_COMMAND, MAKEWPARAM(60, 0), 0, 0, 0, {}},
      {"notify by id and code", WM_NOTIFY, 7, 7, static_cast<UINT>(NM_CLICK), 5, {"notify 7/-2"}},
      {"notify with another code", WM_NOTIFY, 7, 7, static_cast<UINT>(NM_DBLCLK), 0, {}},
      {"notify by code", WM_NOTIFY, 9, 9, static_cast<UINT>(NM_RETURN), 5, {"notify 9/-4"}},
  };
  for (const MapCase& c : cases) {
    w.calls.clear();
    NMHDR hdr = {w.m_hWnd, c.notifyId, c.notifyCode};
    LPARAM lp = c.msg == WM_NOTIFY ? reinterpret_cast<LPARAM>(&hdr) : 0;
    LRESULT r = SendMessageW(w.m_hWnd, c.msg, c.wParam, lp);
    EXPECT_EQ(r, c.result) << c.name;
    EXPECT_EQ(w.calls, c.calls) << c.name;
  }
}

TEST(MessageMap, ContainedWindowGoesThroughAlternateMapFirst) {
  HostWindow host;
  Owned<MapWindow> w;
  ASSERT_TRUE(w.Create(host.hwnd(), RECT{0, 0, 200, 100}, L"map", WS_CHILD | WS_VISIBLE));
  ASSERT_TRUE(w.edit.m_hWnd);
  SendMessageW(w.edit.m_hWnd, WM_CHAR, 'x', 0);
  SendMessageW(w.edit.m_hWnd, WM_CHAR, 'y', 0);
  EXPECT_EQ(w.edit.GetWindowText(), L"y");
  // Map 1 answers for the edit; map 0's handler of the same message is not consulted.
  w.calls.clear();
  EXPECT_EQ(SendMessageW(w.edit.m_hWnd, kOwn, 0, 0), 77);
  EXPECT_EQ(w.calls, (std::vector<std::string>{"edit own"}));
  // The edit is still a real edit for everything the map leaves alone.
  SetWindowTextW(w.edit.m_hWnd, L"plain");
  EXPECT_EQ(w.edit.GetWindowText(), L"plain");
  HWND editHwnd = w.edit.m_hWnd;
  w.DestroyWindow();
  EXPECT_EQ(w.edit.m_hWnd, nullptr) << "the contained window lets go at its WM_NCDESTROY";
  EXPECT_FALSE(IsWindow(editHwnd));
}

class Panel : public CWindowImpl<Panel> {
public:
  BEGIN_MSG_MAP(Panel)
    FORWARD_NOTIFICATIONS()
  END_MSG_MAP()
};

TEST(MessageMap, ForwardedNotificationsReachTheParent) {
  HostWindow host;
  Owned<MapWindow> frame;
  ASSERT_TRUE(frame.Create(host.hwnd(), RECT{0, 0, 300, 200}, L"frame", WS_CHILD | WS_VISIBLE));
  Owned<Panel> panel;
  ASSERT_TRUE(panel.Create(frame.m_hWnd, RECT{0, 0, 200, 100}));
  HWND button = CreateWindowExW(0, L"BUTTON", L"go", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 50, 20,
                                panel.m_hWnd, reinterpret_cast<HMENU>(42), GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(button);
  frame.calls.clear();
  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_EQ(frame.calls, (std::vector<std::string>{"command 42/0"}));
}

class DigitlessEdit : public CWindowImpl<DigitlessEdit> {
public:
  DECLARE_WND_SUPERCLASS(L"Vx.Test.DigitlessEdit", L"EDIT")
  BEGIN_MSG_MAP(DigitlessEdit)
    MESSAGE_HANDLER(WM_CHAR, OnChar)
  END_MSG_MAP()
  LRESULT OnChar(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    bHandled = wParam >= '0' && wParam <= '9';
    return 0;
  }
};

TEST(WindowImpl, SuperclassKeepsTheBaseBehaviour) {
  HostWindow host;
  Owned<DigitlessEdit> box;
  ASSERT_TRUE(box.Create(host.hwnd(), RECT{0, 0, 120, 24}, L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 5));
  wchar_t cls[64] = {};
  GetClassNameW(box.m_hWnd, cls, 64);
  EXPECT_STREQ(cls, L"Vx.Test.DigitlessEdit");
  for (wchar_t ch : std::wstring(L"a1b2"))
    SendMessageW(box.m_hWnd, WM_CHAR, ch, 0);
  EXPECT_EQ(box.GetWindowText(), L"ab");
  EXPECT_EQ(SendMessageW(box.m_hWnd, EM_GETLIMITTEXT, 0, 0) > 0, true) << "edit messages still work";
  EXPECT_EQ(GetDlgCtrlID(box.m_hWnd), 5);
}

// Counts what passes through a plain subclass put on top of ours, then hands it on.
WNDPROC g_belowCounter = nullptr;
int g_counted = 0;
LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  ++g_counted;
  return CallWindowProcW(g_belowCounter, hwnd, msg, wp, lp);
}

// The object goes first; its window lives on and must behave as its base class from then on.
TEST(WindowImpl, ObjectDestroyedBeforeItsWindow) {
  HostWindow host;
  const DWORD editStyle = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL;
  struct Case {
    const char* name;
    bool subclassedAbove;  // someone subclassed the window after us, so our code stays in its chain
  };
  const Case cases[] = {{"window of our own class", false}, {"superclassed edit", false},
                        {"subclassed edit", false}, {"subclassed edit, subclassed again above us", true}};
  for (int i = 0; i < 4; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    HWND hwnd = nullptr;
    {
      Poisoned<MapWindow> own;
      Poisoned<DigitlessEdit> edit;
      if (i == 0) {
        ASSERT_TRUE(own->Create(host.hwnd(), RECT{0, 0, 200, 100}, L"map", WS_CHILD | WS_VISIBLE));
        hwnd = own->m_hWnd;
      } else if (i == 1) {
        ASSERT_TRUE(edit->Create(host.hwnd(), RECT{0, 0, 120, 24}, L"", editStyle));
        hwnd = edit->m_hWnd;
      } else {
        hwnd = CreateWindowExW(0, L"EDIT", L"", editStyle, 0, 0, 120, 24, host.hwnd(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(edit->SubclassWindow(hwnd));
      }
      if (c.subclassedAbove) {
        g_counted = 0;
        g_belowCounter = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
      }
      SendMessageW(hwnd, WM_CHAR, '1', 0);  // an edit of ours swallows digits
      own.Kill();
      edit.Kill();
    }
    if (i == 0) {
      EXPECT_EQ(SendMessageW(hwnd, kOwn, 0, 0), 0) << "the map is gone: default processing";
    } else {
      for (wchar_t ch : std::wstring(L"a2"))
        SendMessageW(hwnd, WM_CHAR, ch, 0);
      wchar_t text[16] = {};
      GetWindowTextW(hwnd, text, 16);
      EXPECT_STREQ(text, L"a2") << "a plain edit again";
    }
    if (c.subclassedAbove) {
      EXPECT_GE(g_counted, 3) << "the later subclass still sees every message";
    }
    EXPECT_TRUE(DestroyWindow(hwnd));
  }
}

class Recorder : public CWindowImpl<Recorder> {
public:
  std::vector<UINT> seen;
  BEGIN_MSG_MAP(Recorder)
    MESSAGE_HANDLER(kOwn, OnOwn)
  END_MSG_MAP()
  LRESULT OnOwn(UINT msg, WPARAM, LPARAM, BOOL&) {
    seen.push_back(msg);
    return 3;
  }
};

TEST(WindowImpl, SubclassAndUnsubclass) {
  HostWindow host;
  HWND st = CreateWindowExW(0, L"STATIC", L"text", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, host.hwnd(), nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  LONG_PTR original = GetWindowLongPtrW(st, GWLP_WNDPROC);
  Recorder r;
  ASSERT_TRUE(r.SubclassWindow(st));
  EXPECT_FALSE(r.SubclassWindow(st)) << "one window per object";
  EXPECT_EQ(SendMessageW(st, kOwn, 0, 0), 3);
  wchar_t text[16] = {};
  GetWindowTextW(st, text, 16);
  EXPECT_STREQ(text, L"text") << "the static's own procedure still answers";
  EXPECT_EQ(r.UnsubclassWindow(), st);
  EXPECT_EQ(GetWindowLongPtrW(st, GWLP_WNDPROC), original);
  EXPECT_EQ(SendMessageW(st, kOwn, 0, 0), 0);
  EXPECT_EQ(r.seen.size(), 1u);

  // Someone subclassed after us: we do not pull the window from under them unless forced.
  ASSERT_TRUE(r.SubclassWindow(st));
  LONG_PTR ours = GetWindowLongPtrW(st, GWLP_WNDPROC);
  SetWindowLongPtrW(st, GWLP_WNDPROC, original);
  EXPECT_EQ(r.UnsubclassWindow(), nullptr);
  EXPECT_EQ(r.m_hWnd, st);
  SetWindowLongPtrW(st, GWLP_WNDPROC, ours);
  EXPECT_EQ(r.UnsubclassWindow(TRUE), st);
}

// A heap window that deletes itself after its last message and reports the order of events.
class SelfDeleting : public CWindowImpl<SelfDeleting> {
public:
  explicit SelfDeleting(std::vector<std::string>* log, bool failCreate = false) : log_(log), failCreate_(failCreate) {}
  BEGIN_MSG_MAP(SelfDeleting)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(kDestroyInside, OnDestroyInside)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
  END_MSG_MAP()
  LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&) { return failCreate_ ? -1 : 0; }
  LRESULT OnDestroyInside(UINT, WPARAM, LPARAM, BOOL&) {
    DestroyWindow();
    // The object must still be alive here: the final message waits for this handler.
    log_->push_back("handler end");
    return 0;
  }
  LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    log_->push_back("destroy");
    bHandled = FALSE;
    return 0;
  }
  void OnFinalMessage(HWND hwnd) override {
    log_->push_back(m_hWnd == nullptr ? "final" : "final with a handle");
    delete this;
  }

private:
  std::vector<std::string>* log_;
  bool failCreate_;
};

TEST(WindowImpl, OnFinalMessageRunsAfterTheOutermostHandler) {
  HostWindow host;
  std::vector<std::string> log;
  auto* w = new SelfDeleting(&log);
  HWND hwnd = w->Create(host.hwnd(), RECT{0, 0, 10, 10});
  ASSERT_TRUE(hwnd);
  SendMessageW(hwnd, kDestroyInside, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"destroy", "handler end", "final"}));
  EXPECT_FALSE(IsWindow(hwnd));

  log.clear();
  w = new SelfDeleting(&log);
  hwnd = w->Create(host.hwnd(), RECT{0, 0, 10, 10});
  ASSERT_TRUE(hwnd);
  DestroyWindow(hwnd);
  EXPECT_EQ(log, (std::vector<std::string>{"destroy", "final"}));
}

TEST(WindowImpl, FailedCreationStillEndsWithTheFinalMessage) {
  HostWindow host;
  std::vector<std::string> log;
  auto* w = new SelfDeleting(&log, true);
  EXPECT_EQ(w->Create(host.hwnd(), RECT{0, 0, 10, 10}), nullptr);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "final");
}

class FrameLike : public CWindowImpl<FrameLike, CWindow, CFrameWinTraits> {
public:
  DECLARE_WND_CLASS_EX(L"Vx.Test.Frame", 0, COLOR_BTNFACE)
  FrameLike() { GetWndClassInfo().wc.hIcon = LoadIconW(nullptr, IDI_INFORMATION); }
  BEGIN_MSG_MAP(FrameLike)
  END_MSG_MAP()
};

TEST(WindowImpl, ClassRegistrationAndTraits) {
  FrameLike frame;
  ASSERT_TRUE(frame.Create(nullptr, RECT{0, 0, 300, 200}, L"frame"));
  EXPECT_EQ(FindWindowW(L"Vx.Test.Frame", nullptr), frame.m_hWnd);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"Vx.Test.Frame", &wc));
  EXPECT_EQ(wc.style, 0u);
  EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  EXPECT_EQ(wc.hIcon, LoadIconW(nullptr, IDI_INFORMATION)) << "an icon set before the first Create is registered";
  EXPECT_EQ(frame.GetStyle() & WS_OVERLAPPEDWINDOW, static_cast<DWORD>(WS_OVERLAPPEDWINDOW)) << "style from the traits";
  // Two windows of one class share the registration.
  FrameLike second;
  ASSERT_TRUE(second.Create(nullptr, RECT{0, 0, 100, 100}, L"second", WS_POPUP));
  EXPECT_EQ(second.GetStyle() & WS_OVERLAPPEDWINDOW, 0u) << "an explicit style wins over the traits";
  second.DestroyWindow();
  frame.DestroyWindow();
}

TEST(Window, CenterWindow) {
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  POINT origin = {0, 0};
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &mi));
  const RECT& work = mi.rcWork;

  Owned<FrameLike> alone;
  ASSERT_TRUE(alone.Create(nullptr, RECT{0, 0, 300, 200}, L"alone", WS_POPUP));
  ASSERT_TRUE(alone.CenterWindow());
  RECT rc;
  alone.GetWindowRect(&rc);
  EXPECT_EQ(rc.left, (work.left + work.right - 300) / 2);
  EXPECT_EQ(rc.top, (work.top + work.bottom - 200) / 2);

  HostWindow owner(400, 300, true);
  SetWindowPos(owner.hwnd(), nullptr, 100, 120, 400, 300, SWP_NOZORDER);
  Owned<FrameLike> owned;
  ASSERT_TRUE(owned.Create(owner.hwnd(), RECT{0, 0, 200, 100}, L"owned", WS_POPUP));
  ASSERT_TRUE(owned.CenterWindow());
  owned.GetWindowRect(&rc);
  EXPECT_EQ(rc.left, 100 + (400 - 200) / 2);
  EXPECT_EQ(rc.top, 120 + (300 - 100) / 2);

  // Kept inside the work area when the owner hangs over its edge.
  SetWindowPos(owner.hwnd(), nullptr, work.left - 300, 120, 400, 300, SWP_NOZORDER);
  ASSERT_TRUE(owned.CenterWindow());
  owned.GetWindowRect(&rc);
  EXPECT_EQ(rc.left, work.left);

  Owned<Recorder> child;
  ASSERT_TRUE(child.Create(owner.hwnd(), RECT{0, 0, 40, 20}));
  ASSERT_TRUE(child.CenterWindow());
  RECT client;
  GetClientRect(owner.hwnd(), &client);
  child.GetWindowRect(&rc);
  MapWindowPoints(nullptr, owner.hwnd(), reinterpret_cast<POINT*>(&rc), 2);
  EXPECT_EQ(rc.left, (client.right - 40) / 2);
  EXPECT_EQ(rc.top, (client.bottom - 20) / 2);
}

// Loop tests post to this window and read what it received.
class Sink : public CWindowImpl<Sink> {
public:
  std::vector<std::string>* log = nullptr;
  BEGIN_MSG_MAP(Sink)
    MESSAGE_HANDLER(WM_APP, OnApp)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
  END_MSG_MAP()
  LRESULT OnApp(UINT, WPARAM wParam, LPARAM, BOOL&) {
    log->push_back("window " + std::to_string(wParam));
    return 0;
  }
  LRESULT OnMouseMove(UINT, WPARAM, LPARAM, BOOL&) {
    log->push_back("mouse move");
    return 0;
  }
  LRESULT OnTimer(UINT, WPARAM wParam, LPARAM, BOOL&) {
    KillTimer(wParam);
    log->push_back("timer");
    return 0;
  }
};

class NamedFilter : public CMessageFilter {
public:
  NamedFilter(const char* name, std::vector<std::string>* log) : name_(name), log_(log) {}
  std::function<BOOL(MSG*)> action;
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message != WM_APP)
      return FALSE;
    log_->push_back(name_ + " " + std::to_string(msg->wParam));
    return action ? action(msg) : FALSE;
  }

private:
  std::string name_;
  std::vector<std::string>* log_;
};

TEST(MessageLoop, FiltersNewestFirstAndSwallowing) {
  std::vector<std::string> log;
  Sink sink;
  sink.log = &log;
  ASSERT_TRUE(sink.Create(HWND_MESSAGE));
  CMessageLoop loop;
  NamedFilter older("older", &log), newer("newer", &log);
  ASSERT_TRUE(loop.AddMessageFilter(&older));
  ASSERT_TRUE(loop.AddMessageFilter(&newer));
  EXPECT_FALSE(loop.AddMessageFilter(&newer)) << "a filter is added once";
  newer.action = [&](MSG* m) {
    if (m->wParam == 2)
      loop.RemoveMessageFilter(&older);  // removed while the filters are being walked
    return m->wParam == 1 ? TRUE : FALSE;
  };
  for (WPARAM i = 0; i < 4; ++i)
    sink.PostMessage(WM_APP, i);
  PostQuitMessage(5);
  EXPECT_EQ(loop.Run(), 5);
  EXPECT_EQ(log, (std::vector<std::string>{"newer 0", "older 0", "window 0", "newer 1", "newer 2", "window 2",
                                           "newer 3", "window 3"}));
  sink.DestroyWindow();
}

class ScriptedIdle : public CIdleHandler {
public:
  std::function<BOOL(int)> step;
  int calls = 0;
  BOOL OnIdle() override { return step(++calls); }
};

TEST(MessageLoop, IdleHandlersRunWhenTheQueueEmpties) {
  std::vector<std::string> log;
  Sink sink;
  sink.log = &log;
  ASSERT_TRUE(sink.Create(HWND_MESSAGE));
  CMessageLoop loop;
  ScriptedIdle idle;
  idle.step = [&](int call) {
    log.push_back("idle " + std::to_string(call));
    switch (call) {
    case 1:
      return TRUE;  // asks for another call before the loop waits
    case 2:
      sink.PostMessage(WM_APP, 10);
      break;
    case 3:
      // A mouse move does not make the loop idle again; the timer does.
      sink.PostMessage(WM_MOUSEMOVE, 0);
      sink.SetTimer(1, 50);
      break;
    default:
      PostQuitMessage(0);
      break;
    }
    return FALSE;
  };
  ASSERT_TRUE(loop.AddIdleHandler(&idle));
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"idle 1", "idle 2", "window 10", "idle 3", "mouse move", "timer",
                                           "idle 4"}));
  EXPECT_TRUE(loop.RemoveIdleHandler(&idle));
  EXPECT_FALSE(loop.RemoveIdleHandler(&idle));
  sink.DestroyWindow();
}

TEST(Module, OneMessageLoopPerThread) {
  CAppModule& module = AppModule();
  size_t before = module.GetMessageLoopCount();
  CMessageLoop mine, again;
  ASSERT_TRUE(module.AddMessageLoop(&mine));
  EXPECT_FALSE(module.AddMessageLoop(&again)) << "the thread already has a loop";
  EXPECT_EQ(module.GetMessageLoop(), &mine);

  // Another thread's loop is found under that thread's id while it runs.
  CMessageLoop theirs;
  DWORD theirId = 0;
  bool theirsFound = false, theirsRemoved = false;
  HANDLE added = CreateEventW(nullptr, TRUE, FALSE, nullptr), checked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread t([&] {
    theirId = GetCurrentThreadId();
    theirsFound = module.AddMessageLoop(&theirs) && module.GetMessageLoop() == &theirs;
    SetEvent(added);
    WaitForSingleObject(checked, INFINITE);
    theirsRemoved = module.RemoveMessageLoop();
  });
  WaitForSingleObject(added, INFINITE);
  EXPECT_TRUE(theirsFound);
  EXPECT_EQ(module.GetMessageLoop(theirId), &theirs);
  EXPECT_EQ(module.GetMessageLoop(), &mine);
  EXPECT_EQ(module.GetMessageLoopCount(), before + 2);
  SetEvent(checked);
  t.join();
  CloseHandle(added);
  CloseHandle(checked);
  EXPECT_TRUE(theirsRemoved);
  EXPECT_EQ(module.GetMessageLoop(theirId), nullptr);
  EXPECT_TRUE(module.RemoveMessageLoop());
  EXPECT_FALSE(module.RemoveMessageLoop());
  EXPECT_EQ(module.GetMessageLoop(), nullptr);
}

TEST(Module, LockSerialisesThreads) {
  long counter = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int k = 0; k < 20000; ++k) {
        CModuleLock guard;
        long v = counter;
        if ((k & 1023) == 0)
          Sleep(0);
        counter = v + 1;
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(counter, 80000);
}

TEST(Seams, WrappersReachTheReplacements) {
  SeamRecorder seams;
  seams.boxAnswer = IDYES;
  EXPECT_EQ(ShowMessageBox(nullptr, L"Ensure exit?", L"Vellix", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), IDYES);
  ASSERT_EQ(seams.boxes.size(), 1u);
  EXPECT_EQ(seams.boxes[0].text, L"Ensure exit?");
  EXPECT_EQ(seams.boxes[0].caption, L"Vellix");
  EXPECT_EQ(seams.boxes[0].flags, 0x124u);

  EXPECT_TRUE(ShellOpen(nullptr, L"http://service.invalid/site_list.html"));
  EXPECT_EQ(seams.opened, (std::vector<std::wstring>{L"http://service.invalid/site_list.html"}));

  std::wstring chosen = L"unchanged";
  seams.browseAnswer = L"C:\\Comics";
  EXPECT_TRUE(BrowseForFolder(nullptr, L"C:\\Old\\", chosen));
  EXPECT_EQ(chosen, L"C:\\Comics");
  seams.browseConfirms = false;
  chosen = L"unchanged";
  EXPECT_FALSE(BrowseForFolder(nullptr, L"C:\\Old\\", chosen));
  EXPECT_EQ(chosen, L"unchanged");
  EXPECT_EQ(seams.browseStarts, (std::vector<std::wstring>{L"C:\\Old\\", L"C:\\Old\\"}));

  HMENU menu = CreatePopupMenu();
  seams.trackAnswer = 41200;
  EXPECT_EQ(TrackPopup(menu, TPM_RETURNCMD | TPM_VERTICAL, 10, 20, nullptr), 41200u);
  ASSERT_EQ(seams.tracks.size(), 1u);
  EXPECT_EQ(seams.tracks[0].menu, menu);
  EXPECT_EQ(seams.tracks[0].flags, 0x140u);
  EXPECT_EQ(seams.tracks[0].y, 20);
  DestroyMenu(menu);

  PlayMessageBeep(0);
  EXPECT_EQ(seams.beeps, (std::vector<UINT>{0}));
  // An emptied seam falls back to the real call instead of throwing.
  Seams().messageBeep = nullptr;
  EXPECT_NO_THROW(PlayMessageBeep(0));
}

}  // namespace
