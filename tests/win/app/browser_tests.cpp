// In-process tests of the folder view over vaults on disk E: of the test
// prefix.  The vaults are made by hollowbox-vault.exe from generated files
// with chosen sizes and times; the view is driven through the frame the way
// the menu, the toolbar and the list control's notifications drive it.  The
// device library beside the program is the scriptable fake.
#include <algorithm>

#include "BrowserFixture.h"

using namespace hbtest;

namespace {

std::string LocalDate(FILETIME utc) {
  FILETIME local;
  SYSTEMTIME st;
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &st);
  return CRovErarodView::FormatClock(st);
}

TEST_F(BrowserTest, RootRowsCellsAndOrderAfterLogin) {
  MakeStandardVault();
  Open(true, 6);
  EXPECT_EQ((std::vector<std::string>{"Docs", "Pics", "a.log", "b.txt", "c.dat", "Zed.TXT"}),
            Column(0));
  EXPECT_EQ((std::vector<std::string>{"", "", "4.9 KB", "2.0 KB", "10 Bytes", ""}), Column(1));
  std::vector<std::string> type = Column(3);
  EXPECT_EQ(LoadResString(IDS_FOLDER), type[0]);
  EXPECT_EQ(LoadResString(IDS_FOLDER), type[1]);
  EXPECT_EQ(type[3], type[5]);  // .txt and .TXT: one type, one cache record
  EXPECT_EQ(m_view->GetRowImage(3), m_view->GetRowImage(5));
  std::vector<std::string> date = Column(4);
  EXPECT_EQ(LocalDate(Utc(2021, 3, 3, 12, 0)), date[2]);
  EXPECT_EQ(LocalDate(Utc(2020, 1, 1, 15, 30)), date[3]);
  EXPECT_EQ(LocalDate(Utc(2019, 9, 9, 23, 59)), date[5]);
  // Packed sizes: empty exactly where nothing was stored.
  std::vector<std::string> packed = Column(2);
  EXPECT_EQ("", packed[0]);
  EXPECT_NE("", packed[2]);
  // Folder rows have image 0, file rows never.
  for (int i = 0; i < 6; ++i) EXPECT_EQ(i < 2, m_view->IsFolderRow(i)) << i;
  EXPECT_EQ(3u, m_view->GetIconCacheSize());  // LOG, TXT, DAT
  // Status panes: free space of E:, the clock.
  std::string free = m_frame->GetStatusBar().GetPaneText(1);
  EXPECT_EQ(0u, free.find("E: Free Space: ")) << free;
  EXPECT_FALSE(m_frame->GetStatusBar().GetPaneText(2).empty());
  EXPECT_TRUE(IsWindowEnabled(m_view->m_hWnd));
  EXPECT_EQ(0, Arrow(0));
}

TEST_F(BrowserTest, ColumnClicksSortWithFoldersFirstAscendingAndLastDescending) {
  MakeStandardVault();
  Open(true, 6);
  auto files = [&] {
    std::vector<std::string> names = Column(0), out;
    for (int i = 0; i < m_view->GetItemCount(); ++i)
      if (!m_view->IsFolderRow(i)) out.push_back(names[static_cast<size_t>(i)]);
    return out;
  };
  auto foldersAt = [&](int first) {
    return m_view->IsFolderRow(first) && m_view->IsFolderRow(first + 1);
  };

  ClickColumn(1);  // Size ascending
  EXPECT_EQ(1, m_view->GetSortColumn());
  EXPECT_TRUE(m_view->IsSortAscending());
  EXPECT_TRUE(foldersAt(0));
  EXPECT_EQ((std::vector<std::string>{"Zed.TXT", "c.dat", "b.txt", "a.log"}), files());
  EXPECT_EQ(-1, Arrow(0));
  EXPECT_EQ(0, Arrow(1));

  ClickColumn(1);  // Size descending
  EXPECT_FALSE(m_view->IsSortAscending());
  EXPECT_TRUE(foldersAt(4));
  EXPECT_EQ((std::vector<std::string>{"a.log", "b.txt", "c.dat", "Zed.TXT"}), files());
  EXPECT_EQ(1, Arrow(1));

  ClickColumn(4);  // Date: another column sorts ascending
  EXPECT_TRUE(m_view->IsSortAscending());
  EXPECT_TRUE(foldersAt(0));
  EXPECT_EQ((std::vector<std::string>{"Zed.TXT", "b.txt", "a.log", "c.dat"}), files());
  EXPECT_EQ(-1, Arrow(1));
  EXPECT_EQ(0, Arrow(4));

  ClickColumn(0);
  ClickColumn(0);  // Name descending
  EXPECT_EQ((std::vector<std::string>{"Zed.TXT", "c.dat", "b.txt", "a.log", "Pics", "Docs"}),
            Column(0));
  EXPECT_EQ(1, Arrow(0));

  ClickColumn(3);  // Type: files ordered by their type names
  EXPECT_TRUE(foldersAt(0));
  std::vector<std::string> types = Column(3);
  for (size_t i = 3; i < types.size(); ++i)
    EXPECT_LE(lstrcmpA(types[i - 1].c_str(), types[i].c_str()), 0) << i;
  ClickColumn(3);
  EXPECT_TRUE(foldersAt(4));
}

