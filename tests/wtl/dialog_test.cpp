// Dialogs from windres templates under Wine: modal and modeless runs, results kept in the object,
// no automatic end on IDCANCEL, answers through the procedure and through DWLP_MSGRESULT, data
// exchange and resizing.
#include "WtlTestResource.h"
#include "WtlTestSupport.h"

#include "wtl/DataExchange.h"
#include "wtl/Dialog.h"
#include "wtl/DialogResize.h"
#include "wtl/HyperLink.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>

using namespace WTL;
using wtltest::HostWindow;
using wtltest::SeamRecorder;

namespace {

class ControlsDlg : public CDialogImpl<ControlsDlg>,
                    public CWinDataExchange<ControlsDlg>,
                    public CDialogResize<ControlsDlg> {
public:
  enum { IDD = IDD_CONTROLS };

  bool initialised = false;
  LPARAM initParam = 0;
  HBRUSH labelBrush = CreateSolidBrush(RGB(1, 2, 3));
  bool endOnInit = false;

  std::wstring name = L"Alpha";
  int count = 42;
  bool tray = true;
  int radio = 2;
  int checkAll = BST_INDETERMINATE;
  CWindow list;
  CHyperLink link;

  ~ControlsDlg() { DeleteObject(labelBrush); }

  BEGIN_DDX_MAP(ControlsDlg)
    DDX_TEXT(IDC_NAME, name)
    DDX_INT(IDC_COUNT, count)
    DDX_CHECK(IDC_TRAY, tray)
    DDX_RADIO(IDC_RADIO_A, radio)
    DDX_CHECK(IDC_CHECK_ALL, checkAll)
    DDX_CONTROL_HANDLE(IDC_LIST, list)
    DDX_CONTROL(IDC_LINK, link)
  END_DDX_MAP()

  BEGIN_DLGRESIZE_MAP(ControlsDlg)
    DLGRESIZE_CONTROL(IDC_NAME, DLSZ_SIZE_X)
    DLGRESIZE_CONTROL(IDC_LIST, DLSZ_SIZE_X | DLSZ_SIZE_Y)
    DLGRESIZE_CONTROL(IDC_CHECK_ALL, DLSZ_MOVE_X)
    DLGRESIZE_CONTROL(IDOK, DLSZ_MOVE_X | DLSZ_MOVE_Y)
    DLGRESIZE_CONTROL(IDC_LINK, DLSZ_MOVE_Y | DLSZ_REPAINT)
  END_DLGRESIZE_MAP()

  BEGIN_MSG_MAP(ControlsDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_CTLCOLORSTATIC, OnCtlColorStatic)
    NOTIFY_HANDLER(IDC_LIST, NM_CLICK, OnListClick)
    COMMAND_ID_HANDLER(IDOK, OnOK)
    CHAIN_MSG_MAP(CDialogResize<ControlsDlg>)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM lParam, BOOL&) {
    initialised = true;
    initParam = lParam;
    DoDataExchange(FALSE);
    DlgResize_Init(true);
    if (endOnInit)
      PostMessage(WM_COMMAND, IDOK);
    return TRUE;
  }
  // Answered through the procedure's return value.
  LRESULT OnCtlColorStatic(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    if (reinterpret_cast<HWND>(lParam) != GetDlgItem(IDC_LABEL)) {
      bHandled = FALSE;
      return 0;
    }
    return reinterpret_cast<LRESULT>(labelBrush);
  }
  // Answered through DWLP_MSGRESULT.
  LRESULT OnListClick(int, NMHDR*, BOOL&) { return 1234; }
  LRESULT OnOK(WORD, WORD, HWND, BOOL&) {
    EndDialog(endOnInit ? 7 : IDOK);
    return 0;
  }
};

TEST(Dialog, TemplateControlsAreThere) {
  ControlsDlg dlg;
  ASSERT_TRUE(dlg.Create(nullptr, 99)) << GetLastError();
  EXPECT_TRUE(dlg.initialised);
  EXPECT_EQ(dlg.initParam, 99);
  const struct {
    int id;
    const wchar_t* cls;
  } expected[] = {
      {IDC_GROUP, L"Button"},        {IDC_NAME, L"Edit"},           {IDC_TRAY, L"Button"},
      {IDC_LANGUAGE, L"ComboBox"},   {IDC_LIST, L"SysListView32"}, {IDC_CATEGORY, L"ComboBoxEx32"},
      {IDC_CHECK_ALL, L"Button"},    {IDC_PROGRESS, L"msctls_progress32"}, {IDC_LABEL, L"Static"},
      {IDOK, L"Button"},             {IDCANCEL, L"Button"},
  };
  for (const auto& e : expected) {
    HWND ctl = dlg.GetDlgItem(e.id);
    ASSERT_TRUE(ctl) << e.id;
    wchar_t cls[64] = {};
    GetClassNameW(ctl, cls, 64);
    EXPECT_EQ(_wcsicmp(cls, e.cls), 0) << e.id << " is " << std::string(cls, cls + wcslen(cls));
  }
  dlg.DestroyWindow();
}

