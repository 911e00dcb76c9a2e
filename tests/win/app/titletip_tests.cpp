// Title tips over cut-off cells of the folder view, driven with real mouse
// and keyboard input (SendInput) on the test display.  The messages are
// pumped through the application's pre-translation, as its loop does.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "browser/TitleTip.h"
#include "framework/WinApp.h"

using namespace hbtest;

namespace {

const char kVault[] = "E:\\diviz\\vfnest.vfo";
const std::string kLong1 = "A folder whose name is far too long for the Name column";
const std::string kLong2 = "Another folder with a name that the column cuts off";

class TitleTipTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetEnv("HB_FAKE_DRIVES", "");
    SetEnv("HB_MSGBOX_LOG", TempDir() + "hb_tip_boxes.log");
    DeleteFileA(kVault);
    ASSERT_TRUE(CRovErarodApp::RegisterFrameClass());
    m_app.m_strDisk = "E:";
    m_app.m_strPassword = "pw";
    ASSERT_TRUE(m_app.CreateMainWindow());
    m_frame = m_app.GetMainFrame();
    m_view = m_frame->GetView();
    SetWindowPos(m_frame->m_hWnd, HWND_TOP, 20, 20, 900, 400, SWP_SHOWWINDOW);
    SetForegroundWindow(m_frame->m_hWnd);
    SetFocus(m_view->m_hWnd);
    // Let the view's one-shot load run first: it would rebuild the rows.
    Pump(CRovErarodView::kTimerMs + 300);
    for (const std::string& name : {kLong1, kLong2, std::string("Short")}) {
      VaultEntry* created = nullptr;
      ASSERT_EQ(1, m_view->GetModel().CreateNewFolder(name, &created)) << name;
    }
    ASSERT_TRUE(m_view->LoadVaultList());
    ASSERT_EQ(3, m_view->GetItemCount());
    Pump(200);
  }

  void TearDown() override {
    m_app.m_pMainWnd = nullptr;
    if (m_frame && m_frame->m_hWnd) DestroyWindow(m_frame->m_hWnd);
    DeleteFileA(kVault);
    RemoveDirectoryA("E:\\diviz");
  }

  // The program's loop: every message is offered to the filters first.
  void PumpOnce() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (m_app.PreTranslateMessage(&msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
      PumpOnce();
      Sleep(10);
    } while (GetTickCount() - start < ms);
  }
  bool PumpUntil(const std::function<bool()>& cond, DWORD ms = 3000) {
    DWORD start = GetTickCount();
    while (!cond()) {
      if (GetTickCount() - start > ms) return false;
      PumpOnce();
      Sleep(10);
    }
    return true;
  }

  int RowOf(const std::string& name) {
    for (int i = 0; i < m_view->GetItemCount(); ++i)
      if (m_view->GetRowText(i, 0) == name) return i;
    return -1;
  }
  // Middle of a cell, in screen coordinates.
  POINT CellCentre(int row, int column) {
    RECT r{LVIR_LABEL, 0, 0, 0};  // column 0: the text part of the row
    if (column == 0) {
      m_view->SendMessage(LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    } else {
      r = RECT{LVIR_BOUNDS, column, 0, 0};
      m_view->SendMessage(LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    }
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(m_view->m_hWnd, &p);
    return p;
  }
  static void MouseTo(POINT screen) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof(in));
  }
  static void LeftClicks(int count) {
    std::vector<INPUT> ins;
    for (int i = 0; i < count; ++i) {
      for (DWORD flag : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
        INPUT in{};
        in.type = INPUT_MOUSE;
        in.mi.dwFlags = flag;
        ins.push_back(in);
      }
    }
    SendInput(static_cast<UINT>(ins.size()), ins.data(), sizeof(INPUT));
  }
  static void Key(WORD vk) {
    INPUT ins[2] = {};
    ins[0].type = ins[1].type = INPUT_KEYBOARD;
    ins[0].ki.wVk = ins[1].ki.wVk = vk;
    ins[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, ins, sizeof(INPUT));
  }
  // Moves the mouse onto a cell (from a point beside it first, so that the
  // list sees a move) and waits for the tip to come or not.
  bool HoverCell(int row, int column, bool expectTip) {
    POINT p = CellCentre(row, column);
    MouseTo(POINT{p.x + 1, p.y});
    Pump(50);
    MouseTo(p);
    if (expectTip) return PumpUntil([&] { return Tip().IsShown(); });
    Pump(300);
    return Tip().IsShown();
  }
  ZTitleTip& Tip() { return m_view->GetTitleTip(); }
  std::string TipText() { return WindowText(Tip().m_hWnd); }

  EnvGuard m_env{{"HB_FAKE_DRIVES", "HB_MSGBOX_LOG"}};
  CRovErarodApp m_app;
  CMainFrame* m_frame = nullptr;
  CRovErarodView* m_view = nullptr;
};

