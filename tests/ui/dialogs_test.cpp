// The about, example and tip dialogs, run modally as the program runs them: a thread timer in
// their modal loop reads the dialog, shoots it and posts the message that closes it.
#include "UiTestSupport.h"
#include "WtlTestSupport.h"

#include <AboutDlg.h>
#include <AppContext.h>
#include <AppDatabase.h>
#include <CoreTestSupport.h>
#include <LanguageTranslator.h>
#include <TipDlg.h>
#include <UiSeams.h>
#include <common/CodePage.h>
#include <common/Url.h>
#include <wtl/Seams.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

struct Environment : ::testing::Environment {
    void SetUp() override {
        folder.reset(new ScopedAppFolder());
        ctx.reset(new AppContext());
        ASSERT_TRUE(ctx->Database().Open());
    }
    void TearDown() override {
        ctx.reset();
        folder.reset();
    }
    std::unique_ptr<ScopedAppFolder> folder;
    std::unique_ptr<AppContext> ctx;
};
Environment* g_env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

Brimholt::LanguageTranslator& Texts() {
    return g_env->ctx->Translator();
}

std::wstring ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    int length = item ? GetWindowTextLengthW(item) : 0;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(item, &text[0], length + 1)));
    return text;
}

std::wstring WindowTitle(HWND w) {
    wchar_t text[256] = L"";
    GetWindowTextW(w, text, 256);
    return text;
}

// A left click on the start of a link's text, as the user makes it.
void ClickLink(HWND dialog, int id) {
    HWND link = GetDlgItem(dialog, id);
    RECT r = {};
    GetClientRect(link, &r);
    LPARAM at = MAKELPARAM(3, (r.bottom - r.top) / 2);
    SendMessageW(link, WM_MOUSEMOVE, 0, at);
    SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(link, WM_LBUTTONUP, 0, at);
}

// Inside the dialog's modal loop: what is queued (paints included) is handled before the shot.
void Shoot(HWND dialog, const std::string& name) {
    const DWORD until = GetTickCount() + 400;
    while (GetTickCount() < until) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageW(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        Sleep(20);
    }
    EXPECT_TRUE(Screenshot(dialog, name + "_" + LanguageTag(), 4)) << name;
}

struct Close {
    const char* name;
    UINT message;
    WPARAM wParam;
    int result;
};

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetUiSeams(); }
    void TearDown() override { ResetUiSeams(); }
    wtltest::SeamRecorder seams;
    wtltest::HostWindow host;
};

// ---------------------------------------------------------------------------------------------
// About

