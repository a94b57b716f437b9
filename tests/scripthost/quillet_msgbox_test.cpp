// vxapi2.MsgBox under Xvfb: a watcher thread finds the message box, reads what it shows and
// answers it, while the script waits for the answer.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "QuilletTestSupport.h"

using namespace qtest;

namespace {

struct SeenBox {
    bool found = false;
    std::wstring caption;
    std::wstring text;
    bool hasCancel = false;
    HWND owner = nullptr;
};

// Waits for a message box of this process, records it and presses the given button.
class BoxWatcher {
public:
    explicit BoxWatcher(int button, DWORD patienceMs = 10000) : button_(button) {
        thread_ = std::thread([this, patienceMs] { Watch(patienceMs); });
    }
    ~BoxWatcher() { Join(); }

    const SeenBox& Join() {
        if (thread_.joinable())
            thread_.join();
        return seen_;
    }

private:
    static BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
        wchar_t cls[32] = {};
        GetClassNameW(hwnd, cls, 32);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == GetCurrentProcessId() && std::wstring(cls) == L"#32770" && IsWindowVisible(hwnd)) {
            *reinterpret_cast<HWND*>(param) = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    void Watch(DWORD patienceMs) {
        DWORD start = GetTickCount();
        HWND box = nullptr;
        while (!box && GetTickCount() - start < patienceMs) {
            EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
            if (!box)
                Sleep(20);
        }
        if (!box)
            return;
        seen_.found = true;
        wchar_t buffer[256] = {};
        GetWindowTextW(box, buffer, 256);
        seen_.caption = buffer;
        buffer[0] = 0;
        GetDlgItemTextW(box, 0xFFFF, buffer, 256);  // the message box's text control
        seen_.text = buffer;
        seen_.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
        seen_.owner = GetWindow(box, GW_OWNER);
        HWND button = GetDlgItem(box, button_);
        if (button)
            SendMessageW(button, BM_CLICK, 0, 0);
        else
            PostMessageW(box, WM_COMMAND, button_, 0);
    }

    int button_;
    SeenBox seen_;
    std::thread thread_;
};

class MsgBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        script_ = LoadDelivered("probe.lua");
        ASSERT_NE(nullptr, script_);
    }
    void TearDown() override { VxReleaseScript(&script_); }
    Vellix::Script* script_ = nullptr;
};

TEST_F(MsgBoxTest, KindsAndAnswers) {
    struct Case {
        const char* call;
        int button;
        bool cancelShown;
        const char* answer;
    };
    const Case cases[] = {
        {"vxapi2.MsgBox('Proceed?', 'confirm')", IDOK, true, "[\"boolean\",true]"},
        {"vxapi2.MsgBox('Proceed?', 'CONFIRM')", IDCANCEL, true, "[\"boolean\",false]"},
        {"vxapi2.MsgBox('Proceed?', 'Confirm')", IDOK, true, "[\"boolean\",true]"},
        {"vxapi2.MsgBox('Proceed?')", IDOK, false, "[\"boolean\",true]"},
        {"vxapi2.MsgBox('Proceed?', 'other')", IDOK, false, "[\"boolean\",true]"},
        {"vxapi2.MsgBox('Proceed?', 1)", IDOK, false, "[\"boolean\",true]"},
    };
    for (const Case& c : cases) {
        BoxWatcher watcher(c.button);
        EXPECT_EQ(c.answer, Probe(script_, std::string("return ") + c.call)) << c.call;
        const SeenBox& seen = watcher.Join();
        ASSERT_TRUE(seen.found) << c.call;
        EXPECT_EQ(L"Proceed?", seen.text) << c.call;
        EXPECT_EQ(c.cancelShown, seen.hasCancel) << c.call;
    }
}

TEST_F(MsgBoxTest, TextCaptionAndOwner) {
    // The caption is kept as UTF-8; the text follows the script's code page.
    ASSERT_EQ(kScriptOk, script_->SetString("Title",
                                            "Vellix \xe2\x80\x93 Gr\xc3\xbc\xc3\x9f"
                                            "e"));
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(nullptr, owner);
    ASSERT_EQ(kScriptOk, script_->SetInteger("Window", static_cast<int>(reinterpret_cast<intptr_t>(owner))));
    struct Case {
        const char* call;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"vxapi2.MsgBox('caf\\xc3\\xa9')", L"caf\u00e9"},
        {"VxCP = 1252 local r = vxapi2.MsgBox('caf\\xe9') VxCP = nil return r", L"caf\u00e9"},
        {"vxapi2.Set('CodePage', 936) local r = vxapi2.MsgBox('\\xc4\\xe3') vxapi2.Set('CodePage') return r",
         L"\u4f60"},
        {"vxapi2.MsgBox(12)", L"12"},
    };
    for (const Case& c : cases) {
        BoxWatcher watcher(IDOK);
        std::string code = c.call;
        if (code.find("return") == std::string::npos)
            code = "return " + code;
        EXPECT_EQ("[\"boolean\",true]", Probe(script_, code)) << c.call;
        const SeenBox& seen = watcher.Join();
        ASSERT_TRUE(seen.found) << c.call;
        EXPECT_EQ(c.text, seen.text) << c.call;
        EXPECT_EQ(L"Vellix \u2013 Gr\u00fc\u00dfe", seen.caption) << c.call;
        EXPECT_EQ(owner, seen.owner) << c.call;
    }
    DestroyWindow(owner);
}

TEST_F(MsgBoxTest, NoTextShowsNothing) {
    BoxWatcher watcher(IDOK, 800);
    EXPECT_EQ("[\"boolean\",false]", Probe(script_, "return vxapi2.MsgBox({}, 'confirm')"));
    EXPECT_EQ("[\"boolean\",false]", Probe(script_, "return vxapi2.MsgBox()"));
    EXPECT_FALSE(watcher.Join().found);
}

}  // namespace
