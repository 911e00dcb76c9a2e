// Tests of the progress and replace dialogs and of the ellipsis label, in
// process: the modeless dialog is driven through the program's own message
// pump, the modal one by messages posted from a helper thread.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "GuiTestSupport.h"
#include "browser/EllipsisStatic.h"
#include "browser/ProgressDlg.h"
#include "browser/ReplaceConfirmDlg.h"
#include "framework/WinApp.h"
#include "resources/dlg_progress.h"
#include "resources/dlg_replace.h"
#include "resources/resource.h"

using namespace hbtest;

namespace {

class ProgressDlgTest : public ::testing::Test {
protected:
  void SetUp() override {
    m_dlg.SetTitleId(IDS_DELETE_TITLE);
    ASSERT_TRUE(m_dlg.Create(nullptr));
  }
  std::string Item(int id) const { return WindowText(GetDlgItem(m_dlg.m_hWnd, id)); }
  int BarPos() const {
    return static_cast<int>(SendDlgItemMessageA(m_dlg.m_hWnd, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
  }
  bool CancelEnabled() const { return IsWindowEnabled(GetDlgItem(m_dlg.m_hWnd, IDCANCEL)) != 0; }
  // A key as the user types it into the dialog, through the program's pump.
  void Key(WPARAM key) {
    HWND target = GetDlgItem(m_dlg.m_hWnd, IDCANCEL);
    PostMessageA(target, WM_KEYDOWN, key, 0);
    PostMessageA(target, WM_KEYUP, key, 0xC0000000);
    HbPumpMessages();
  }

  CWinApp m_app;  // its modeless-dialog list gives the dialog its keys
  CProgressDlg m_dlg;
};

TEST_F(ProgressDlgTest, HiddenUntilTheFirstTextThenShowsBothLines) {
  EXPECT_FALSE(IsWindowVisible(m_dlg.m_hWnd));
  EXPECT_EQ(LoadResString(IDS_DELETE_TITLE), WindowText(m_dlg.m_hWnd));
  EXPECT_EQ(0, BarPos());
  const std::string deleting = LoadResString(IDS_DELETING_FILE);
  struct Case {
    const char* path;
    UINT id;
    const char* second;
    std::string line1, line2;
  } cases[] = {
      {"Docs/Sub/deep.bin", IDS_DELETING_FILE, "", FormatString(deleting.c_str(), "deep.bin"), ""},
      {"a.txt", IDS_COPY_FILE, "C:\\src\\dir\\a.txt",
       FormatString(LoadResString(IDS_COPY_FILE).c_str(), "a.txt"), "C:\\src\\dir"},
      {"", IDS_COMPRESSING, "", LoadResString(IDS_COMPRESSING), ""},
      // A folder's path has nothing after its last separator: the message alone.
      {"Docs\\", IDS_DELETING_FILE, "noseparator", deleting, ""},
      // A name is never taken for a format.
      {"x/%s%n.txt", IDS_DELETING_FILE, "", FormatString(deleting.c_str(), "%s%n.txt"), ""},
  };
  for (const Case& c : cases) {
    m_dlg.SetText(c.path, c.id, c.second);
    EXPECT_TRUE(IsWindowVisible(m_dlg.m_hWnd)) << c.path;
    EXPECT_EQ(c.line1, Item(IDC_PROGRESS_LINE1)) << c.path;
    EXPECT_EQ(c.line2, Item(IDC_PROGRESS_LINE2)) << c.path;
  }
}

TEST_F(ProgressDlgTest, CancelAndEscapeGreyTheButtonAndRaiseTheFlagEnterDoesNothing) {
  int flag = 7;
  m_dlg.AttachCancelFlag(&flag);
  EXPECT_EQ(0, flag);
  m_dlg.SetText("a.txt", IDS_DELETING_FILE, "");

  Key(VK_RETURN);
  EXPECT_EQ(0, flag);
  EXPECT_TRUE(IsWindow(m_dlg.m_hWnd));
  EXPECT_TRUE(CancelEnabled());

  Key(VK_ESCAPE);
  EXPECT_EQ(1, flag);
  EXPECT_FALSE(CancelEnabled());
  EXPECT_TRUE(IsWindowVisible(m_dlg.m_hWnd));  // the owner closes it

  // A second press has nothing more to say.
  flag = 0;
  SendMessageA(m_dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(m_dlg.m_hWnd, IDCANCEL)));
  Key(VK_ESCAPE);
  EXPECT_EQ(0, flag);

  // Attaching again starts over.
  m_dlg.AttachCancelFlag(&flag);
  EXPECT_EQ(0, flag);
}

TEST_F(ProgressDlgTest, TheButtonClicksCancelUnlessCancelWasDisabled) {
  int flag = 0;
  m_dlg.AttachCancelFlag(&flag);
  m_dlg.DisableCancel();
  EXPECT_FALSE(CancelEnabled());
  Key(VK_ESCAPE);
  EXPECT_EQ(0, flag);

  CProgressDlg other;
  ASSERT_TRUE(other.Create(nullptr));
  int otherFlag = 0;
  other.AttachCancelFlag(&otherFlag);
  SendMessageA(other.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(other.m_hWnd, IDCANCEL)));
  EXPECT_EQ(1, otherFlag);
  EXPECT_EQ(0, flag);
}

TEST_F(ProgressDlgTest, TheBarCyclesFrom100BackTo0) {
  SendDlgItemMessageA(m_dlg.m_hWnd, IDC_PROGRESS_BAR, PBM_SETPOS, 99, 0);
  const int expected[] = {100, 0, 1};
  for (int pos : expected) {
    SendMessageA(m_dlg.m_hWnd, WM_TIMER, CProgressDlg::kTimerId, 0);
    EXPECT_EQ(pos, BarPos());
  }
  // And it moves by itself while messages are pumped.
  int start = BarPos();
  EXPECT_TRUE(WaitFor([&] { return BarPos() != start; }, 10000));
}

TEST_F(ProgressDlgTest, TheTemplateHasTheControlsInPlace) {
  struct Control {
    int id;
    int x, y, w, h;
  } controls[] = {
      {IDC_PROGRESS_HEADING, 4, 8, 216, 11}, {IDC_PROGRESS_BAR, 0, 29, 224, 9},
      {IDC_PROGRESS_LINE1, 3, 44, 219, 13},  {IDC_PROGRESS_LINE2, 3, 65, 219, 13},
      {IDCANCEL, 87, 82, 50, 14},
  };
  for (const Control& c : controls) {
    // Place and size are converted one by one, as the dialog manager does.
    RECT units{c.x, c.y, c.w, c.h};
    MapDialogRect(m_dlg.m_hWnd, &units);
    HWND item = GetDlgItem(m_dlg.m_hWnd, c.id);
    ASSERT_NE(nullptr, item) << c.id;
    RECT rc;
    GetWindowRect(item, &rc);
    MapWindowPoints(nullptr, m_dlg.m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(units.left, rc.left) << c.id;
    EXPECT_EQ(units.top, rc.top) << c.id;
    EXPECT_EQ(units.right, rc.right - rc.left) << c.id;
    EXPECT_EQ(units.bottom, rc.bottom - rc.top) << c.id;
  }
  EXPECT_EQ(0, GetWindowLongA(m_dlg.m_hWnd, GWL_STYLE) & WS_SYSMENU);
}

// Runs the replace question; `answer` runs on a helper thread with the
// dialog's window once it is up.  The dialog is cancelled afterwards if it
// is still open, so a failing test cannot hang.
int RunReplace(const char* vaultPath, const std::function<void(HWND)>& answer,
               std::string* shownName) {
  DWORD uiThread = GetCurrentThreadId();
  std::atomic<bool> done{false};
  std::thread helper([&] {
    HWND hwnd = nullptr;
    WaitFor([&] {
      return done || ((hwnd = FindThreadWindow(uiThread, "#32770", nullptr)) != nullptr &&
                      IsWindowVisible(hwnd));
    });
    if (!hwnd || done) return;
    *shownName = WindowText(GetDlgItem(hwnd, IDC_REPLACE_NAME));
    answer(hwnd);
    while (!done && IsWindow(hwnd)) {
      PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
      Sleep(50);
    }
  });
  CReplaceConfirmDlg dlg;
  dlg.SetName(vaultPath);
  int r = dlg.Run();
  done = true;
  helper.join();
  return r;
}

TEST(ReplaceConfirmDlg, EachButtonAndKeyGivesItsAnswer) {
  auto click = [](int id) {
    return [id](HWND dlg) {
      PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
    };
  };
  auto key = [](WPARAM vk) {
    return [vk](HWND dlg) {
      HWND yes = GetDlgItem(dlg, IDOK);  // has the focus: first tab stop
      PostMessageA(yes, WM_KEYDOWN, vk, 0);
      PostMessageA(yes, WM_KEYUP, vk, 0xC0000000);
    };
  };
  struct Case {
    const char* what;
    std::function<void(HWND)> answer;
    int result;
  } cases[] = {
      {"Yes", click(IDOK), CReplaceConfirmDlg::kYes},
      {"No", click(IDC_REPLACE_NO), CReplaceConfirmDlg::kNo},
      {"Replace All", click(IDC_REPLACE_ALL), CReplaceConfirmDlg::kReplaceAll},
      {"Cancel", click(IDCANCEL), CReplaceConfirmDlg::kCancel},
      {"Enter", key(VK_RETURN), CReplaceConfirmDlg::kYes},
      {"Escape", key(VK_ESCAPE), CReplaceConfirmDlg::kCancel},
  };
  for (const Case& c : cases) {
    std::string shown;
    EXPECT_EQ(c.result, RunReplace("Docs/Sub/report.txt", c.answer, &shown)) << c.what;
    EXPECT_EQ("\"report.txt\"", shown) << c.what;
  }
}

TEST(ReplaceConfirmDlg, NameIsTheLastPartOfEitherPathForm) {
  CReplaceConfirmDlg dlg;
  const char* cases[][2] = {
      {"a/b/c.txt", "c.txt"}, {"a\\b\\c.txt", "c.txt"}, {"top.txt", "top.txt"}, {"", ""}};
  for (auto& c : cases) {
    dlg.SetName(c[0]);
    EXPECT_EQ(c[1], dlg.GetFileName()) << c[0];
  }
}

// --- The label.

class EllipsisStaticTest : public ::testing::Test {
protected:
  void SetUp() override {
    m_parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, m_parent);
    HWND label = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0, 0, 150,
                                 20, m_parent, reinterpret_cast<HMENU>(1000),
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, label);
    ASSERT_TRUE(m_label.SubclassDlgItem(m_parent, 1000));
  }
  void TearDown() override { DestroyWindow(m_parent); }