TEST_F(DialogsTest, AboutTextsAndCredits) {
    std::wstring caption, name, maker, libraries, website, credits, ok;
    int lines = 0, firstShown = -1;
    bool lastLineShown = false;
    ModalDrive d;
    d.inspect = [&](HWND dlg) {
        // Every credit shows without scrolling, each on a line of its own.
        HWND edit = GetDlgItem(dlg, IDC_ABOUT_CREDITS);
        lines = static_cast<int>(SendMessageW(edit, EM_GETLINECOUNT, 0, 0));
        firstShown = static_cast<int>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
        LRESULT lastStart = SendMessageW(edit, EM_LINEINDEX, 6, 0);
        LRESULT at = SendMessageW(edit, EM_POSFROMCHAR, static_cast<WPARAM>(lastStart), 0);
        RECT client = {};
        GetClientRect(edit, &client);
        lastLineShown = lastStart >= 0 && at != -1 && static_cast<short>(HIWORD(at)) >= 0 &&
                        static_cast<short>(HIWORD(at)) + 8 < client.bottom;
        caption = WindowTitle(dlg);
        name = ItemText(dlg, IDC_ABOUT_NAME);
        maker = ItemText(dlg, IDC_ABOUT_MAKER);
        libraries = ItemText(dlg, IDC_ABOUT_LIBRARIES);
        website = ItemText(dlg, IDC_ABOUT_LINK);
        credits = ItemText(dlg, IDC_ABOUT_CREDITS);
        ok = ItemText(dlg, IDOK);
    };
    EXPECT_EQ(RunDriven(d, [&] { return Dialogs().about(host.hwnd()); }), 1);
    ASSERT_NE(d.dialog, nullptr);
    EXPECT_EQ(caption, Texts().Text(L"AboutDlg", L"Caption"));
    EXPECT_EQ(name, Texts().Text(L"Global", L"Name") + L" 2.5.0.35");
    EXPECT_EQ(maker, Texts().Text(L"AboutDlg", L"1211"));
    EXPECT_EQ(libraries, Texts().Text(L"AboutDlg", L"1212"));
    EXPECT_EQ(website, Texts().Text(L"AboutDlg", L"1214"));
    EXPECT_EQ(ok, Texts().DefaultControlText(IDOK));
    if (LanguageTag() == "en") {
        EXPECT_EQ(caption, L"About Vellix");
        EXPECT_EQ(website, L"Vellix Website");
    }
    // One line per library, in this order, each "Name(version): address" and CR LF.
    const wchar_t* const names[] = {L"WTL(9.1)",       L"Lua(5.2.2)",          L"zlib(1.2.8)",   L"SQLite(3.8.1)",
                                    L"Minizip(1.01h)", L"HTMLayout(3.3.3.13)", L"Duktype(2.2.0)"};
    size_t pos = 0;
    for (const wchar_t* library : names) {
        size_t end = credits.find(L"\r\n", pos);
        ASSERT_NE(end, std::wstring::npos) << library;
        std::wstring line = credits.substr(pos, end - pos);
        std::wstring head = std::wstring(library) + L": ";
        EXPECT_EQ(line.compare(0, head.size(), head), 0) << line;
        EXPECT_TRUE(WTL::IsWebAddress(line.substr(std::min(head.size(), line.size())).c_str())) << line;
        pos = end + 2;
    }
    EXPECT_EQ(pos, credits.size()) << "nothing after the last line";
    EXPECT_EQ(lines, 8) << "seven credits and the empty line after the last CR LF";
    EXPECT_EQ(firstShown, 0);
    EXPECT_TRUE(lastLineShown);
}

TEST_F(DialogsTest, AboutLinkOpensTheServiceRoot) {
    ModalDrive d;
    d.inspect = [](HWND dlg) { ClickLink(dlg, IDC_ABOUT_LINK); };
    EXPECT_EQ(RunDriven(d, [&] { return Dialogs().about(host.hwnd()); }), 1);
    ASSERT_EQ(seams.opened.size(), 1u);
    EXPECT_EQ(seams.opened[0], ToWide(MakeApiUrl(nullptr), CP_UTF8));
    EXPECT_EQ(seams.opened[0], ToWide(ServiceRoot(), CP_UTF8));
}

TEST_F(DialogsTest, AboutEndsWithOneHoweverClosed) {
    const Close closes[] = {
        {"OK", WM_COMMAND, IDOK, 1}, {"Esc", WM_COMMAND, IDCANCEL, 1}, {"close box", WM_CLOSE, 0, 1}};
    for (const Close& c : closes) {
        ModalDrive d;
        d.message = c.message;
        d.wParam = c.wParam;
        EXPECT_EQ(RunDriven(d, [&] { return Dialogs().about(host.hwnd()); }), c.result) << c.name;
        EXPECT_NE(d.dialog, nullptr) << c.name;
    }
}

TEST_F(DialogsTest, AboutScreenshot) {
    ModalDrive d;
    d.inspect = [](HWND dlg) { Shoot(dlg, "about"); };
    EXPECT_EQ(RunDriven(d, [&] { return Dialogs().about(host.hwnd()); }), 1);
}

// ---------------------------------------------------------------------------------------------
// Example

const wchar_t kExample[] = L"http://comics.example.net/title/4711";