TEST_F(TitleTipTest, TheTipWindowIsAToolPopupOwnedByTheList) {
  HWND tip = Tip().m_hWnd;
  ASSERT_NE(nullptr, tip);
  char cls[32] = {0};
  GetClassNameA(tip, cls, sizeof(cls));
  EXPECT_STREQ("ZTitleTip", cls);
  // A popup's owner is always a top-level window: the list's frame.  The
  // tip itself keeps the list as the window it works for.
  EXPECT_EQ(GetAncestor(m_view->m_hWnd, GA_ROOT), GetWindow(tip, GW_OWNER));
  LONG_PTR style = GetWindowLongPtrA(tip, GWL_STYLE), ex = GetWindowLongPtrA(tip, GWL_EXSTYLE);
  EXPECT_EQ(WS_POPUP | WS_BORDER, style & (WS_POPUP | WS_BORDER | WS_CAPTION | WS_CHILD));
  EXPECT_EQ(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, ex & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST));
  WNDCLASSA wc{};
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "ZTitleTip", &wc));
  EXPECT_EQ(static_cast<UINT>(CS_SAVEBITS), wc.style);
  EXPECT_EQ(reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_INFOBK + 1)), wc.hbrBackground);
  EXPECT_FALSE(Tip().IsShown());
}

TEST_F(TitleTipTest, NoTipForACellThatFitsNorWithAButtonHeldNorWithoutFocus) {
  EXPECT_FALSE(HoverCell(RowOf("Short"), 0, false));
  EXPECT_FALSE(HoverCell(RowOf(kLong1), 3, false));  // "Folder" fits the Type column
  // A cut-off cell, but the left button is down (a drag or a selection).
  CRovErarodView::TitleTipCell cell;
  POINT p = CellCentre(RowOf(kLong1), 0);
  ScreenToClient(m_view->m_hWnd, &p);
  ASSERT_TRUE(m_view->FindTitleTipCell(p, &cell));
  m_view->OnListMouseMove(MK_LBUTTON, p);
  m_view->OnListMouseMove(MK_CONTROL, p);
  EXPECT_FALSE(Tip().IsShown());
  // No window of the program has the focus (another program is active).
  SetFocus(nullptr);
  m_view->OnListMouseMove(0, p);
  EXPECT_FALSE(Tip().IsShown());
  SetFocus(m_view->m_hWnd);
  m_view->OnListMouseMove(0, p);
  EXPECT_TRUE(Tip().IsShown());
  Tip().Hide();
}