// Names in any script: rows in the user's order of letters without regard
// to case (names that differ only in case keep the order the plain locale
// comparison gave them), and a delete of some of them takes exactly those
// out of the vault.
TEST_F(BrowserTest, NamesInAnyScriptSortWithoutRegardToCaseAndGoByDelete) {
  CreateDirectoryA("E:\\diviz", nullptr);
  const std::vector<std::string> sorted = {
      u8"Ελληνικά",  u8"Папка",        "a.txt",          "A.txt",          u8"Ärger.txt",
      "b.txt",       u8"émile.txt",    u8"emoji😀.txt",  "Zed.txt",        u8"ωmega.txt",
      u8"Ωmega2.txt", u8"Кириллица.txt", u8"яблоко.txt", u8"日本語.txt"};
  std::vector<std::pair<std::string, std::string>> entries;
  for (size_t i = sorted.size(); i-- > 0;)  // stored in the reverse order
    entries.emplace_back(sorted[i] + (i < 2 ? "/" : ""), FileBytes(i < 2 ? 0 : 10 + i));
  ASSERT_TRUE(WriteVault(kVault, entries));
  Open(true, static_cast<int>(sorted.size()));
  EXPECT_EQ(sorted, Column(0));
  ClickColumn(0);  // descending: the same order backwards, folders last
  std::vector<std::string> backwards(sorted.begin() + 2, sorted.end());
  std::reverse(backwards.begin(), backwards.end());
  backwards.push_back(sorted[1]);
  backwards.push_back(sorted[0]);
  EXPECT_EQ(backwards, Column(0));

  SetEnv("HB_MSGBOX_ANSWER", "6");  // Yes
  Select(-1, false);
  for (const char* name : {u8"Папка", u8"emoji😀.txt", u8"日本語.txt"}) Select(RowOf(name));
  Command(ID_DELETE_FILE);
  std::vector<std::string> left;
  for (const auto& e : entries)
    if (e.first != u8"Папка/" && e.first != u8"emoji😀.txt" && e.first != u8"日本語.txt")
      left.push_back(e.first);
  std::sort(left.begin(), left.end());
  std::vector<std::string> stored = StoredNames(kVault);
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(left, stored);
  EXPECT_EQ(FileBytes(10 + 9), StoredContents(kVault)[u8"ωmega.txt"]);
  EXPECT_EQ(static_cast<int>(sorted.size()) - 3, m_view->GetItemCount());
}