TEST_F(DialogsTest, ExampleTexts) {
    std::wstring caption, prompt, tryIt, close, link;
    ModalDrive d;
    d.inspect = [&](HWND dlg) {
        caption = WindowTitle(dlg);
        prompt = ItemText(dlg, IDC_EXAMPLE_TEXT);
        tryIt = ItemText(dlg, IDOK);
        close = ItemText(dlg, IDCLOSE);
        link = ItemText(dlg, IDC_EXAMPLE_LINK);
    };
    EXPECT_EQ(RunDriven(d, [&] { return Dialogs().example(host.hwnd(), kExample); }), 1);
    EXPECT_EQ(caption, Texts().Text(L"ExampleDlg", L"Caption"));
    EXPECT_EQ(prompt, Texts().Text(L"ExampleDlg", L"1330"));
    EXPECT_EQ(tryIt, Texts().Text(L"ExampleDlg", L"1"));
    EXPECT_EQ(close, Texts().DefaultControlText(IDCLOSE));
    EXPECT_EQ(link, kExample);
    if (LanguageTag() == "en") {
        EXPECT_EQ(caption, L"Parse Failed");
        EXPECT_EQ(tryIt, L"Try this URL");
    }
}

TEST_F(DialogsTest, ExampleResultCodes) {
    const Close closes[] = {{"Try this URL", WM_COMMAND, IDOK, 1},
                            {"Close", WM_COMMAND, IDCLOSE, 2},
                            {"Esc", WM_COMMAND, IDCANCEL, 2},
                            {"close box", WM_CLOSE, 0, 2}};
    for (const Close& c : closes) {
        ModalDrive d;
        d.message = c.message;
        d.wParam = c.wParam;
        EXPECT_EQ(RunDriven(d, [&] { return Dialogs().example(host.hwnd(), kExample); }), c.result) << c.name;
        EXPECT_NE(d.dialog, nullptr) << c.name;
    }
    EXPECT_TRUE(seams.opened.empty()) << "no button opens the address itself";
}

// The script's address is UTF-8: shown and opened as it was written, whatever the ANSI code page.
TEST_F(DialogsTest, ExampleAddressIsUtf8) {
    const wchar_t* const addresses[] = {
        L"http://comics.example.net/title/4711",
        L"https://\u6f2b\u753b.example/\u7b2c1\u5dfb?q=\u00fcber&x=\u00e9",
        L"http://example.org/\u30b3\u30df\u30c3\u30af/\U0001F600",
    };
    for (const wchar_t* address : addresses) {
        // Through the seam, as the page-loading dialog opens it, and straight from the script's bytes.
        for (bool direct : {false, true}) {
            seams.opened.clear();
            std::wstring label;
            ModalDrive d;
            d.inspect = [&](HWND dlg) {
                label = ItemText(dlg, IDC_EXAMPLE_LINK);
                ClickLink(dlg, IDC_EXAMPLE_LINK);
            };
            d.wParam = IDCLOSE;
            int result = RunDriven(d, [&] {
                if (!direct)
                    return Dialogs().example(host.hwnd(), address);
                CExampleDlg dlg(ToNarrow(address, CP_UTF8));
                return static_cast<int>(dlg.DoModal(host.hwnd()));
            });
            EXPECT_EQ(result, 2);
            EXPECT_EQ(label, address) << direct;
            ASSERT_EQ(seams.opened.size(), 1u) << direct;
            EXPECT_EQ(seams.opened[0], address) << direct;
        }
    }
}