  HWND m_parent = nullptr;
  CEllipsisStatic m_label;
};

TEST_F(EllipsisStaticTest, ALongTextEndsInAnEllipsisAShortOneIsShownWhole) {
  EXPECT_EQ(static_cast<UINT>(DT_VCENTER | DT_NOPREFIX), m_label.GetDrawFormat());
  EXPECT_EQ(0, m_label.GetPathEllipsis());
  EXPECT_EQ(static_cast<UINT>(0x8804), m_label.GetEffectiveFormat());
  EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), m_label.GetTextColor());
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), m_label.GetBackgroundColor());
  LOGFONTA lf{};
  ASSERT_TRUE(GetObjectA(m_label.GetLabelFont(), sizeof(lf), &lf));
  EXPECT_EQ(-12, lf.lfHeight);
  EXPECT_EQ(DEFAULT_CHARSET, lf.lfCharSet);  // double-byte names in the ANSI code page

  m_label.SetText("short.txt");
  EXPECT_EQ("short.txt", m_label.GetShownText());

  const std::string longName =
      "\"a very long file name that cannot possibly fit into the label at all.txt\"";
  m_label.SetText(longName);
  EXPECT_EQ(longName, m_label.GetText());
  std::string shown = m_label.GetShownText();
  EXPECT_LT(shown.size(), longName.size());
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ("...", shown.substr(shown.size() - 3));
  EXPECT_EQ(0u, longName.find(shown.substr(0, shown.size() - 3)));

  // The path style keeps the end and drops the middle.
  m_label.SetPathEllipsis(1);
  EXPECT_EQ(static_cast<UINT>(0x4804), m_label.GetEffectiveFormat());
  m_label.SetText("C:\\first folder\\second folder\\third folder\\fourth\\name.txt");
  shown = m_label.GetShownText();
  EXPECT_NE(std::string::npos, shown.find("...")) << shown;
  EXPECT_EQ("name.txt", shown.substr(shown.size() - 8)) << shown;
}

}  // namespace
