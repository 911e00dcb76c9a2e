// In-process tests of the login dialog, the main frame and the framework
// pieces they stand on.  The device library beside this program is the
// scriptable fake (fake_udll.cpp): HB_FAKE_DRIVES says which disks exist.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <unknwn.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "GuiTestSupport.h"
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "device/DiskLoginDlg.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "resources/dlg_disklogin.h"
#include "resources/resource.h"

using namespace hbtest;

namespace {

// Runs the dialog modally; `drive` runs on a helper thread with the dialog's
// window once it is up.  Whatever drive does, the dialog is cancelled
// afterwards if it is still open, so a failing test cannot hang.
INT_PTR RunLoginDialog(CDiskLoginDlg& dlg, const std::function<void(HWND)>& drive) {
  DWORD uiThread = GetCurrentThreadId();
  std::atomic<bool> done{false};
  std::thread helper([&] {
    HWND hwnd = nullptr;
    // Visible means WM_INITDIALOG is over: the disk list is filled.
    WaitFor([&] {
      return done || ((hwnd = FindThreadWindow(uiThread, "#32770", nullptr)) != nullptr &&
                      IsWindowVisible(hwnd));
    }, 60000);
    if (!hwnd || done) return;
    drive(hwnd);
    while (!done && IsWindow(hwnd)) {
      PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
      Sleep(50);
    }
  });
  INT_PTR r = dlg.DoModal();
  done = true;
  helper.join();
  return r;
}

void TypePassword(HWND dlg, const char* text) {
  SendMessageA(GetDlgItem(dlg, IDC_LOGIN_PASSWORD), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
void ClickLogin(HWND dlg) {
  SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
}
std::string ComboText(HWND dlg) { return WindowText(GetDlgItem(dlg, IDC_LOGIN_DISK)); }
std::string HintText(HWND dlg) { return WindowText(GetDlgItem(dlg, IDC_LOGIN_HINT)); }
int ComboCount(HWND dlg) {
  return static_cast<int>(SendMessageA(GetDlgItem(dlg, IDC_LOGIN_DISK), CB_GETCOUNT, 0, 0));
}
void SelectEntry(HWND dlg, int index) {
  HWND box = GetDlgItem(dlg, IDC_LOGIN_DISK);
  SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_LOGIN_DISK, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(box));
}

class LoginDialogTest : public ::testing::Test {
protected:
  void SetUp() override {
    m_log = TempDir() + "hb_ui_boxes_" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(m_log.c_str());
    SetEnv("HB_MSGBOX_LOG", m_log);
    SetEnv("HB_MSGBOX_ANSWER", "");
    SetEnv("HB_FAKE_DEVICE", "");
  }
  void TearDown() override { DeleteFileA(m_log.c_str()); }
  std::vector<LoggedBox> Boxes() const { return ReadBoxLog(m_log); }
  static std::string Wrong() { return LoadResString(IDS_WRONG_PASSWORD); }

  EnvGuard m_env{{"HB_MSGBOX_LOG", "HB_MSGBOX_ANSWER", "HB_FAKE_DRIVES", "HB_FAKE_DEVICE"}};
  std::string m_log;
};

TEST_F(LoginDialogTest, RightPasswordLogsInWrongOrCaseDifferentOnesKeepTheDialogOpen) {
  SetEnv("HB_FAKE_DRIVES", "E,Secret7,think of seven");
  CDiskLoginDlg dlg;
  bool stillOpenAfterWrong = false, stillOpenAfterCase = false;
  std::string fieldAfterWrong = "unset";
  INT_PTR r = RunLoginDialog(dlg, [&](HWND h) {
    TypePassword(h, "nope");
    ClickLogin(h);
    stillOpenAfterWrong = IsWindow(h) && IsWindowVisible(h);
    fieldAfterWrong = WindowText(GetDlgItem(h, IDC_LOGIN_PASSWORD));
    TypePassword(h, "secret7");
    ClickLogin(h);
    stillOpenAfterCase = IsWindow(h) && IsWindowVisible(h);
    TypePassword(h, "Secret7");
    ClickLogin(h);
  });
  EXPECT_EQ(IDOK, r);
  EXPECT_TRUE(stillOpenAfterWrong);
  EXPECT_TRUE(stillOpenAfterCase);
  EXPECT_EQ("", fieldAfterWrong);  // emptied for the next try
  EXPECT_EQ("E:", dlg.GetDisk());
  EXPECT_EQ("Secret7", dlg.GetPassword());
  auto boxes = Boxes();
  ASSERT_EQ(2u, boxes.size());
  for (const auto& b : boxes) {
    EXPECT_EQ(Wrong(), b.text);
    EXPECT_EQ(LoadResString(IDS_ERROR_CAPTION), b.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), b.style);
  }
}

TEST_F(LoginDialogTest, FifteenCharacterPasswordIsUnpackedWhole) {
  SetEnv("HB_FAKE_DRIVES", "E,ABCDEFGHIJKLMNO,h");
  CDiskLoginDlg dlg;
  INT_PTR r = RunLoginDialog(dlg, [&](HWND h) {
    TypePassword(h, "ABCDEFGHIJKLMNO");
    ClickLogin(h);
  });
  EXPECT_EQ(IDOK, r);
  EXPECT_EQ("ABCDEFGHIJKLMNO", dlg.GetPassword());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LoginDialogTest, NoStoredPasswordAcceptsOnlyTheEmptyOne) {
  SetEnv("HB_FAKE_DRIVES", "E,*,*");
  CDiskLoginDlg dlg;
  std::string hint = "unset";
  INT_PTR r = RunLoginDialog(dlg, [&](HWND h) {
    hint = HintText(h);
    TypePassword(h, "x");
    ClickLogin(h);
    TypePassword(h, "");
    ClickLogin(h);
  });
  EXPECT_EQ(IDOK, r);
  EXPECT_EQ("", hint);  // 0xFF hint: none
  EXPECT_EQ("E:", dlg.GetDisk());
  EXPECT_EQ("", dlg.GetPassword());
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(Wrong(), boxes[0].text);
}

TEST_F(LoginDialogTest, HintAndPasswordBelongToTheDiskShownEvenOutOfLibraryOrder) {
  // The library reports F: before E:; the box lists E: first.
  SetEnv("HB_FAKE_DRIVES", "F,pwF,hint of F;E,pwE,hint of E");
  CDiskLoginDlg dlg;
  std::string firstText, firstHint, secondText, secondHint;
  INT_PTR r = RunLoginDialog(dlg, [&](HWND h) {
    firstText = ComboText(h);
    firstHint = HintText(h);
    SelectEntry(h, 1);
    secondText = ComboText(h);
    secondHint = HintText(h);
    TypePassword(h, "pwE");  // E's password does not open F:
    ClickLogin(h);
    TypePassword(h, "pwF");
    ClickLogin(h);
  });
  EXPECT_EQ("E:", firstText);
  EXPECT_EQ("hint of E", firstHint);
  EXPECT_EQ("F:", secondText);
  EXPECT_EQ("hint of F", secondHint);
  EXPECT_EQ(IDOK, r);
  EXPECT_EQ("F:", dlg.GetDisk());
  EXPECT_EQ(1u, Boxes().size());
}

TEST_F(LoginDialogTest, DriveListChangeRebuildsTheBoxAndKeepsTheSelectionWhenPresent) {
  SetEnv("HB_FAKE_DRIVES", "E,a,hint E;F,b,hint F");
  CDiskLoginDlg dlg;
  int countAdded = 0, countRemoved = 0;
  std::string keptText, keptHint, afterRemovalText, afterRemovalHint, untouchedPassword;
  RunLoginDialog(dlg, [&](HWND h) {
    SelectEntry(h, 1);  // F:
    SetEnv("HB_FAKE_DRIVES", "E,a,hint E;F,b,hint F;G,c,hint G");
    SendMessageA(h, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    countAdded = ComboCount(h);
    keptText = ComboText(h);
    keptHint = HintText(h);
    // An unrelated notification with the same drives changes nothing.
    TypePassword(h, "typed");
    SendMessageA(h, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
    untouchedPassword = WindowText(GetDlgItem(h, IDC_LOGIN_PASSWORD));
    SetEnv("HB_FAKE_DRIVES", "G,c,hint G;E,a,hint E");
    SendMessageA(h, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
    countRemoved = ComboCount(h);
    afterRemovalText = ComboText(h);
    afterRemovalHint = HintText(h);
  });
  EXPECT_EQ(3, countAdded);
  EXPECT_EQ("F:", keptText);
  EXPECT_EQ("hint F", keptHint);
  EXPECT_EQ("typed", untouchedPassword);
  EXPECT_EQ(2, countRemoved);
  EXPECT_EQ("E:", afterRemovalText);  // F: is gone: the first entry
  EXPECT_EQ("hint E", afterRemovalHint);
  EXPECT_EQ("", dlg.GetDisk());
}

TEST_F(LoginDialogTest, DiskThatVanishedBeforeLoginIsRefusedEvenWithEmptyPassword) {
  SetEnv("HB_FAKE_DRIVES", "E,*,none");
  CDiskLoginDlg dlg;
  bool stillOpen = false;
  INT_PTR r = RunLoginDialog(dlg, [&](HWND h) {
    SetEnv("HB_FAKE_DEVICE", "0");  // the device stops answering
    ClickLogin(h);
    stillOpen = IsWindow(h) != FALSE;
  });
  EXPECT_EQ(IDCANCEL, r);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ("", dlg.GetDisk());
  ASSERT_EQ(1u, Boxes().size());
  EXPECT_EQ(Wrong(), Boxes()[0].text);
}

TEST_F(LoginDialogTest, NoDiskClosesAtOnceWithoutMessage) {
  SetEnv("HB_FAKE_DRIVES", "");
  CDiskLoginDlg dlg;
  EXPECT_EQ(IDCANCEL, dlg.DoModal());
  SetEnv("HB_FAKE_DRIVES", "E,a,b");
  SetEnv("HB_FAKE_DEVICE", "0");
  CDiskLoginDlg dlg2;
  EXPECT_EQ(IDCANCEL, dlg2.DoModal());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(LoginDialogTest, CancelAfterFailedAttemptsLeavesBothOutputsEmpty) {
  SetEnv("HB_FAKE_DRIVES", "E,pw,h");
  CDiskLoginDlg dlg;
  INT_PTR r = RunLoginDialog(dlg, [&](HWND h) {
    TypePassword(h, "bad");
    ClickLogin(h);
    PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(IDCANCEL, r);
  EXPECT_EQ("", dlg.GetDisk());
  EXPECT_EQ("", dlg.GetPassword());
}

// --- Main frame.

class MainFrameTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetEnv("HB_FAKE_DRIVES", "");
    m_app.m_strDisk = "E:";
    m_app.m_strPassword = "pw";
    ASSERT_TRUE(CRovErarodApp::RegisterFrameClass());
    ASSERT_TRUE(m_app.CreateMainWindow());
    m_frame = m_app.GetMainFrame();
  }
  void TearDown() override {
    // Not the main window any more: closing it must not end a message loop.
    m_app.m_pMainWnd = nullptr;
    if (m_frame && m_frame->m_hWnd) DestroyWindow(m_frame->m_hWnd);
  }
  std::string LoginMenuText() {
    HMENU management = GetSubMenu(m_frame->GetMenu(), 1);
    SendMessageA(m_frame->m_hWnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(management), 1);
    char text[64] = {0};
    GetMenuStringA(management, ID_LOGIN, text, sizeof(text), MF_BYCOMMAND);
    return text;
  }

  EnvGuard m_env{{"HB_FAKE_DRIVES", "HB_MSGBOX_LOG"}};
  CRovErarodApp m_app;
  CMainFrame* m_frame = nullptr;
};

TEST_F(MainFrameTest, TitleToolbarStatusBarAndColumns) {
  EXPECT_EQ("Hollowbox (Version:3.2.1.72)", m_frame->GetWindowText());
  char cls[64] = {0};
  GetClassNameA(m_frame->m_hWnd, cls, sizeof(cls));
  EXPECT_STREQ("DIVizClass", cls);
  EXPECT_EQ(m_frame->m_hWnd, FindWindowA("DIVizClass", nullptr));

  CToolBar& tb = m_frame->GetToolBar();
  EXPECT_EQ(static_cast<LONG_PTR>(CMainFrame::kToolBarId), GetWindowLongPtrA(tb.m_hWnd, GWLP_ID));
  const int ids[] = {ID_UP_FOLDER, ID_EDIT_COPY, ID_EDIT_CUT, ID_DELETE_FILE, ID_NEW_FOLDER,
                     ID_EDIT_PASTE};
  ASSERT_EQ(6, tb.GetButtonCount());
  for (int i = 0; i < 6; ++i) {
    TBBUTTON b{};
    ASSERT_TRUE(tb.GetButton(i, &b));
    EXPECT_EQ(ids[i], b.idCommand);
  }
  EXPECT_NE(0, tb.SendMessage(TB_GETIMAGELIST));
  EXPECT_NE(0, tb.SendMessage(TB_GETHOTIMAGELIST));

  CStatusBar& sb = m_frame->GetStatusBar();
  EXPECT_EQ(static_cast<LONG_PTR>(CMainFrame::kStatusBarId), GetWindowLongPtrA(sb.m_hWnd, GWLP_ID));
  ASSERT_EQ(6, sb.GetPaneCount());
  EXPECT_EQ(static_cast<UINT>(ID_INDICATOR_FREE), sb.GetPane(1).id);
  EXPECT_EQ(static_cast<UINT>(ID_INDICATOR_TIME), sb.GetPane(2).id);
  EXPECT_FALSE(sb.GetPane(2).stretch);
  EXPECT_EQ(150, sb.GetPane(2).width);
  EXPECT_EQ(m_frame->GetOsKind() != 3 && m_frame->GetOsKind() != 4, sb.GetPane(1).stretch);
  EXPECT_EQ(static_cast<UINT>(ID_INDICATOR_SCRL), sb.GetPane(5).id);

  CRovErarodView* view = m_frame->GetView();
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(5, view->GetColumnCount());
  EXPECT_EQ(0, view->GetItemCount());
  EXPECT_TRUE((view->GetStyle() & LVS_TYPEMASK) == LVS_REPORT);

  // Pixel sizes follow the resolution: 36 x 35 buttons and images at 96
  // DPI, 54 x 53 at 144, and back when the window moves back.
  ASSERT_EQ(96u, m_frame->GetDpi());  // the test prefix's resolution
  auto sizes = [&](int* bw, int* bh, int* iw, int* ih) {
    DWORD b = static_cast<DWORD>(tb.SendMessage(TB_GETBUTTONSIZE));
    *bw = LOWORD(b);
    *bh = HIWORD(b);
    ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(tb.SendMessage(TB_GETIMAGELIST)), iw, ih);
  };
  int bw, bh, iw, ih;
  sizes(&bw, &bh, &iw, &ih);
  EXPECT_EQ(36, bw);
  EXPECT_EQ(35, bh);
  EXPECT_EQ(36, iw);
  EXPECT_EQ(35, ih);
  const int name96 = static_cast<int>(view->SendMessage(LVM_GETCOLUMNWIDTH, 0));
  EXPECT_EQ(200, name96);
  RECT placed{10, 10, 910, 610};
  m_frame->SendMessage(WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&placed));
  sizes(&bw, &bh, &iw, &ih);
  EXPECT_EQ(54, bw);
  EXPECT_EQ(53, bh);
  EXPECT_EQ(54, iw);
  EXPECT_EQ(53, ih);
  EXPECT_NE(0, tb.SendMessage(TB_GETHOTIMAGELIST));
  EXPECT_EQ(225, sb.GetPane(2).width);
  EXPECT_EQ(300, view->SendMessage(LVM_GETCOLUMNWIDTH, 0));
  RECT now{};
  GetWindowRect(m_frame->m_hWnd, &now);
  EXPECT_TRUE(EqualRect(&placed, &now));
  RECT dock{};
  GetWindowRect(m_frame->GetDockBar().GetDockWindow(), &dock);
  EXPECT_EQ(53 + 2 * 3, dock.bottom - dock.top);  // the buttons and a border of 3 on each side
  m_frame->SendMessage(WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&placed));
  sizes(&bw, &bh, &iw, &ih);
  EXPECT_EQ(36, bw);
  EXPECT_EQ(35, bh);
  EXPECT_EQ(150, sb.GetPane(2).width);
  EXPECT_EQ(name96, view->SendMessage(LVM_GETCOLUMNWIDTH, 0));
}

TEST_F(MainFrameTest, RemovingTheLoggedInDiskLogsOutOtherRemovalsDoNot) {
  CRovErarodView* view = m_frame->GetView();
  ASSERT_TRUE(view->IsLoggedIn());
  EXPECT_EQ("Logout", LoginMenuText());
  // E: (removable in the test prefix) is still there: nothing happens.
  ASSERT_EQ(1, m_frame->IsDiskPresent());
  m_frame->SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
  EXPECT_TRUE(view->IsLoggedIn());
  // Arrivals never log out.
  m_app.m_strDisk = "Q:";
  m_frame->SendMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  EXPECT_TRUE(view->IsLoggedIn());
  // The logged-in disk is gone.
  EXPECT_EQ(TRUE, m_frame->SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0));
  EXPECT_FALSE(view->IsLoggedIn());
  EXPECT_EQ("", m_app.m_strPassword);
  EXPECT_EQ("Q:", m_app.m_strDisk);  // remembered
  EXPECT_EQ("Login", LoginMenuText());
  // Logged out, another removal opens the login dialog, which closes at
  // once: no disk is listed.
  m_frame->SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
  EXPECT_FALSE(view->IsLoggedIn());
}

// The view destroys its small image list itself; the list control must not
// destroy it too. An extra reference taken here keeps the list alive
// through one destruction, not through two.
TEST_F(MainFrameTest, SmallImageListIsDestroyedOnceAtTeardown) {
  CRovErarodView* view = m_frame->GetView();
  HIMAGELIST list = reinterpret_cast<HIMAGELIST>(view->SendMessage(LVM_GETIMAGELIST, LVSIL_SMALL));
  ASSERT_NE(nullptr, list);
  ASSERT_GE(ImageList_GetImageCount(list), 1);
  using QueryFn = HRESULT(WINAPI*)(HIMAGELIST, REFIID, void**);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("comctl32.dll"), "HIMAGELIST_QueryInterface")));
  ASSERT_NE(nullptr, query);
  static const GUID kIImageList = {0x46EB5926, 0x582E, 0x4017, {0x9F, 0xDF, 0xE8, 0x99, 0x8D, 0xAA, 0x09, 0x50}};
  IUnknown* extra = nullptr;
  ASSERT_EQ(S_OK, query(list, kIImageList, reinterpret_cast<void**>(&extra)));
  m_app.m_pMainWnd = nullptr;
  DestroyWindow(m_frame->m_hWnd);  // the control and the view go
  EXPECT_GE(ImageList_GetImageCount(list), 1) << "destroyed twice";
  if (ImageList_GetImageCount(list) >= 1) extra->Release();
}