TEST_F(DialogsTest, ExampleLinkOpensOnlyWebAddresses) {
    struct Case {
        const wchar_t* address;
        bool opens;
    };
    const Case cases[] = {
        {L"http://comics.example.net/a", true},     {L"HTTPS://comics.example.net/b", true},
        {L"file:///C:/windows/notepad.exe", false}, {L"javascript:alert(1)", false},
        {L"mailto:someone@example.net", false},     {L"C:\\windows\\notepad.exe", false},
    };
    for (const Case& c : cases) {
        seams.opened.clear();
        seams.beeps.clear();
        ModalDrive d;
        d.inspect = [](HWND dlg) { ClickLink(dlg, IDC_EXAMPLE_LINK); };
        d.wParam = IDCLOSE;
        EXPECT_EQ(RunDriven(d, [&] { return Dialogs().example(host.hwnd(), c.address); }), 2);
        ASSERT_NE(d.dialog, nullptr);
        // The click was handled before the close was posted: the dialog's end proves it is over.
        if (c.opens) {
            ASSERT_EQ(seams.opened.size(), 1u) << c.address;
            EXPECT_EQ(seams.opened[0], c.address);
        } else {
            EXPECT_TRUE(seams.opened.empty()) << c.address;
            EXPECT_FALSE(seams.beeps.empty()) << c.address;
        }
    }
}

TEST_F(DialogsTest, ExampleScreenshot) {
    ModalDrive d;
    d.inspect = [](HWND dlg) { Shoot(dlg, "example"); };
    EXPECT_EQ(RunDriven(d, [&] { return Dialogs().example(host.hwnd(), kExample); }), 1);
}

// ---------------------------------------------------------------------------------------------
// Tip

class TipTest : public DialogsTest {
protected:
    void SetUp() override {
        DialogsTest::SetUp();
        for (const char* key : {"FastCheck", "KeepNew"})
            g_env->ctx->Database().SetConfig(key, "0");
    }
    int Show(HWND owner, const wchar_t* key, ModalDrive& d) {
        return RunDriven(d, [&] { return VxTipDlg::ShowTip(owner, key); });
    }
};

TEST_F(TipTest, Texts) {
    for (const wchar_t* key : {L"FastCheck", L"KeepNew"}) {
        std::wstring caption, text, ok, box;
        UINT ticked = 0;
        ModalDrive d;
        d.inspect = [&](HWND dlg) {
            caption = WindowTitle(dlg);
            text = ItemText(dlg, IDC_TIP_TEXT);
            ok = ItemText(dlg, IDOK);
            box = ItemText(dlg, IDC_TIP_NO_MORE);
            ticked = IsDlgButtonChecked(dlg, IDC_TIP_NO_MORE);
        };
        d.message = WM_CLOSE;
        EXPECT_EQ(Show(host.hwnd(), key, d), 2);
        EXPECT_EQ(caption, Texts().Text(L"TipDlg", L"Caption"));
        EXPECT_EQ(text, Texts().Text(L"TipDlg", key));
        EXPECT_NE(text, key);
        EXPECT_EQ(ok, Texts().Text(L"TipDlg", L"1"));
        EXPECT_EQ(box, Texts().Text(L"TipDlg", L"1391"));
        EXPECT_EQ(ticked, static_cast<UINT>(BST_CHECKED));
        if (LanguageTag() == "en") {
            EXPECT_EQ(caption, L"Did you know...");
            EXPECT_EQ(ok, L"Okay, I know");
        }
    }
}

TEST_F(TipTest, ResultsAndWhatIsRemembered) {
    struct Case {
        const char* name;
        bool clearBox;
        UINT message;
        WPARAM wParam;
        int result;
        const char* stored;
    };
    const Case cases[] = {
        {"OK, box ticked", false, WM_COMMAND, IDOK, 1, "1"},
        {"OK, box cleared", true, WM_COMMAND, IDOK, 2, "0"},
        {"Esc", false, WM_COMMAND, IDCANCEL, 2, "0"},
        {"close box", false, WM_CLOSE, 0, 2, "0"},
        {"Esc, box cleared", true, WM_COMMAND, IDCANCEL, 2, "0"},
    };
    for (const Case& c : cases) {
        g_env->ctx->Database().SetConfig("KeepNew", "0");
        ModalDrive d;
        d.inspect = [&](HWND dlg) {
            if (c.clearBox)
                SendMessageW(GetDlgItem(dlg, IDC_TIP_NO_MORE), BM_CLICK, 0, 0);
        };
        d.message = c.message;
        d.wParam = c.wParam;
        EXPECT_EQ(Show(host.hwnd(), L"KeepNew", d), c.result) << c.name;
        EXPECT_EQ(g_env->ctx->Database().GetConfig("KeepNew"), c.stored) << c.name;
        // The next request shows it again unless it was dismissed; a tip not shown returns at once.
        ModalDrive again;
        again.message = WM_CLOSE;
        int next = Show(host.hwnd(), L"KeepNew", again);
        if (c.result == 1) {
            EXPECT_EQ(next, 0) << c.name;
            EXPECT_EQ(again.dialog, nullptr) << c.name;
        } else {
            EXPECT_EQ(next, 2) << c.name;
            EXPECT_NE(again.dialog, nullptr) << c.name;
        }
    }
}

