// In-process tests of the Change Password dialog and command over the
// scriptable fake device library, which logs what UDLL_ChangePassword got.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "GuiTestSupport.h"
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "device/ChangePasswordDlg.h"
#include "framework/WinApp.h"
#include "resources/dlg_changepassword.h"
#include "resources/resource.h"

using namespace hbtest;

namespace {

// Waits for a visible dialog of the UI thread, runs drive with it on this
// helper thread, and cancels the dialog afterwards if it is still open.
class DialogDriver {
public:
  DialogDriver(DWORD uiThread, std::function<void(HWND)> drive)
      : m_thread([this, uiThread, drive] {
          HWND hwnd = nullptr;
          WaitFor([&] {
            return m_done || ((hwnd = FindThreadWindow(uiThread, "#32770", nullptr)) != nullptr &&
                              IsWindowVisible(hwnd));
          });
          if (!hwnd || m_done) return;
          drive(hwnd);
          while (!m_done && IsWindow(hwnd)) {
            PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
            Sleep(50);
          }
        }) {}
  ~DialogDriver() { Finish(); }
  void Finish() {
    m_done = true;
    if (m_thread.joinable()) m_thread.join();
  }

private:
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

INT_PTR RunDialog(CChangePasswordDlg& dlg, const std::function<void(HWND)>& drive) {
  DialogDriver driver(GetCurrentThreadId(), drive);
  INT_PTR r = dlg.DoModal();
  driver.Finish();
  return r;
}

void SetField(HWND dlg, int id, const std::string& text) {
  SendMessageA(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
void Fill(HWND dlg, const std::string& pw, const std::string& confirm, const std::string& hint) {
  SetField(dlg, IDC_NEWPW, pw);
  SetField(dlg, IDC_NEWPW_CONFIRM, confirm);
  SetField(dlg, IDC_NEWPW_HINT, hint);
}
void ClickOk(HWND dlg) {
  SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
}
// Moves the focus the way the dialog itself would (works from another thread).
void FocusField(HWND dlg, int id) {
  SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dlg, id)), TRUE);
}
HWND FocusOf(HWND dlg) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &info);
  return info.hwndFocus;
}
std::string Hex(const std::string& s) {
  std::string out;
  char two[3];
  for (unsigned char c : s) {
    std::snprintf(two, sizeof(two), "%02X", c);
    out += two;
  }
  return out;
}

class PasswordTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pid = std::to_string(GetCurrentProcessId());
    m_log = TempDir() + "hb_pw_boxes_" + pid + ".log";
    m_changes = TempDir() + "hb_pw_changes_" + pid + ".log";
    DeleteFileA(m_log.c_str());
    DeleteFileA(m_changes.c_str());
    SetEnv("HB_MSGBOX_LOG", m_log);
    SetEnv("HB_MSGBOX_ANSWER", "");
    SetEnv("HB_FAKE_DEVICE", "");
    SetEnv("HB_FAKE_CHANGE_LOG", m_changes);
    SetEnv("HB_FAKE_CHANGE_RESULT", "");
    SetEnv("HB_FAKE_DRIVES", "F,other,h;E,Secret7,old hint");
  }
  void TearDown() override {
    DeleteFileA(m_log.c_str());
    DeleteFileA(m_changes.c_str());
  }
  std::vector<LoggedBox> Boxes() const { return ReadBoxLog(m_log); }
  // One entry per UDLL_ChangePassword call: "DRIVE|CURRENT(hex)|NEW|HINT|ZEROS".
  std::vector<std::string> Changes() const {
    std::vector<std::string> out;
    std::ifstream in(m_changes, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
      if (line.compare(0, 7, "change ") == 0) out.push_back(line.substr(7));
    return out;
  }
  void ExpectBox(const LoggedBox& box, UINT textId) {
    EXPECT_EQ(LoadResString(textId), box.text);
    EXPECT_EQ(LoadResString(IDS_ERROR_CAPTION), box.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), box.style);
  }

  EnvGuard m_env{{"HB_MSGBOX_LOG", "HB_MSGBOX_ANSWER", "HB_FAKE_DRIVES", "HB_FAKE_DEVICE",
                  "HB_FAKE_CHANGE_LOG", "HB_FAKE_CHANGE_RESULT"}};
  std::string m_log, m_changes;
};