// Visible dialog windows of a thread.
int VisibleDialogs(DWORD threadId) {
  struct Count { int n = 0; } count;
  EnumThreadWindows(threadId, [](HWND h, LPARAM lp) -> BOOL {
    char cls[16] = {0};
    GetClassNameA(h, cls, sizeof(cls));
    if (std::string(cls) == "#32770" && IsWindowVisible(h)) ++reinterpret_cast<Count*>(lp)->n;
    return TRUE;
  }, reinterpret_cast<LPARAM>(&count));
  return count.n;
}

TEST_F(MainFrameTest, RemovalDuringAModalDialogWaitsForItAndNeverOpensASecondLogin) {
  SetEnv("HB_FAKE_DRIVES", "E,Secret7,think of seven");
  CRovErarodView* view = m_frame->GetView();
  ASSERT_TRUE(view->IsLoggedIn());
  m_app.m_strDisk = "Q:";  // the logged-in disk is gone from here on

  // Logged in, under a message box (which disables its owner): the logout
  // waits until the box is closed.
  EnableWindow(m_frame->m_hWnd, FALSE);
  m_frame->SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
  EXPECT_TRUE(view->IsLoggedIn());
  EXPECT_TRUE(m_frame->IsRemovalPending());
  EnableWindow(m_frame->m_hWnd, TRUE);
  EXPECT_TRUE(WaitFor([&] { return !view->IsLoggedIn(); }, 10000));
  EXPECT_FALSE(m_frame->IsRemovalPending());

  // Logged out, the Disk Login dialog opened from the menu: a removal while
  // it is open opens no second one inside it.
  const DWORD uiThread = GetCurrentThreadId();
  std::atomic<int> dialogs{-1};
  std::atomic<bool> done{false};
  std::thread helper([&] {
    WaitFor([&] { return done || VisibleDialogs(uiThread) > 0; }, 60000);
    if (done) return;
    DWORD_PTR ignored = 0;
    // Returns at once unless a nested dialog's loop holds the frame.
    SendMessageTimeoutA(m_frame->m_hWnd, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0, SMTO_NORMAL,
                        8000, &ignored);
    dialogs = VisibleDialogs(uiThread);
    for (int i = 0; i < 200 && !done; ++i) {
      if (HWND d = FindThreadWindow(uiThread, "#32770", nullptr)) PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
      Sleep(50);
    }
  });
  view->OnCmdMsg(ID_LOGIN);
  done = true;
  // The helper may still be talking to this thread's windows: keep them
  // answering until it has finished.
  std::atomic<bool> finished{false};
  std::thread joiner([&] {
    helper.join();
    finished = true;
  });
  EXPECT_TRUE(WaitFor([&] { return finished.load(); }, 60000));
  joiner.join();
  EXPECT_EQ(1, dialogs.load());
  EXPECT_FALSE(view->IsLoggedIn());
  EXPECT_FALSE(m_frame->IsRemovalPending());
}