TEST_F(TipTest, AnyNonZeroSettingSuppresses) {
    for (const char* value : {"1", "2", "-1"}) {
        g_env->ctx->Database().SetConfig("FastCheck", value);
        ModalDrive d;
        d.message = WM_CLOSE;
        EXPECT_EQ(Show(host.hwnd(), L"FastCheck", d), 0) << value;
        EXPECT_EQ(d.dialog, nullptr) << value;
        EXPECT_EQ(g_env->ctx->Database().GetConfig("FastCheck"), value);
    }
}

// The tip belongs to the window that asked; under a modal dialog the frame stays disabled.
TEST_F(TipTest, OwnerIsTheAskerAndDisabledWindowsStaySo) {
    HWND frame = host.hwnd();
    HWND modal = CreateWindowExW(0, L"STATIC", L"modal", WS_POPUP, 0, 0, 200, 100, frame, nullptr, nullptr, nullptr);
    HWND child = CreateWindowExW(0, L"STATIC", L"view", WS_CHILD, 0, 0, 50, 20, modal, nullptr, nullptr, nullptr);
    ASSERT_NE(modal, nullptr);
    ASSERT_NE(child, nullptr);
    struct Case {
        const char* name;
        HWND asker;
        HWND owner;
        bool frameEnabled;
    };
    const Case cases[] = {
        {"the frame", frame, frame, true},
        {"a dialog over the disabled frame", modal, modal, false},
        {"a view inside that dialog", child, modal, false},
        {"the frame while disabled", frame, frame, false},
    };
    for (const Case& c : cases) {
        g_env->ctx->Database().SetConfig("FastCheck", "0");
        EnableWindow(frame, c.frameEnabled);
        EnableWindow(modal, TRUE);
        const bool askerOwnerEnabled = IsWindowEnabled(c.owner) != 0;
        HWND owner = nullptr;
        bool frameDuring = true, ownerDuring = true;
        ModalDrive d;
        d.inspect = [&](HWND dlg) {
            owner = GetWindow(dlg, GW_OWNER);
            frameDuring = IsWindowEnabled(frame) != 0;
            ownerDuring = IsWindowEnabled(c.owner) != 0;
        };
        EXPECT_EQ(Show(c.asker, L"FastCheck", d), 1) << c.name;
        EXPECT_EQ(owner, c.owner) << c.name;
        EXPECT_FALSE(ownerDuring) << c.name << ": the owner is disabled while the tip shows";
        if (c.owner != frame) {
            EXPECT_EQ(frameDuring, c.frameEnabled) << c.name;
        }
        EXPECT_EQ(IsWindowEnabled(frame) != 0, c.frameEnabled) << c.name << ": the frame as it was";
        EXPECT_EQ(IsWindowEnabled(c.owner) != 0, askerOwnerEnabled) << c.name << ": the owner as it was";
    }
    EnableWindow(frame, TRUE);
    DestroyWindow(modal);
}

TEST_F(TipTest, Screenshot) {
    ModalDrive d;
    d.inspect = [](HWND dlg) { Shoot(dlg, "tip"); };
    d.message = WM_CLOSE;
    EXPECT_EQ(Show(host.hwnd(), L"FastCheck", d), 2);
}

}  // namespace