TEST_F(PasswordTest, BlankAndMismatchedEntriesAreRefusedAndTheDialogStaysOpen) {
  CChangePasswordDlg dlg;
  dlg.SetDisk("E:");
  dlg.SetCurrentPassword("Secret7");
  bool openAfterBlank = false, openAfterMismatch = false;
  bool focusAfterBlank = false, focusAfterMismatch = false;
  std::string afterMismatch[3];
  INT_PTR r = RunDialog(dlg, [&](HWND h) {
    Fill(h, "", "", "a hint");
    FocusField(h, IDC_NEWPW_HINT);
    ClickOk(h);
    openAfterBlank = IsWindowVisible(h) != FALSE;
    focusAfterBlank = FocusOf(h) == GetDlgItem(h, IDC_NEWPW);
    Fill(h, "new1", "new2", "kept hint");
    FocusField(h, IDC_NEWPW_HINT);
    ClickOk(h);
    openAfterMismatch = IsWindowVisible(h) != FALSE;
    focusAfterMismatch = FocusOf(h) == GetDlgItem(h, IDC_NEWPW);
    afterMismatch[0] = WindowText(GetDlgItem(h, IDC_NEWPW));
    afterMismatch[1] = WindowText(GetDlgItem(h, IDC_NEWPW_CONFIRM));
    afterMismatch[2] = WindowText(GetDlgItem(h, IDC_NEWPW_HINT));
  });
  EXPECT_EQ(IDCANCEL, r);
  EXPECT_TRUE(openAfterBlank);
  EXPECT_TRUE(openAfterMismatch);
  EXPECT_TRUE(focusAfterBlank);
  EXPECT_TRUE(focusAfterMismatch);
  EXPECT_EQ("", afterMismatch[0]);
  EXPECT_EQ("", afterMismatch[1]);
  EXPECT_EQ("kept hint", afterMismatch[2]);
  auto boxes = Boxes();
  ASSERT_EQ(2u, boxes.size());
  ExpectBox(boxes[0], IDS_PASSWORD_BLANK);
  ExpectBox(boxes[1], IDS_PASSWORD_MISMATCH);
  EXPECT_TRUE(Changes().empty());  // nothing reached the disk
  EXPECT_EQ("", dlg.GetNewPassword());
}

TEST_F(PasswordTest, LongestPasswordAndHintReachTheMatchingDriveWhole) {
  const std::string pw = "ABCDEFGHIJKLMNO";  // 15
  const std::string hint(127, 'h');
  CChangePasswordDlg dlg;
  dlg.SetDisk("E:");
  dlg.SetCurrentPassword("Secret7");
  LRESULT limits[3] = {0, 0, 0};
  std::string typedHint;
  INT_PTR r = RunDialog(dlg, [&](HWND h) {
    const int ids[] = {IDC_NEWPW, IDC_NEWPW_CONFIRM, IDC_NEWPW_HINT};
    for (int i = 0; i < 3; ++i) limits[i] = SendMessageA(GetDlgItem(h, ids[i]), EM_GETLIMITTEXT, 0, 0);
    Fill(h, pw, pw, hint);
    // Typing one more character into the full hint changes nothing.
    HWND edit = GetDlgItem(h, IDC_NEWPW_HINT);
    SendMessageA(edit, EM_SETSEL, 127, 127);
    SendMessageA(edit, WM_CHAR, 'x', 0);
    typedHint = WindowText(edit);
    ClickOk(h);
  });
  EXPECT_EQ(IDOK, r);
  EXPECT_EQ(15, limits[0]);
  EXPECT_EQ(15, limits[1]);
  EXPECT_EQ(127, limits[2]);
  EXPECT_EQ(hint, typedHint);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(pw, dlg.GetNewPassword());
  auto changes = Changes();
  ASSERT_EQ(1u, changes.size());
  EXPECT_EQ("E|" + Hex("Secret7") + "|" + pw + "|" + hint + "|1", changes[0]);
}