TEST_F(MainFrameTest, DiskPresenceNeedsAnExactRemovableDriveFromCOnward) {
  m_app.m_strDisk = "E:";
  EXPECT_EQ(1, m_frame->IsDiskPresent());
  m_app.m_strDisk = "e:";
  EXPECT_EQ(0, m_frame->IsDiskPresent());
  m_app.m_strDisk = "E:\\";
  EXPECT_EQ(0, m_frame->IsDiskPresent());
  m_app.m_strDisk = "C:";  // present, but not removable
  EXPECT_EQ(0, m_frame->IsDiskPresent());
  m_app.m_strDisk = "A:";
  EXPECT_EQ(0, m_frame->IsDiskPresent());
}

TEST(MainFrameStatic, OsKindsFollowTheVersionTable) {
  auto kind = [](DWORD platform, DWORD major, DWORD minor, DWORD build) {
    OSVERSIONINFOA v{};
    v.dwPlatformId = platform;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.dwBuildNumber = build;
    return CMainFrame::ClassifyOs(v);
  };
  EXPECT_EQ(1, kind(0, 3, 1, 0));
  EXPECT_EQ(2, kind(1, 4, 0, 950));
  EXPECT_EQ(3, kind(1, 4, 10, 1998));
  EXPECT_EQ(3, kind(1, 4, 89, 0));
  EXPECT_EQ(4, kind(1, 4, 90, 3000));
  EXPECT_EQ(5, kind(2, 4, 0, 1381));
  EXPECT_EQ(5, kind(2, 3, 51, 1057));
  EXPECT_EQ(6, kind(2, 5, 0, 2195));
  EXPECT_EQ(7, kind(2, 5, 0, 2196));
  EXPECT_EQ(7, kind(2, 5, 1, 2600));
  EXPECT_EQ(8, kind(2, 6, 1, 7601));
  EXPECT_EQ(7, kind(2, 10, 0, 19045));
  EXPECT_EQ(7, kind(2, 2, 0, 0));
}

