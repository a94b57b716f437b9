// Shared pieces of the window tests: a stand-in main window that is observer 0 and holds the real
// panel (observer 1) and tab view (observer 2), screenshots, and the process's GUI object counts.
#pragma once

#include <windows.h>

#include <Messages.h>
#include <VxMsg.h>
#include <VxPanel.h>
#include <VxTabView.h>
#include <wtl/WindowImpl.h>

#include <functional>
#include <string>
#include <vector>

class TestFrame : public WTL::CWindowImpl<TestFrame, WTL::CWindow, WTL::CFrameWinTraits>, public VxMsgObserver {
public:
    DECLARE_WND_CLASS_EX(L"Vx.Test.Frame", CS_HREDRAW | CS_VREDRAW, COLOR_BTNFACE)

    ~TestFrame() override;
    // The frame first, then the panel and the tab view, laid out as the main window does; the
    // observer ids come out as 0, 1 and 2 only in a process where nothing registered before.
    bool Build(int width = 820, int height = 520);
    void Clear();

    struct Search {
        std::wstring keyword, kinds;
        int requester;
    };
    struct Box {
        std::wstring text;
        int flags;
        bool kept;
    };

    VxPanel panel;
    VxTabView tabs;
    std::vector<UINT> commands;
    std::vector<std::wstring> simpleUrls;
    std::vector<Search> searches;
    std::vector<Box> boxes;
    int activations = 0;

    void OnSimpleUrl(msg_simple_url* msg) { simpleUrls.push_back(msg->url); }
    void OnSearch(msg_search* msg) { searches.push_back({msg->keyword, msg->kinds, msg->requester}); }
    void OnBox(msg_message_box* msg) { boxes.push_back({msg->text, msg->flags, msg->keep != 0}); }

    BEGIN_MSG_MAP(TestFrame)
    if (VxMsgObserver::OnMessage(hWnd, uMsg, wParam, lParam, lResult))
        return TRUE;
    MESSAGE_HANDLER(WM_COMMAND, OnCommand)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
    END_MSG_MAP()

private:
    LRESULT OnCommand(UINT, WPARAM wParam, LPARAM, BOOL&) {
        commands.push_back(LOWORD(wParam));
        return 0;
    }
    LRESULT OnNotify(UINT, WPARAM, LPARAM lParam, BOOL& handled);
};

// Writes the screen area of a window (with a margin) to build/<arch>/screens/NAME.png.
bool Screenshot(HWND window, const std::string& name, int margin = 0);
bool ScreenshotRect(const RECT& screen, const std::string& name);
// "zh" when the built-in language is Chinese, else "en".
std::string LanguageTag();

struct GuiCounts {
    DWORD gdi, user;
    static GuiCounts Now();
    // The counting works here: five brushes and five menus show, and go again.
    static bool SeesNewObjects();
};

// Answers the modal dialog that the calling thread shows next: a timer finds the first visible
// dialog of the thread (other than skip), runs inspect on it, then posts message to it (nothing
// when message is 0: inspect closes the dialog itself). A dialog still open 10 s after that is
// ended with kModalTimedOut, so a test fails instead of hanging.
struct ModalDrive {
    std::function<void(HWND)> inspect;
    UINT message = WM_COMMAND;
    WPARAM wParam = IDOK;
    HWND skip = nullptr;
    std::function<bool(HWND)> accept;  // when set, only the dialogs it accepts are taken
    HWND dialog = nullptr;  // the dialog found
    DWORD deadline = 0;
};
const int kModalTimedOut = -7;

// Drives the next dialog while the object lives; one at a time per process.
class ModalDriver {
public:
    explicit ModalDriver(ModalDrive& drive);
    ~ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

private:
    UINT_PTR timer_;
};

// Runs a modal call with the drive; the call's result.
int RunDriven(ModalDrive& drive, const std::function<int()>& run);
