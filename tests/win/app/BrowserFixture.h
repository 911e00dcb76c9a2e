// The fixture of the in-process folder-view tests: vaults on disk E: of the
// test prefix made by hollowbox-vault.exe from generated files, a frame
// logged in to them, and the ways the menu, the toolbar and the list
// control's notifications drive the view.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "StoredEntries.h"
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "framework/WinApp.h"
#include "resources/resource.h"

namespace hbtest {

const char kVault[] = "E:\\diviz\\vfnest.vfo";

// A Linux path as Wine's drive Z: sees it.
std::string WinPath(const char* unixPath);
// Runs the vault tool with args, waits for it and collects its output.
int RunTool(const std::string& args, std::string* output = nullptr);
FILETIME Utc(WORD y, WORD mo, WORD d, WORD h, WORD mi);
// A file of `bytes` letters in a fixed pattern (see FileBytes).
void WriteFileOf(const std::string& path, size_t bytes, FILETIME modified);
std::string FileBytes(size_t bytes);
void RemoveTree(const std::string& dir);
// Every entry the reader lists with its unpacked bytes (folders: empty).
// A failing unpack gives the entry "<unpack failed>".
std::map<std::string, std::string> StoredContents(const char* vault);

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
      SetWindowTextW(edit, fileio::Widen(name).c_str());  // name in UTF-8
      SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    } else {
      SendMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
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

}  // namespace hbtest