TEST(MainFrameStatic, TitleFromVersionText) {
  EXPECT_EQ("Hollowbox (Version:3.2.1.72)", CMainFrame::MakeTitle("3, 2, 1, 72"));
  EXPECT_EQ("Hollowbox (Version:)", CMainFrame::MakeTitle(""));
  EXPECT_EQ("", CMainFrame::GetFileVersionText("C:\\no\\such\\file.exe"));
}

// --- Framework pieces with rules of their own.

TEST(Framework, CommandTailIsWhatFollowsTheProgramName) {
  EXPECT_EQ("FromAP", CWinApp::CommandTail("\"C:\\a b\\hollowbox.exe\" FromAP"));
  EXPECT_EQ("FromAP", CWinApp::CommandTail("C:\\x\\hollowbox.exe   FromAP"));
  EXPECT_EQ("FromAP x", CWinApp::CommandTail("hollowbox.exe FromAP x"));
  EXPECT_EQ("", CWinApp::CommandTail("\"C:\\a b\\hollowbox.exe\""));
  EXPECT_EQ("fromap", CWinApp::CommandTail("hb.exe\tfromap"));
}

TEST(Framework, MessageBoxHookAnswersWithTheDefaultButtonOrTheScriptedOne) {
  EnvGuard env({"HB_MSGBOX_LOG", "HB_MSGBOX_ANSWER"});
  std::string log = TempDir() + "hb_hook_" + std::to_string(GetCurrentProcessId()) + ".log";
  DeleteFileA(log.c_str());
  SetEnv("HB_MSGBOX_LOG", log);
  SetEnv("HB_MSGBOX_ANSWER", "");
  EXPECT_EQ(IDNO, HbMessageBox(nullptr, "two\nlines", "Cap", MB_YESNO | MB_DEFBUTTON2));
  EXPECT_EQ(IDOK, HbMessageBox(nullptr, "t", "c", MB_ICONHAND));
  SetEnv("HB_MSGBOX_ANSWER", "6");
  EXPECT_EQ(IDYES, HbMessageBox(nullptr, "t", "c", MB_YESNO | MB_DEFBUTTON2));
  auto boxes = ReadBoxLog(log);
  ASSERT_EQ(3u, boxes.size());
  EXPECT_EQ("Cap", boxes[0].caption);
  EXPECT_EQ("two\\nlines", boxes[0].text);
  EXPECT_EQ(static_cast<unsigned>(MB_YESNO | MB_DEFBUTTON2), boxes[0].style);
  DeleteFileA(log.c_str());
}