TEST_F(BrowserTest, DoubleClickAndUpWalkTheFolderTreeAndDriveTheToolbar) {
  MakeStandardVault();
  Open(true, 6);
  EXPECT_EQ("000010", Shown());  // root, nothing selected: New Folder only

  Select(RowOf("b.txt"));
  Notify(NM_CLICK);
  EXPECT_EQ("011100", Shown());  // selection: Copy, Cut, Delete

  DoubleClick("Docs");
  EXPECT_EQ("Docs\\", m_view->GetModel().CurrentFolder());
  EXPECT_EQ((std::vector<std::string>{"Sub", "a.txt"}), Column(0));
  EXPECT_EQ(0, m_view->GetSelectedCount());
  EXPECT_EQ("100010", Shown());  // Up appears below the root

  DoubleClick("Sub");
  EXPECT_EQ((std::vector<std::string>{"deep.bin"}), Column(0));
  DoubleClick("deep.bin");  // a file row does not navigate
  EXPECT_EQ("Docs\\Sub\\", m_view->GetModel().CurrentFolder());

  Command(ID_UP_FOLDER);
  EXPECT_EQ("Docs\\", m_view->GetModel().CurrentFolder());
  EXPECT_EQ((std::vector<std::string>{"Sub", "a.txt"}), Column(0));
  Command(ID_UP_FOLDER);
  EXPECT_EQ("", m_view->GetModel().CurrentFolder());
  EXPECT_EQ(6, m_view->GetItemCount());
  EXPECT_EQ("000010", Shown());
  Command(ID_UP_FOLDER);  // at the root: nothing
  EXPECT_EQ(6, m_view->GetItemCount());

  Command(ID_SELECT_ALL);
  EXPECT_EQ(6, m_view->GetSelectedCount());
  EXPECT_EQ("011100", Shown());
  EXPECT_EQ(6, m_view->CollectSelection());
  const auto& sel = m_view->GetSelectionList();
  EXPECT_EQ("Docs\\", sel[0]);
  EXPECT_EQ("a.log", sel[2]);
  // Marking the Docs folder marks its own entry and everything below it.
  EXPECT_EQ(m_view->GetModel().EntryCount(), m_view->GetModel().MarkedCount());
}

TEST_F(BrowserTest, ContextMenusFollowTheSelection) {
  MakeStandardVault();
  Open(true, 6);
  CMenu menu;
  HMENU popup = m_view->PrepareContextMenu(&menu);
  ASSERT_NE(nullptr, popup);
  ASSERT_EQ(1, GetMenuItemCount(popup));  // nothing to paste: New Folder alone
  EXPECT_EQ(static_cast<UINT>(ID_NEW_FOLDER), GetMenuItemID(popup, 0));

  Select(0);
  popup = m_view->PrepareContextMenu(&menu);
  ASSERT_NE(nullptr, popup);
  ASSERT_EQ(5, GetMenuItemCount(popup));
  EXPECT_EQ(static_cast<UINT>(ID_EDIT_CUT), GetMenuItemID(popup, 0));
  EXPECT_EQ(static_cast<UINT>(ID_EDIT_COPY), GetMenuItemID(popup, 1));
  EXPECT_EQ(static_cast<UINT>(ID_DELETE_FILE), GetMenuItemID(popup, 3));
  EXPECT_EQ(static_cast<UINT>(ID_RENAME), GetMenuItemID(popup, 4));

  Command(ID_LOGIN);  // logout: no context menu
  EXPECT_EQ(nullptr, m_view->PrepareContextMenu(&menu));
}

TEST_F(BrowserTest, NewFolderIsWrittenToTheVaultAndATakenNameIsRefused) {
  MakeStandardVault();
  SetEnv("HB_FAKE_DRIVES", "E,pw,h");
  SetEnv("HB_FAKE_STATE", "10");  // write protected
  Open(true, 6);
  ASSERT_TRUE(NameNewFolder("Fresh"));
  ASSERT_TRUE(WaitFor([&] {
    return RowOf("Fresh") >= 0 && !m_view->IsResortPending() && m_view->GetRowEntry(RowOf("Fresh"));
  }));
  EXPECT_TRUE(Boxes().empty());
  // Sorted in among the folders at the next tick.
  EXPECT_EQ((std::vector<std::string>{"Docs", "Fresh", "Pics", "a.log", "b.txt", "c.dat",
                                      "Zed.TXT"}),
            Column(0));
  int row = RowOf("Fresh");
  EXPECT_TRUE(m_view->IsFolderRow(row));
  EXPECT_EQ(LoadResString(IDS_FOLDER), m_view->GetRowText(row, 3));
  EXPECT_FALSE(m_view->GetRowText(row, 4).empty());
  // Protection lifted for the write and put back.
  EXPECT_EQ("wp 0\nwp 1\n", WpLog());

  // The reader lists it; the tool's check accepts the vault.
  std::vector<std::string> names = StoredNames(kVault);
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Fresh/"));
  std::string out;
  EXPECT_EQ(0, RunTool(std::string("check ") + kVault, &out)) << out;

  // A name taken in another letter case: message 19, the row goes.
  ASSERT_TRUE(NameNewFolder("docs"));
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1; }));
  auto boxes = Boxes();
  EXPECT_EQ(LoadResString(IDS_ERROR_CAPTION), boxes[0].caption);
  EXPECT_EQ(LoadResString(IDS_FOLDER_EXISTS), boxes[0].text);
  EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), boxes[0].style);
  EXPECT_TRUE(WaitFor([&] { return m_view->GetItemCount() == 7; }));
  EXPECT_EQ(-1, RowOf(""));

  // An abandoned edit: the same message, nothing written.
  ASSERT_TRUE(NameNewFolder(nullptr));
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 2; }));
  EXPECT_TRUE(WaitFor([&] { return m_view->GetItemCount() == 7; }));
  EXPECT_EQ(names.size(), StoredNames(kVault).size());

  // A name in other scripts is stored and shown as typed.
  const std::string other = u8"Ωmega 日本 😀";
  ASSERT_TRUE(NameNewFolder(other.c_str()));
  ASSERT_TRUE(WaitFor([&] {
    return RowOf(other) >= 0 && !m_view->IsResortPending() && m_view->GetRowEntry(RowOf(other));
  }));
  EXPECT_EQ(3, RowOf(other));  // after the Latin folders
  names = StoredNames(kVault);
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), other + "/"));
  EXPECT_EQ(2u, Boxes().size());

  // With a row selected the command does nothing.
  Select(0);
  Command(ID_NEW_FOLDER);
  EXPECT_EQ(8, m_view->GetItemCount());
}