TEST(Dialog, ModelessEndKeepsTheResultAndNothingEndsOnCancel) {
  ControlsDlg dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  // No handler for IDCANCEL or WM_CLOSE: the dialog stays.
  dlg.SendMessage(WM_COMMAND, IDCANCEL);
  dlg.SendMessage(WM_CLOSE);
  EXPECT_TRUE(dlg.IsWindow());
  EXPECT_FALSE(dlg.HasEnded());
  SendMessageW(dlg.GetDlgItem(IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(dlg.HasEnded());
  EXPECT_EQ(dlg.GetResult(), IDOK);
  EXPECT_TRUE(dlg.IsWindow()) << "a modeless dialog waits for its owner to destroy it";
  HWND hwnd = dlg.m_hWnd;
  dlg.DestroyWindow();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST(Dialog, ModalRunReturnsTheResult) {
  HostWindow owner;
  ControlsDlg dlg;
  dlg.endOnInit = true;
  EXPECT_EQ(dlg.DoModal(owner.hwnd(), 5), 7);
  EXPECT_TRUE(dlg.HasEnded());
  EXPECT_EQ(dlg.GetResult(), 7);
  EXPECT_EQ(dlg.initParam, 5);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_TRUE(IsWindowEnabled(owner.hwnd())) << "the owner is enabled again";
}

class MissingDlg : public CDialogImpl<MissingDlg> {
public:
  enum { IDD = 4321 };
  BEGIN_MSG_MAP(MissingDlg)
  END_MSG_MAP()
};

TEST(Dialog, MissingTemplateFails) {
  MissingDlg dlg;
  EXPECT_EQ(dlg.DoModal(nullptr), -1);
  EXPECT_EQ(dlg.Create(nullptr), nullptr);
}

TEST(Dialog, AnswersThroughReturnValueAndMessageResult) {
  ControlsDlg dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  HDC dc = GetDC(dlg.m_hWnd);
  EXPECT_EQ(dlg.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                            reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_LABEL))),
            reinterpret_cast<LRESULT>(dlg.labelBrush));
  ReleaseDC(dlg.m_hWnd, dc);
  NMHDR hdr = {dlg.GetDlgItem(IDC_LIST), IDC_LIST, static_cast<UINT>(NM_CLICK)};
  EXPECT_EQ(dlg.SendMessage(WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&hdr)), 1234);
  dlg.DestroyWindow();
}

TEST(DataExchange, LoadsStoresAndValidates) {
  SeamRecorder seams;
  ControlsDlg dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  // Loaded at WM_INITDIALOG.
  EXPECT_EQ(dlg.GetDlgItemText(IDC_NAME), L"Alpha");
  EXPECT_EQ(dlg.GetDlgItemText(IDC_COUNT), L"42");
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TRAY), static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_RADIO_A), static_cast<UINT>(BST_UNCHECKED));
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_RADIO_C), static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_CHECK_ALL), static_cast<UINT>(BST_INDETERMINATE));
  EXPECT_EQ(dlg.list.m_hWnd, dlg.GetDlgItem(IDC_LIST));
  EXPECT_EQ(dlg.link.m_hWnd, dlg.GetDlgItem(IDC_LINK)) << "subclassed as a hyperlink";

  dlg.SetDlgItemText(IDC_NAME, L"Beta");
  dlg.SetDlgItemText(IDC_COUNT, L"-17");
  dlg.CheckDlgButton(IDC_TRAY, BST_UNCHECKED);
  dlg.CheckDlgButton(IDC_RADIO_C, BST_UNCHECKED);
  dlg.CheckDlgButton(IDC_RADIO_B, BST_CHECKED);
  dlg.CheckDlgButton(IDC_CHECK_ALL, BST_CHECKED);
  ASSERT_TRUE(dlg.DoDataExchange(TRUE));
  EXPECT_EQ(dlg.name, L"Beta");
  EXPECT_EQ(dlg.count, -17);
  EXPECT_FALSE(dlg.tray);
  EXPECT_EQ(dlg.radio, 1);
  EXPECT_EQ(dlg.checkAll, BST_CHECKED);

  // No radio button checked gives -1; one control alone can be exchanged.
  dlg.CheckDlgButton(IDC_RADIO_B, BST_UNCHECKED);
  ASSERT_TRUE(dlg.DoDataExchange(TRUE, IDC_RADIO_A));
  EXPECT_EQ(dlg.radio, -1);

  // A count that is no number fails the exchange, keeps the value and beeps once.
  dlg.SetDlgItemText(IDC_COUNT, L"x1");
  EXPECT_FALSE(dlg.DoDataExchange(TRUE));
  EXPECT_EQ(dlg.count, -17);
  EXPECT_EQ(seams.beeps.size(), 1u);
  dlg.DestroyWindow();
}