TEST(Framework, ExtractResourceWritesTheWholeResourceOrNothing) {
  std::string path = TempDir() + "hb_extract_" + std::to_string(GetCurrentProcessId()) + ".bin";
  // The toolbar table is a resource of this program too.
  ASSERT_EQ(1, CRovErarodApp::ExtractResourceToFile(path.c_str(), IDR_TOOLBAR, MAKEINTRESOURCEA(241)));
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  EXPECT_EQ(20u, GetFileSize(f, nullptr));  // 4 header words + 6 ids
  CloseHandle(f);
  EXPECT_EQ(0, CRovErarodApp::ExtractResourceToFile(path.c_str(), 999, "UDLL"));
  // A folder in the way: nothing written, 0.
  DeleteFileA(path.c_str());
  CreateDirectoryA(path.c_str(), nullptr);
  EXPECT_EQ(0, CRovErarodApp::ExtractResourceToFile(path.c_str(), IDR_TOOLBAR, MAKEINTRESOURCEA(241)));
  RemoveDirectoryA(path.c_str());
}

TEST(Framework, ModelessDialogLivesUntilItEnds) {
  struct Probe : CDialog {
    Probe() : CDialog(138) {}  // the progress dialog template
    bool initialised = false, gone = false;
    BOOL OnInitDialog() override { initialised = true; return TRUE; }
    void PostNcDestroy() override { gone = true; }
  } dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  EXPECT_TRUE(dlg.initialised);
  EXPECT_FALSE(dlg.IsModal());
  HWND h = dlg.m_hWnd;
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(&dlg, CWnd::FromHandle(h));
  dlg.EndDialog(IDCANCEL);  // modeless: destroys the window
  EXPECT_FALSE(IsWindow(h));
  EXPECT_TRUE(dlg.gone);
  EXPECT_EQ(nullptr, dlg.m_hWnd);
}