// The label edit of a row renames its entry in the vault: F2 on a file,
// the menu's Rename on a folder (its subtree follows), a slow second click,
// a name taken in another case, an unusable name, Esc.
TEST_F(BrowserTest, RenameEditsTheLabelAndRenamesTheEntriesInTheVault) {
  MakeStandardVault();
  SetEnv("HB_FAKE_DRIVES", "E,pw,h");
  SetEnv("HB_FAKE_STATE", "10");  // write protected
  Open(true, 6);
  std::map<std::string, std::string> expected = StoredContents(kVault);
  auto editControl = [&] { return reinterpret_cast<HWND>(m_view->SendMessage(LVM_GETEDITCONTROL)); };
  auto type = [&](const char* text, UINT key) {
    HWND edit = editControl();
    if (!edit) return false;
    if (text) SetWindowTextW(edit, fileio::Widen(text).c_str());
    SendMessageW(edit, WM_KEYDOWN, key, 0);
    return true;
  };
  auto selectedRow = [&] {
    return static_cast<int>(m_view->SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  };

  // A file row by F2, through the frame's accelerators.
  Select(RowOf("b.txt"));
  const std::string size = m_view->GetRowText(RowOf("b.txt"), 1);
  const std::string date = m_view->GetRowText(RowOf("b.txt"), 4);
  MSG f2{m_view->m_hWnd, WM_KEYDOWN, VK_F2, 0x003C0001, 0, {0, 0}};
  EXPECT_TRUE(m_app.PreTranslateMessage(&f2));
  ASSERT_NE(nullptr, editControl());
  EXPECT_EQ("b.txt", WindowText(editControl()));
  ASSERT_TRUE(type("Beta.md", VK_RETURN));
  ASSERT_TRUE(WaitFor([&] { return RowOf("Beta.md") >= 0; }));
  EXPECT_EQ(-1, RowOf("b.txt"));
  EXPECT_EQ(RowOf("Beta.md"), selectedRow());
  EXPECT_EQ(1u, m_view->GetSelectedCount());
  EXPECT_EQ(size, m_view->GetRowText(RowOf("Beta.md"), 1));
  EXPECT_EQ(date, m_view->GetRowText(RowOf("Beta.md"), 4));
  expected["Beta.md"] = expected["b.txt"];
  expected.erase("b.txt");
  EXPECT_EQ(expected, StoredContents(kVault));
  EXPECT_EQ("wp 0\nwp 1\n", WpLog());  // protection lifted for the write and put back

  // A folder row by the context menu's command: everything below follows.
  Select(-1, false);
  Select(RowOf("Docs"));
  Command(ID_RENAME);
  ASSERT_TRUE(type("Papers", VK_RETURN));
  ASSERT_TRUE(WaitFor([&] { return RowOf("Papers") >= 0; }));
  EXPECT_TRUE(m_view->IsFolderRow(RowOf("Papers")));
  EXPECT_EQ(RowOf("Papers"), selectedRow());
  std::map<std::string, std::string> moved;
  for (const auto& e : expected)
    moved[e.first.compare(0, 5, "Docs/") == 0 ? "Papers/" + e.first.substr(5) : e.first] = e.second;
  expected = moved;
  EXPECT_EQ(expected, StoredContents(kVault));
  std::string out;
  EXPECT_EQ(0, RunTool(std::string("check ") + kVault, &out)) << out;
  EXPECT_TRUE(Boxes().empty());

  // A name another row has in another case: a message of its own, the edit
  // open again with the typed name, the vault as it was.
  Select(-1, false);
  Select(RowOf("c.dat"));
  Command(ID_RENAME);
  ASSERT_TRUE(type("ZED.txt", VK_RETURN));
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1 && editControl() != nullptr; }));
  EXPECT_EQ(FormatString(LoadResString(IDS_RENAME_TAKEN).c_str(), "ZED.txt"), Boxes()[0].text);
  EXPECT_EQ(LoadResString(IDS_ERROR_CAPTION), Boxes()[0].caption);
  EXPECT_EQ("ZED.txt", WindowText(editControl()));
  // An unusable name: message 38, the edit open again.
  ASSERT_TRUE(type("a:b", VK_RETURN));
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 2 && editControl() != nullptr; }));
  EXPECT_EQ(LoadResString(IDS_FOLDER_NAME_INVALID), Boxes()[1].text);
  EXPECT_EQ("a:b", WindowText(editControl()));
  // Esc ends it: nothing written.
  ASSERT_TRUE(type(nullptr, VK_ESCAPE));
  ASSERT_TRUE(WaitFor([&] { return editControl() == nullptr && !m_view->IsRenamePending(); }));
  EXPECT_EQ(RowOf("c.dat"), selectedRow());
  EXPECT_EQ(expected, StoredContents(kVault));

  // A change of case only is a rename.
  Select(-1, false);
  Select(RowOf("a.log"));
  Command(ID_RENAME);
  ASSERT_TRUE(type("A.log", VK_RETURN));
  ASSERT_TRUE(WaitFor([&] { return RowOf("A.log") >= 0; }));
  expected["A.log"] = expected["a.log"];
  expected.erase("a.log");
  EXPECT_EQ(expected, StoredContents(kVault));

  // A slow second click on a selected row's label opens the edit too.
  HWND frame = m_frame->m_hWnd;
  SetWindowPos(frame, HWND_TOP, 40, 40, 760, 520, SWP_SHOWWINDOW);
  SetForegroundWindow(frame);
  Select(-1, false);
  RECT label{LVIR_LABEL, 0, 0, 0};
  m_view->SendMessage(LVM_GETITEMRECT, RowOf("c.dat"), reinterpret_cast<LPARAM>(&label));
  POINT at{label.left + 8, (label.top + label.bottom) / 2};
  ClientToScreen(m_view->m_hWnd, &at);
  auto click = [&] {
    INPUT in[3] = {};
    in[0].type = in[1].type = in[2].type = INPUT_MOUSE;
    in[0].mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in[0].mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(3, in, sizeof(INPUT));
  };
  click();  // selects the row
  ASSERT_TRUE(WaitFor([&] { return selectedRow() == RowOf("c.dat"); }));
  const DWORD first = GetTickCount();
  WaitFor([&] { return GetTickCount() - first > GetDoubleClickTime() + 200; });
  ASSERT_EQ(nullptr, editControl());
  click();
  ASSERT_TRUE(WaitFor([&] { return editControl() != nullptr; }));
  EXPECT_EQ("c.dat", WindowText(editControl()));
  ASSERT_TRUE(type(nullptr, VK_ESCAPE));
  ASSERT_TRUE(WaitFor([&] { return !m_view->IsRenamePending(); }));

  // Two rows selected: no edit.
  Select(RowOf("A.log"));
  Command(ID_RENAME);
  EXPECT_EQ(nullptr, editControl());
  EXPECT_EQ(expected, StoredContents(kVault));
  EXPECT_EQ(2u, Boxes().size());
}

