// In-process tests of the folder view over vaults on disk E: of the test
// prefix.  The vaults are made by hollowbox-vault.exe from generated files
// with chosen sizes and times; the view is driven through the frame the way
// the menu, the toolbar and the list control's notifications drive it.  The
// device library beside the program is the scriptable fake.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "GuiTestSupport.h"
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "framework/WinApp.h"
#include "resources/resource.h"
#include "vault/VaultApi.h"

using namespace hbtest;

namespace {

const char kVault[] = "E:\\diviz\\vfnest.vfo";

std::string WinPath(const char* unixPath) {
  std::string p = std::string("Z:") + unixPath;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

// Runs a program, waits for it and collects its standard output.
int RunTool(const std::string& args, std::string* output = nullptr) {
  std::string outFile = TempDir() + "hb_browser_tool_" + std::to_string(GetCurrentProcessId()) + ".txt";
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + WinPath(HB_VAULT_TOOL) + "\" " + args;
  DWORD code = static_cast<DWORD>(-1);
  if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0)
      GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  if (output) {
    std::ifstream in(outFile, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    *output = ss.str();
  }
  DeleteFileA(outFile.c_str());
  return static_cast<int>(code);
}

FILETIME Utc(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
  SYSTEMTIME st{};
  st.wYear = y; st.wMonth = mo; st.wDay = d; st.wHour = h; st.wMinute = mi;
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

void WriteFileOf(const std::string& path, size_t bytes, FILETIME modified) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f) << path;
  std::string data(bytes, 'x');
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>('a' + (i * 7919) % 26);
  DWORD written = 0;
  if (bytes) WriteFile(f, data.data(), static_cast<DWORD>(bytes), &written, nullptr);
  SetFileTime(f, nullptr, nullptr, &modified);
  CloseHandle(f);
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      std::string p = dir + "\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(p);
      else
        DeleteFileA(p.c_str());
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryA(dir.c_str());
}

// Names the vault reader lists, as stored.
std::vector<std::string> StoredNames(const char* vault) {
  std::vector<std::string> names;
  VaultHandle* h = OpenVaultReader(vault, 0, kVaultSourcePath, nullptr);
  if (!h) return names;
  ZipEntryInfo info;
  int count = ReadEntryInfo(h, -1, &info) == 0 ? info.index : 0;
  for (int i = 0; i < count; ++i) {
    ZipEntryInfo e;
    if (ReadEntryInfo(h, i, &e) == 0) names.push_back(e.name);
  }
  CloseVaultHandle(h);
  return names;
}

class BrowserTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pid = std::to_string(GetCurrentProcessId());
    m_log = TempDir() + "hb_browser_boxes_" + pid + ".log";
    m_wpLog = TempDir() + "hb_browser_wp_" + pid + ".log";
    m_src = TempDir() + "hb_browser_src_" + pid;
    DeleteFileA(m_log.c_str());
    DeleteFileA(m_wpLog.c_str());
    SetEnv("HB_MSGBOX_LOG", m_log);
    SetEnv("HB_MSGBOX_ANSWER", "");
    SetEnv("HB_FAKE_DRIVES", "");
    SetEnv("HB_FAKE_DEVICE", "");
    SetEnv("HB_FAKE_STATE", "");
    SetEnv("HB_FAKE_WP_LOG", m_wpLog);
    DeleteFileA(kVault);
    RemoveTree(m_src);
    ASSERT_TRUE(CRovErarodApp::RegisterFrameClass());
  }

  void TearDown() override {
    m_app.m_pMainWnd = nullptr;
    if (m_frame && m_frame->m_hWnd) DestroyWindow(m_frame->m_hWnd);
    DeleteFileA(kVault);
    RemoveDirectoryA("E:\\diviz");
    RemoveTree(m_src);
    DeleteFileA(m_log.c_str());
    DeleteFileA(m_wpLog.c_str());
  }

  // The standard vault: two folders (one with a sub-folder) and four files
  // of different sizes, times and types.
  void MakeStandardVault() {
    CreateDirectoryA("E:\\diviz", nullptr);
    CreateDirectoryA(m_src.c_str(), nullptr);
    CreateDirectoryA((m_src + "\\Docs").c_str(), nullptr);
    CreateDirectoryA((m_src + "\\Docs\\Sub").c_str(), nullptr);
    CreateDirectoryA((m_src + "\\Pics").c_str(), nullptr);
    WriteFileOf(m_src + "\\Docs\\a.txt", 100, Utc(2018, 5, 5, 8, 0));
    WriteFileOf(m_src + "\\Docs\\Sub\\deep.bin", 3000, Utc(2018, 5, 6, 8, 0));
    WriteFileOf(m_src + "\\b.txt", 2000, Utc(2020, 1, 1, 15, 30));
    WriteFileOf(m_src + "\\c.dat", 10, Utc(2022, 7, 1, 1, 5));
    WriteFileOf(m_src + "\\a.log", 5000, Utc(2021, 3, 3, 12, 0));
    WriteFileOf(m_src + "\\Zed.TXT", 0, Utc(2019, 9, 9, 23, 59));
    std::string out;
    ASSERT_EQ(0, RunTool(std::string("add ") + kVault + " \"" + m_src + "\\Docs\" \"" + m_src +
                             "\\Pics\" \"" + m_src + "\\b.txt\" \"" + m_src + "\\c.dat\" \"" +
                             m_src + "\\a.log\" \"" + m_src + "\\Zed.TXT\"",
                         &out))
        << out;
  }

  // Creates the frame logged in to E: (or logged out) and waits for the
  // one-shot load to show `rows` rows.
  void Open(bool loggedIn, int rows) {
    m_app.m_strDisk = loggedIn ? "E:" : "";
    m_app.m_strPassword = loggedIn ? "pw" : "";
    ASSERT_TRUE(m_app.CreateMainWindow());
    m_frame = m_app.GetMainFrame();
    m_view = m_frame->GetView();
    ASSERT_NE(nullptr, m_view);
    ASSERT_TRUE(WaitFor([&] { return m_view->GetItemCount() == rows; }))
        << m_view->GetItemCount() << " rows";
  }

  std::vector<std::string> Column(int col) {
    std::vector<std::string> out;
    for (int i = 0; i < m_view->GetItemCount(); ++i) out.push_back(m_view->GetRowText(i, col));
    return out;
  }
  int RowOf(const std::string& name) {
    for (int i = 0; i < m_view->GetItemCount(); ++i)
      if (m_view->GetRowText(i, 0) == name) return i;
    return -1;
  }
  void Command(UINT id) { m_frame->SendMessage(WM_COMMAND, id, 0); }
  void Notify(UINT code, int subItem = 0) {
    NMLISTVIEW nm{};
    nm.hdr.hwndFrom = m_view->m_hWnd;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(m_view->m_hWnd));
    nm.hdr.code = code;
    nm.iItem = -1;
    nm.iSubItem = subItem;
    m_frame->SendMessage(WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
  }
  void Select(int row, bool on = true) {
    LVITEMA it{};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = on ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
    m_view->SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
  }
  void ClickColumn(int col) { Notify(LVN_COLUMNCLICK, col); }
  void DoubleClick(const std::string& name) {
    Select(-1, false);
    Select(RowOf(name));
    Notify(NM_DBLCLK);
  }
  // Which toolbar buttons are shown, in toolbar order: Up Copy Cut Delete
  // New Folder Paste, as a string of 1 (shown) and 0 (hidden).
  std::string Shown() {
    const UINT ids[] = {ID_UP_FOLDER, ID_EDIT_COPY, ID_EDIT_CUT, ID_DELETE_FILE, ID_NEW_FOLDER,
                        ID_EDIT_PASTE};
    std::string s;
    for (UINT id : ids) s += m_frame->GetToolBar().IsButtonHidden(id) ? '0' : '1';
    return s;
  }
  // Header arrow of a column: -1 none, 0 up, 1 down.
  int Arrow(int col) {
    HDITEMA item{};
    item.mask = HDI_FORMAT | HDI_IMAGE;
    SendMessageA(m_view->GetHeader(), HDM_GETITEMA, col, reinterpret_cast<LPARAM>(&item));
    return (item.fmt & HDF_IMAGE) ? item.iImage : -1;
  }
  // Starts New Folder, types name into the label edit and ends the edit
  // with Enter (or Escape when name is null).
  bool NameNewFolder(const char* name) {
    Select(-1, false);  // the command wants no selection
    int before = m_view->GetItemCount();
    Command(ID_NEW_FOLDER);
    if (m_view->GetItemCount() != before + 1) return false;
    HWND edit = reinterpret_cast<HWND>(m_view->SendMessage(LVM_GETEDITCONTROL));
    if (!edit) return false;
    if (name) {
      SetWindowTextA(edit, name);
      SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    } else {
      SendMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
    }
    return true;
  }
  std::vector<LoggedBox> Boxes() const { return ReadBoxLog(m_log); }
  std::string WpLog() const {
    std::ifstream in(m_wpLog, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  EnvGuard m_env{{"HB_MSGBOX_LOG", "HB_MSGBOX_ANSWER", "HB_FAKE_DRIVES", "HB_FAKE_DEVICE",
                  "HB_FAKE_STATE", "HB_FAKE_WP_LOG"}};
  CRovErarodApp m_app;
  CMainFrame* m_frame = nullptr;
  CRovErarodView* m_view = nullptr;
  std::string m_log, m_wpLog, m_src;
};

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
  ASSERT_EQ(4, GetMenuItemCount(popup));
  EXPECT_EQ(static_cast<UINT>(ID_EDIT_CUT), GetMenuItemID(popup, 0));
  EXPECT_EQ(static_cast<UINT>(ID_EDIT_COPY), GetMenuItemID(popup, 1));
  EXPECT_EQ(static_cast<UINT>(ID_DELETE_FILE), GetMenuItemID(popup, 3));

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

  // With a row selected the command does nothing.
  Select(0);
  Command(ID_NEW_FOLDER);
  EXPECT_EQ(7, m_view->GetItemCount());
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

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