RECT ChildRect(HWND dlg, int id) {
  RECT rc;
  GetWindowRect(GetDlgItem(dlg, id), &rc);
  MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

TEST(DialogResize, ControlsFollowTheDialog) {
  ControlsDlg dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  const int ids[] = {IDC_NAME, IDC_LIST, IDC_CHECK_ALL, IDOK, IDC_LINK, IDCANCEL};
  RECT before[6];
  for (int i = 0; i < 6; ++i)
    before[i] = ChildRect(dlg.m_hWnd, ids[i]);
  RECT wr;
  dlg.GetWindowRect(&wr);
  const int dx = 100, dy = 50;
  dlg.SetWindowPos(nullptr, 0, 0, wr.right - wr.left + dx, wr.bottom - wr.top + dy, SWP_NOMOVE | SWP_NOZORDER);
  // {left, top, right, bottom} change per control
  const int delta[6][4] = {
      {0, 0, dx, 0},    // name: wider
      {0, 0, dx, dy},   // list: wider and taller
      {dx, 0, dx, 0},   // check all: moves right
      {dx, dy, dx, dy}, // OK: keeps its distance to the right and bottom
      {0, dy, 0, dy},   // link: keeps its distance to the bottom
      {0, 0, 0, 0},     // Cancel: not in the map
  };
  for (int i = 0; i < 6; ++i) {
    RECT now = ChildRect(dlg.m_hWnd, ids[i]);
    EXPECT_EQ(now.left - before[i].left, delta[i][0]) << ids[i];
    EXPECT_EQ(now.top - before[i].top, delta[i][1]) << ids[i];
    EXPECT_EQ(now.right - before[i].right, delta[i][2]) << ids[i];
    EXPECT_EQ(now.bottom - before[i].bottom, delta[i][3]) << ids[i];
  }
  // Minimum tracking size is the initial size.
  MINMAXINFO mmi = {};
  dlg.SendMessage(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  EXPECT_EQ(mmi.ptMinTrackSize.x, wr.right - wr.left);
  EXPECT_EQ(mmi.ptMinTrackSize.y, wr.bottom - wr.top);
  dlg.DestroyWindow();
}

class SelfDeletingDlg : public CDialogImpl<SelfDeletingDlg> {
public:
  enum { IDD = IDD_SMALL };
  explicit SelfDeletingDlg(bool* finalSeen) : finalSeen_(finalSeen) {}
  BEGIN_MSG_MAP(SelfDeletingDlg)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
  END_MSG_MAP()
  LRESULT OnCancel(WORD, WORD, HWND, BOOL&) {
    DestroyWindow();
    return 0;
  }
  void OnFinalMessage(HWND) override {
    *finalSeen_ = true;
    delete this;
  }

private:
  bool* finalSeen_;
};

TEST(Dialog, ModelessDialogMayDeleteItselfAfterItsLastMessage) {
  bool finalSeen = false;
  auto* dlg = new SelfDeletingDlg(&finalSeen);
  HWND hwnd = dlg->Create(nullptr);
  ASSERT_TRUE(hwnd);
  SendMessageW(GetDlgItem(hwnd, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_TRUE(finalSeen);
  EXPECT_FALSE(IsWindow(hwnd));
}


class CancelCounterDlg : public CDialogImpl<CancelCounterDlg> {
public:
  enum { IDD = IDD_SMALL };
  int cancels = 0;
  BEGIN_MSG_MAP(CancelCounterDlg)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
  END_MSG_MAP()
  LRESULT OnCancel(WORD, WORD, HWND, BOOL&) {
    ++cancels;
    return 0;
  }
};

TEST(Dialog, ObjectDestroyedBeforeItsDialog) {
  wtltest::Poisoned<CancelCounterDlg> dlg;
  HWND hwnd = dlg->Create(nullptr);
  ASSERT_TRUE(hwnd);
  SendMessageW(GetDlgItem(hwnd, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_EQ(dlg->cancels, 1);
  dlg.Kill();
  // The dialog manager alone answers from now on; the last messages reach no object either.
  SendMessageW(GetDlgItem(hwnd, IDCANCEL), BM_CLICK, 0, 0);
  SetWindowTextW(hwnd, L"orphan");
  wchar_t text[16] = {};
  GetWindowTextW(hwnd, text, 16);
  EXPECT_STREQ(text, L"orphan");
  EXPECT_TRUE(DestroyWindow(hwnd));
}

}  // namespace