TEST_F(BrowserTest, NewFolderOnADiskWithoutVaultCreatesTheVault) {
  Open(true, 0);
  EXPECT_TRUE(DirExists("E:\\diviz"));
  ASSERT_TRUE(NameNewFolder("First"));
  ASSERT_TRUE(WaitFor([&] { return RowOf("First") >= 0 && m_view->GetRowEntry(RowOf("First")); }));
  EXPECT_EQ(std::vector<std::string>{"First/"}, StoredNames(kVault));
  EXPECT_EQ("", WpLog());  // the device library lists no disk: no protection calls
  DoubleClick("First");
  EXPECT_EQ("First\\", m_view->GetModel().CurrentFolder());
  EXPECT_EQ(0, m_view->GetItemCount());
}

TEST_F(BrowserTest, VanishedVaultEmptiesTheListAtTheNextTick) {
  MakeStandardVault();
  Open(true, 6);
  DoubleClick("Docs");
  ASSERT_EQ(2, m_view->GetItemCount());
  ASSERT_TRUE(DeleteFileA(kVault));
  ASSERT_TRUE(WaitFor([&] { return m_view->GetItemCount() == 0; }));
  EXPECT_EQ("", m_view->GetModel().CurrentFolder());
  EXPECT_EQ(0u, m_view->GetModel().EntryCount());
  EXPECT_EQ("000010", Shown());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(BrowserTest, LogoutEmptiesTheListAndHidesEveryButton) {
  MakeStandardVault();
  Open(true, 6);
  ClickColumn(2);
  EXPECT_EQ(0, Arrow(2));
  Command(ID_LOGIN);  // logged in: logs out
  EXPECT_FALSE(m_view->IsLoggedIn());
  EXPECT_EQ("", m_app.m_strPassword);
  EXPECT_EQ("E:", m_app.m_strDisk);
  EXPECT_EQ("", m_view->GetVaultPath());
  EXPECT_EQ("000000", Shown());
  EXPECT_FALSE(IsWindowEnabled(m_view->m_hWnd));
  EXPECT_EQ("", m_frame->GetStatusBar().GetPaneText(1));
  EXPECT_EQ(0, m_view->GetSortColumn());
  ASSERT_TRUE(WaitFor([&] { return m_view->GetItemCount() == 0; }));
  // Column clicks are ignored while logged out.
  ClickColumn(3);
  EXPECT_EQ(0, m_view->GetSortColumn());
  for (int c = 0; c < 5; ++c) EXPECT_EQ(-1, Arrow(c)) << c;

  // The view's side of a login loads the vault again.
  m_view->LoginTo("E:", "pw2");
  EXPECT_TRUE(m_view->IsLoggedIn());
  EXPECT_EQ("pw2", m_app.m_strPassword);
  EXPECT_EQ(6, m_view->GetItemCount());
  EXPECT_EQ("000010", Shown());
  EXPECT_TRUE(IsWindowEnabled(m_view->m_hWnd));
  EXPECT_EQ(0, Arrow(0));
}

TEST_F(BrowserTest, StartedWithoutDiskTheListIsDisabledAndEmpty) {
  MakeStandardVault();
  Open(false, 0);
  EXPECT_FALSE(m_view->IsLoggedIn());
  EXPECT_EQ("", m_view->GetVaultPath());
  EXPECT_FALSE(IsWindowEnabled(m_view->m_hWnd));
  EXPECT_EQ("000000", Shown());
  // Give the one-shot load its chance: it finds nothing to open.
  DWORD start = GetTickCount();
  WaitFor([&] { return GetTickCount() - start > 1000; }, 5000);
  EXPECT_EQ(0, m_view->GetItemCount());
}

// --- Vault binding services.

TEST(ViewServices, FolderChainCreatesEachPrefixAndOnlyBelowADriveRoot) {
  std::string base = TempDir() + "hb_chain_" + std::to_string(GetCurrentProcessId());
  CRovErarodView::CreateFolderChain(base + "\\a\\b\\file.txt", false);
  EXPECT_TRUE(DirExists(base + "\\a\\b"));
  EXPECT_FALSE(DirExists(base + "\\a\\b\\file.txt"));
  CRovErarodView::CreateFolderChain(base + "\\a\\b\\c", true);
  EXPECT_TRUE(DirExists(base + "\\a\\b\\c"));
  CRovErarodView::CreateFolderChain("relative\\dir\\x", true);  // no ":\": nothing
  EXPECT_FALSE(DirExists("relative"));
  RemoveTree(base);
}

// The toolbar is dragged by its gripper with real mouse input to each side
// of the frame and off it, and works wherever it is.
TEST_F(BrowserTest, TheToolbarDocksOnEachSideAndFloatsUnderTheMouse) {
  MakeStandardVault();
  Open(true, 6);
  HWND frame = m_frame->m_hWnd;
  SetWindowPos(frame, HWND_TOP, 40, 40, 760, 520, SWP_SHOWWINDOW);
  SetForegroundWindow(frame);
  CDockBar& dock = m_frame->GetDockBar();
  HWND bar = dock.GetDockWindow();
  HWND tb = m_frame->GetToolBar().m_hWnd;
  auto screenRect = [](HWND h) { RECT r{}; GetWindowRect(h, &r); return r; };
  auto mouseTo = [](POINT p) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = MulDiv(p.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = MulDiv(p.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof(in));
  };
  auto clicks = [](int count) {
    std::vector<INPUT> ins;
    for (int i = 0; i < 2 * count; ++i) {
      INPUT in{};
      in.type = INPUT_MOUSE;
      in.mi.dwFlags = i % 2 ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
      ins.push_back(in);
    }
    SendInput(static_cast<UINT>(ins.size()), ins.data(), sizeof(INPUT));
  };
  auto button = [](bool down) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &in, sizeof(in));
  };
  auto gripper = [&] {
    RECT g = dock.GetGripperRect();
    MapWindowPoints(bar, nullptr, reinterpret_cast<POINT*>(&g), 2);
    return POINT{(g.left + g.right) / 2, (g.top + g.bottom) / 2};
  };
  // Holds the bar at from, shows the outline on the way to to, drops it.
  auto drag = [&](POINT from, POINT to, CDockBar::Side expect) {
    mouseTo(from);
    button(true);
    EXPECT_TRUE(WaitFor([&] { return dock.IsDragging(); }, 10000));
    mouseTo(POINT{(from.x + to.x) / 2, (from.y + to.y) / 2});
    mouseTo(to);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(dock.GetOutlineWindow()) != FALSE; }, 10000));
    button(false);
    EXPECT_TRUE(WaitFor([&] { return !dock.IsDragging() && dock.GetSide() == expect; }, 10000))
        << dock.GetSide() << " instead of " << expect;
  };
  RECT client{};
  GetClientRect(frame, &client);
  MapWindowPoints(frame, nullptr, reinterpret_cast<POINT*>(&client), 2);
  const RECT status = screenRect(m_frame->GetStatusBar().m_hWnd);
  EXPECT_EQ(client.bottom, status.bottom);
  const int midX = (client.left + client.right) / 2, midY = (client.top + status.top) / 2;
  // Every button shows for the layout checks; the view's state hides them again.
  const UINT ids[] = {ID_UP_FOLDER, ID_EDIT_COPY, ID_EDIT_CUT, ID_DELETE_FILE, ID_NEW_FOLDER,
                      ID_EDIT_PASTE};

  const struct { CDockBar::Side side; POINT to; } sides[] = {
      {CDockBar::kLeft, {client.left + 3, midY}},
      {CDockBar::kRight, {client.right - 3, midY}},
      {CDockBar::kBottom, {midX, status.top - 3}},
      {CDockBar::kTop, {midX, client.top + 3}},
  };
  for (const auto& s : sides) {
    drag(gripper(), s.to, s.side);
    for (UINT id : ids) m_frame->GetToolBar().HideButton(id, false);
    m_frame->RecalcLayout();
    EXPECT_EQ(bar, GetParent(tb));
    EXPECT_EQ(frame, GetParent(bar));
    const RECT b = screenRect(bar), v = screenRect(m_view->m_hWnd);
    const bool vertical = s.side == CDockBar::kLeft || s.side == CDockBar::kRight;
    EXPECT_EQ(vertical, (GetWindowLongA(tb, GWL_STYLE) & CCS_VERT) != 0);
    // The bar runs along its side; the list takes the rest above the status bar.
    RECT expectBar{client.left, client.top, client.right, status.top};
    RECT expectView = expectBar;
    switch (s.side) {
      case CDockBar::kLeft: expectBar.right = b.right; expectView.left = b.right; break;
      case CDockBar::kRight: expectBar.left = b.left; expectView.right = b.left; break;
      case CDockBar::kBottom: expectBar.top = b.top; expectView.bottom = b.top; break;
      default: expectBar.bottom = b.bottom; expectView.top = b.bottom; break;
    }
    EXPECT_TRUE(EqualRect(&expectBar, &b)) << "bar on side " << s.side;
    EXPECT_TRUE(EqualRect(&expectView, &v)) << "list beside side " << s.side;
    EXPECT_EQ(client.bottom, screenRect(m_frame->GetStatusBar().m_hWnd).bottom);
    // Six buttons in one row, or in one column at the sides.
    RECT first{}, last{};
    SendMessageA(tb, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    SendMessageA(tb, TB_GETITEMRECT, 5, reinterpret_cast<LPARAM>(&last));
    if (vertical) {
      EXPECT_EQ(first.left, last.left);
      EXPECT_EQ(first.top + 5 * (first.bottom - first.top), last.top);
    } else {
      EXPECT_EQ(first.top, last.top);
      EXPECT_EQ(first.left + 5 * (first.right - first.left), last.left);
    }
    m_view->UpdateToolbar();
    EXPECT_EQ("000010", Shown());
  }

  // Off the frame's edges it floats in a small tool window that the frame
  // owns, with a caption but no close box.
  DoubleClick("Docs");
  EXPECT_EQ("100010", Shown());
  m_frame->OnIdleUpdate();  // the application's idle time enables Up
  drag(gripper(), POINT{midX, midY}, CDockBar::kFloat);
  HWND floating = dock.GetFloatWindow();
  ASSERT_NE(nullptr, floating);
  EXPECT_TRUE(IsWindowVisible(floating));
  EXPECT_FALSE(IsWindowVisible(bar));
  EXPECT_EQ(floating, GetParent(tb));
  EXPECT_EQ(frame, GetWindow(floating, GW_OWNER));
  const LONG style = GetWindowLongA(floating, GWL_STYLE);
  EXPECT_EQ(static_cast<LONG>(WS_CAPTION), style & WS_CAPTION);
  EXPECT_EQ(0, style & WS_SYSMENU);
  EXPECT_NE(0, GetWindowLongA(floating, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  RECT whole{client.left, client.top, client.right, status.top};
  RECT v = screenRect(m_view->m_hWnd);
  EXPECT_TRUE(EqualRect(&whole, &v));
  // Its Up button shows its prompt while the mouse is on it and goes up.
  RECT up{};
  SendMessageA(tb, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&up));
  MapWindowPoints(tb, nullptr, reinterpret_cast<POINT*>(&up), 2);
  mouseTo(POINT{up.left + 2, up.top + 2});
  mouseTo(POINT{(up.left + up.right) / 2, (up.top + up.bottom) / 2});
  EXPECT_TRUE(WaitFor([&] { return m_frame->GetStatusBar().GetPaneText(0) == "Up Folder"; }, 10000));
  // ... and its tip, though the floating window is never the active one.
  HWND tips = reinterpret_cast<HWND>(SendMessageA(tb, TB_GETTOOLTIPS, 0, 0));
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(tips) != FALSE; }, 10000));
  clicks(1);
  EXPECT_TRUE(WaitFor([&] { return m_view->GetModel().CurrentFolder().empty(); }, 10000));
  EXPECT_TRUE(WaitFor([&] { return Shown() == "000010"; }, 10000));  // the window shrinks with it
  RECT shrunk = screenRect(floating);
  EXPECT_LT(shrunk.right - shrunk.left, up.right - up.left + (up.right - up.left));

  // A double click on its caption docks it where it was last docked (the
  // top); one on the gripper floats it again, where it was.
  RECT caption = screenRect(floating);
  mouseTo(POINT{(caption.left + caption.right) / 2,
                caption.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYSMCAPTION) / 2});
  clicks(2);
  EXPECT_TRUE(WaitFor([&] { return dock.GetSide() == CDockBar::kTop; }, 10000));
  EXPECT_EQ(bar, GetParent(tb));
  EXPECT_FALSE(IsWindowVisible(floating));
  mouseTo(gripper());
  clicks(2);
  EXPECT_TRUE(WaitFor([&] { return dock.GetSide() == CDockBar::kFloat; }, 10000));
  EXPECT_EQ(caption.left, screenRect(floating).left);
  EXPECT_EQ(caption.top, screenRect(floating).top);
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