TEST_F(TitleTipTest, TipLiesExactlyOverTheCutOffCellWithTheWholeText) {
  // Column 0 (text offset from the label) and a narrowed Type column
  // (offset 6) both cut their text.
  m_view->SendMessage(LVM_SETCOLUMNWIDTH, 3, MAKELPARAM(20, 0));
  struct Case { int column; std::string text; } cases[] = {{0, kLong1}, {3, "Folder"}};
  int row = RowOf(kLong1);
  for (const Case& c : cases) {
    ASSERT_TRUE(HoverCell(row, c.column, true)) << c.column;
    EXPECT_EQ(c.text, TipText());
    EXPECT_EQ(Tip().m_hWnd, GetCapture());
    CRovErarodView::TitleTipCell cell;
    POINT p = CellCentre(row, c.column);
    ScreenToClient(m_view->m_hWnd, &p);
    ASSERT_TRUE(m_view->FindTitleTipCell(p, &cell));
    EXPECT_EQ(c.column, cell.column);
    if (c.column != 0) {
      EXPECT_EQ(6, cell.offset);
    }
    RECT screen = cell.rect;
    MapWindowPoints(m_view->m_hWnd, nullptr, reinterpret_cast<POINT*>(&screen), 2);
    RECT tip{};
    GetWindowRect(Tip().m_hWnd, &tip);
    EXPECT_EQ(screen.top, tip.top) << c.column;  // one pixel above the row
    EXPECT_EQ(screen.bottom, tip.bottom) << c.column;
    EXPECT_EQ(screen.left + cell.offset - 1, tip.left) << c.column;
    EXPECT_GT(tip.right, screen.right - (cell.offset - 1)) << c.column;
    // Leaving to a point outside the cell hides it and frees the mouse.
    MouseTo(POINT{screen.left + 2, screen.bottom + 40});
    ASSERT_TRUE(PumpUntil([&] { return !Tip().IsShown(); })) << c.column;
    EXPECT_NE(Tip().m_hWnd, GetCapture());
  }
}

TEST_F(TitleTipTest, MovingToTheNeighbourHidesTheTipAndShowsTheNeighbours) {
  int first = RowOf(kLong1), second = RowOf(kLong2);
  ASSERT_TRUE(HoverCell(first, 0, true));
  EXPECT_EQ(kLong1, TipText());
  // The next row down: the tip goes, and comes back with the other text
  // once the mouse moves on that cell.
  POINT p = CellCentre(second, 0);
  MouseTo(p);
  ASSERT_TRUE(PumpUntil([&] { return Tip().IsShown() && TipText() == kLong2; }));
  // The neighbour to the right (Size, empty for a folder) fits: no tip.
  POINT size = CellCentre(second, 1);
  MouseTo(size);
  ASSERT_TRUE(PumpUntil([&] { return !Tip().IsShown(); }));
  MouseTo(POINT{size.x + 2, size.y});
  Pump(200);
  EXPECT_FALSE(Tip().IsShown());
}

TEST_F(TitleTipTest, DoubleClickThroughTheTipOpensTheFolder) {
  ASSERT_TRUE(HoverCell(RowOf(kLong2), 0, true));
  LeftClicks(2);
  ASSERT_TRUE(PumpUntil([&] { return m_view->GetModel().CurrentFolder() == kLong2 + "\\"; }))
      << "folder: " << m_view->GetModel().CurrentFolder();
  EXPECT_EQ(0, m_view->GetItemCount());
}

TEST_F(TitleTipTest, AClickOnTheTipRightAfterAClickInTheListIsADoubleClick) {
  int row = RowOf(kLong1);
  ASSERT_TRUE(HoverCell(row, 0, true));
  // What the list's own first click did: the row selected, the click noted.
  LVITEMA on{};
  on.stateMask = on.state = LVIS_SELECTED | LVIS_FOCUSED;
  m_view->SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&on));
  Tip().NoteClick();
  LeftClicks(1);
  ASSERT_TRUE(PumpUntil([&] { return m_view->GetModel().CurrentFolder() == kLong1 + "\\"; }))
      << "folder: " << m_view->GetModel().CurrentFolder();
}

TEST_F(TitleTipTest, SingleClickThroughTheTipSelectsTheRow) {
  int row = RowOf(kLong1);
  ASSERT_TRUE(HoverCell(row, 0, true));
  LeftClicks(1);
  ASSERT_TRUE(PumpUntil([&] {
    return m_view->SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) == row;
  }));
  EXPECT_EQ("", m_view->GetModel().CurrentFolder());
}

TEST_F(TitleTipTest, AKeyPressThroughTheTipReachesTheList) {
  ASSERT_TRUE(HoverCell(RowOf(kLong1), 0, true));
  Key(VK_END);
  int last = m_view->GetItemCount() - 1;
  ASSERT_TRUE(PumpUntil([&] {
    return m_view->SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED) == last;
  }));
  // The tip may be back by now: the mouse still rests on a cut-off cell.
}

}  // namespace