TEST(Framework, ClockUsesTheLocalisedDayHalves) {
  SYSTEMTIME t{};
  t.wYear = 2024; t.wMonth = 3; t.wDay = 9; t.wHour = 0; t.wMinute = 5;
  EXPECT_EQ("2024/03/09 " + LoadResString(IDS_AM) + " 12:05", CRovErarodView::FormatClock(t));
  t.wHour = 13;
  EXPECT_EQ("2024/03/09 " + LoadResString(IDS_PM) + " 01:05", CRovErarodView::FormatClock(t));
}

// --- Resources.

// One string of a language's string table, read straight from the resource
// block (LoadString cannot pick the language).
std::wstring StringIn(LANGID lang, UINT id) {
  HMODULE mod = GetModuleHandleA(nullptr);
  HRSRC res = FindResourceExW(mod, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1), lang);
  if (!res) return L"<missing>";
  const WCHAR* p = static_cast<const WCHAR*>(LockResource(LoadResource(mod, res)));
  for (UINT i = 0; i < id % 16; ++i) p += 1 + *p;
  return std::wstring(p + 1, *p);
}

TEST(Resources, EveryLanguageHasEveryStringAndEnglishKeepsQuotesAndBlanks) {
  const UINT ids[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 17, 19, 20, 22, 23, 24, 25, 26, 27, 28, 29,
                      30, 31, 32, 33, 34, 35, 36, 37, 45, 72, 73, 74, 75, 128, 333, 334, 353, 32771, 32772, 32773,
                      32777, 57345, 57634, 57635, 57637, 57665, 59137, 59138, 59139};
  const LANGID langs[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                          MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL),
                          MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT),
                          MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)};
  for (LANGID lang : langs) {
    for (UINT id : ids) {
      std::wstring s = StringIn(lang, id);
      EXPECT_FALSE(s.empty()) << "lang " << lang << " id " << id;
      EXPECT_NE(L"<missing>", s) << "lang " << lang << " id " << id;
      // Format strings keep their conversions in every language.
      if (id == 9 || id == 22 || id == 23 || id == 26 || id == 32 || id == 35 || id == 36 || id == 72 ||
          id == 75) {
        EXPECT_NE(std::wstring::npos, s.find(L"%s")) << "lang " << lang << " id " << id;
      }
      if (id == 73 || id == 74) {  // the name, then a folder or a path
        const size_t first = s.find(L"%s");
        EXPECT_NE(std::wstring::npos, first == std::wstring::npos ? first : s.find(L"%s", first + 2))
            << "lang " << lang << " id " << id;
      }
      if (id == 35) {
        EXPECT_NE(std::wstring::npos, s.find(L"%.1f")) << "lang " << lang;
      }
    }
    if (lang != langs[0]) {  // really translated
      EXPECT_NE(StringIn(langs[0], 31), StringIn(lang, 31)) << "lang " << lang;
    }
  }
  const LANGID en = langs[0];
  EXPECT_EQ(L"Are you sure you want to delete file \"%s\"?", StringIn(en, 9));
  EXPECT_EQ(L"Wrong Password !  Please try again.", StringIn(en, 31));
  EXPECT_EQ(L"Add failure beacuse cannot open the file \"%s\".", StringIn(en, 36));
  EXPECT_EQ(L"Security Folder\n\nDovIvo\n\n\nRovErarod.Document\nDovIvo Document", StringIn(en, 128));
  EXPECT_EQ(L" ", StringIn(en, 333));
  EXPECT_EQ(L"Delete select folder/file\nDelete File", StringIn(en, 32773));
  EXPECT_EQ(L"\u00ab%s\u00bb was changed. Put the changed file back into the vault?", StringIn(en, 72));
  // A Japanese text survives the UTF-8 source intact.
  EXPECT_EQ(L"\u30ed\u30b0\u30a4\u30f3", StringIn(langs[2], 33));  // ログイン
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// The self-delete script never removes the temporary folder, whichever
// form (8.3 or long) the temporary folder and the program's folder are
// named in.
TEST(SelfDeleteScript, TemporaryFolderIsKeptInEitherNameForm) {
  std::string longFolder = TempDir() + "hb self delete long folder name";
  CreateDirectoryA(longFolder.c_str(), nullptr);
  ASSERT_TRUE(DirExists(longFolder));
  char shortBuf[MAX_PATH] = {0};
  ASSERT_NE(0u, GetShortPathNameA(longFolder.c_str(), shortBuf, MAX_PATH));
  const std::string shortFolder = shortBuf;
  ASSERT_NE(shortFolder, longFolder) << "no 8.3 name to test with";
  const std::string script = longFolder + "\\DelQV.bat";
  struct Case {
    std::string exe, temp;
    bool removesFolder;
  } cases[] = {
      {shortFolder + "\\hollowbox.exe", longFolder + "\\", false},
      {longFolder + "\\hollowbox.exe", shortFolder + "\\", false},
      {longFolder + "\\hollowbox.exe", longFolder, false},
      {longFolder + "\\sub\\hollowbox.exe", longFolder + "\\", true},
      {longFolder + "\\hollowbox.exe", TempDir(), true},
  };
  for (const Case& c : cases) {
    std::string text = CRovErarodApp::SelfDeleteScriptText(c.exe, c.temp, script);
    EXPECT_EQ(c.removesFolder, text.find("rmdir") != std::string::npos) << c.exe << " / " << c.temp;
    EXPECT_NE(std::string::npos, text.find("del \"" + c.exe + "\"")) << text;
  }
  RemoveDirectoryA(longFolder.c_str());
}