TEST_F(PasswordTest, EmptyLoginPasswordIsTakenFromTheTestStringAndAnEmptyHintIsAllowed) {
  struct Case {
    const char* drives;
    std::string expectedCurrent;  // hex
  } cases[] = {
      {"E,Secret7,h", Hex("Secret7")},
      {"E,ABCDEFGHIJKLMNO,h", Hex("ABCDEFGHIJKLMNO")},
      // No password on the disk: the unpacked buffer is handed on as it is.
      {"E,*,*", std::string("FF")},
  };
  for (const Case& c : cases) {
    DeleteFileA(m_changes.c_str());
    SetEnv("HB_FAKE_DRIVES", c.drives);
    CChangePasswordDlg dlg;
    dlg.SetDisk("E:");
    dlg.SetCurrentPassword("");
    INT_PTR r = RunDialog(dlg, [&](HWND h) {
      Fill(h, "fresh", "fresh", "");
      ClickOk(h);
    });
    EXPECT_EQ(IDOK, r) << c.drives;
    auto changes = Changes();
    ASSERT_EQ(1u, changes.size()) << c.drives;
    std::string current = changes[0].substr(2, changes[0].find('|', 2) - 2);
    // The unpacked "no password" buffer keeps test-string bytes after the
    // marker; only its start is fixed.
    EXPECT_EQ(0u, current.find(c.expectedCurrent)) << c.drives << " " << current;
    if (c.expectedCurrent != "FF") {
      EXPECT_EQ(c.expectedCurrent, current);
    }
    EXPECT_NE(std::string::npos, changes[0].find("|fresh||")) << changes[0];
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PasswordTest, RefusalOrMissingDiskIsReportedAndTheDialogStaysOpenForAnotherTry) {
  SetEnv("HB_FAKE_CHANGE_RESULT", "0");
  CChangePasswordDlg dlg;
  dlg.SetDisk("E:");
  dlg.SetCurrentPassword("stale");
  bool openAfterRefusal = false;
  std::string entryAfterRefusal;
  INT_PTR r = RunDialog(dlg, [&](HWND h) {
    Fill(h, "next1", "next1", "hint");
    ClickOk(h);
    openAfterRefusal = IsWindowVisible(h) != FALSE;
    entryAfterRefusal = WindowText(GetDlgItem(h, IDC_NEWPW));
    SetEnv("HB_FAKE_CHANGE_RESULT", "1");
    ClickOk(h);
  });
  EXPECT_EQ(IDOK, r);
  EXPECT_TRUE(openAfterRefusal);
  EXPECT_EQ("next1", entryAfterRefusal);  // kept for the next try
  EXPECT_EQ("next1", dlg.GetNewPassword());
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  ExpectBox(boxes[0], IDS_PASSWORD_NOT_CHANGED);
  EXPECT_EQ(2u, Changes().size());

  // A disk the library does not list: nothing is called, the same message.
  DeleteFileA(m_log.c_str());
  DeleteFileA(m_changes.c_str());
  CChangePasswordDlg other;
  other.SetDisk("G:");
  other.SetCurrentPassword("x");
  r = RunDialog(other, [&](HWND h) {
    Fill(h, "abc", "abc", "");
    ClickOk(h);
  });
  EXPECT_EQ(IDCANCEL, r);
  ASSERT_EQ(1u, Boxes().size());
  ExpectBox(Boxes()[0], IDS_PASSWORD_NOT_CHANGED);
  EXPECT_TRUE(Changes().empty());
}

// --- The command of the main window.

class PasswordCommandTest : public PasswordTest {
protected:
  void SetUp() override {
    PasswordTest::SetUp();
    m_app.m_strDisk = "E:";
    m_app.m_strPassword = "Secret7";
    ASSERT_TRUE(CRovErarodApp::RegisterFrameClass());
    ASSERT_TRUE(m_app.CreateMainWindow());
    m_frame = m_app.GetMainFrame();
  }
  void TearDown() override {
    m_app.m_pMainWnd = nullptr;
    if (m_frame && m_frame->m_hWnd) DestroyWindow(m_frame->m_hWnd);
    PasswordTest::TearDown();
  }
  UINT MenuState() {
    HMENU management = GetSubMenu(m_frame->GetMenu(), 1);
    SendMessageA(m_frame->m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(management), 1);
    return GetMenuState(management, ID_CHANGE_PASSWORD, MF_BYCOMMAND);
  }
  // Runs the command; the dialog it opens gets pw, pw, hint and OK.
  void ChangeThroughMenu(const std::string& pw, const std::string& hint) {
    DialogDriver driver(GetCurrentThreadId(), [&](HWND h) {
      Fill(h, pw, pw, hint);
      ClickOk(h);
    });
    m_frame->SendMessage(WM_COMMAND, ID_CHANGE_PASSWORD, 0);
    driver.Finish();
  }

  CRovErarodApp m_app;
  CMainFrame* m_frame = nullptr;
};

TEST_F(PasswordCommandTest, CommandChangesThePasswordAndASecondChangePassesTheNewOne) {
  EXPECT_EQ(0u, MenuState() & MF_GRAYED);
  EXPECT_EQ(std::string("Change login password and hint"), LoadResString(ID_CHANGE_PASSWORD));

  ChangeThroughMenu("first1", "one");
  EXPECT_EQ("first1", m_app.m_strPassword);
  ChangeThroughMenu("second2", "two");
  EXPECT_EQ("second2", m_app.m_strPassword);
  auto changes = Changes();
  ASSERT_EQ(2u, changes.size());
  EXPECT_EQ("E|" + Hex("Secret7") + "|first1|one|1", changes[0]);
  EXPECT_EQ("E|" + Hex("first1") + "|second2|two|1", changes[1]);

  // Logged out: greyed, and the command does nothing.
  m_frame->SendMessage(WM_COMMAND, ID_LOGIN, 0);
  ASSERT_FALSE(m_frame->GetView()->IsLoggedIn());
  EXPECT_NE(0u, MenuState() & MF_GRAYED);
  m_frame->GetView()->OnChangePassword();
  EXPECT_EQ(2u, Changes().size());
  EXPECT_TRUE(Boxes().empty());
}

// The template in every language: 158 x 94 dialog units, the same controls.
TEST(PasswordResources, DialogTemplateInEveryLanguage) {
  const LANGID langs[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                          MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL),
                          MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT),
                          MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)};
  HMODULE mod = GetModuleHandleA(nullptr);
  for (LANGID lang : langs) {
    HRSRC res = FindResourceExW(mod, RT_DIALOG, MAKEINTRESOURCEW(IDD_CHANGE_PASSWORD), lang);
    ASSERT_NE(nullptr, res) << lang;
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, ..., item count at 16,
    // then x, y, cx, cy as 16-bit values.
    const WORD* t = static_cast<const WORD*>(LockResource(LoadResource(mod, res)));
    ASSERT_EQ(1, t[0]);
    ASSERT_EQ(0xFFFF, t[1]);
    EXPECT_EQ(8, t[8]) << lang;  // three labels, three edits, two buttons
    EXPECT_EQ(158, static_cast<short>(t[11])) << lang;
    EXPECT_EQ(94, static_cast<short>(t[12])) << lang;
  }
}

}  // namespace
