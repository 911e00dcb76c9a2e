// Tests of the folder view's Delete command and of the busy guard that keeps
// a long operation safe from the messages it pumps: the question, the
// progress dialog and its Cancel, the vault's entries afterwards (read back
// by the vault reader, byte for byte), the toolbar button and the key, and
// commands, clicks and closes that arrive while a delete or a new folder's
// write is running.  Also the New Folder name checks and the keys of its
// label edit.
#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "BrowserFixture.h"
#include "browser/ProgressDlg.h"
#include "browser/ReplaceConfirmDlg.h"
#include "resources/dlg_progress.h"
#include "resources/dlg_replace.h"

using namespace hbtest;

namespace {

std::string ReadWhole(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Watches the progress dialog's first line on this thread: every text set
// into it is recorded, and `onText` runs with the dialog and the number of
// texts so far (before the dialog pumps the messages that follow the text).
class ProgressWatch {
public:
  explicit ProgressWatch(std::function<void(HWND dlg, size_t count)> onText = nullptr)
      : m_onText(std::move(onText)) {
    s_current = this;
    m_hook = SetWindowsHookExW(WH_CALLWNDPROC, &Hook, nullptr, GetCurrentThreadId());
  }
  ~ProgressWatch() {
    UnhookWindowsHookEx(m_hook);
    s_current = nullptr;
  }
  std::vector<std::string> texts;
  std::vector<std::string> captions;

private:
  static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp) {
    auto* cwp = reinterpret_cast<CWPSTRUCT*>(lp);
    if (code == HC_ACTION && s_current && cwp->message == WM_SETTEXT &&
        GetDlgCtrlID(cwp->hwnd) == IDC_PROGRESS_LINE1) {
      HWND dlg = GetParent(cwp->hwnd);
      s_current->texts.push_back(fileio::Narrow(reinterpret_cast<const wchar_t*>(cwp->lParam)));
      s_current->captions.push_back(WindowText(dlg));
      if (s_current->m_onText) s_current->m_onText(dlg, s_current->texts.size());
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }

  static ProgressWatch* s_current;
  HHOOK m_hook = nullptr;
  std::function<void(HWND, size_t)> m_onText;
};
ProgressWatch* ProgressWatch::s_current = nullptr;

// The replace question among the thread's windows (it has a Replace All
// button), or null.
HWND FindReplaceDialog(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(thread, [](HWND h, LPARAM lp) -> BOOL {
    if (!GetDlgItem(h, IDC_REPLACE_ALL)) return TRUE;
    *reinterpret_cast<HWND*>(lp) = h;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&found));
  return found;
}

void ClickCancel(HWND dlg) {
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)));
}

class DeleteTest : public BrowserTest {
protected:
  void SetUp() override {
    BrowserTest::SetUp();
    MakeStandardVault();
    m_before = StoredContents(kVault);
    ASSERT_EQ(9u, m_before.size());
  }
  void SelectOnly(const std::vector<std::string>& names) {
    Select(-1, false);
    for (const std::string& n : names) {
      int row = RowOf(n);
      ASSERT_GE(row, 0) << n;
      Select(row);
    }
  }
  // The stored entries before the delete without the named ones.
  std::map<std::string, std::string> Without(const std::set<std::string>& gone) const {
    std::map<std::string, std::string> out;
    for (const auto& e : m_before)
      if (!gone.count(e.first)) out.insert(e);
    return out;
  }
  // The vault holds exactly these entries, each with exactly these bytes.
  void ExpectStored(const std::map<std::string, std::string>& expected) {
    std::map<std::string, std::string> stored = StoredContents(kVault);
    std::vector<std::string> want, have;
    for (const auto& e : expected) want.push_back(e.first);
    for (const auto& e : stored) have.push_back(e.first);
    EXPECT_EQ(want, have);
    for (const auto& e : expected) {
      auto it = stored.find(e.first);
      if (it != stored.end()) EXPECT_TRUE(it->second == e.second) << e.first << " differs";
    }
  }
  void ExpectVaultChecks() {
    std::string out;
    EXPECT_EQ(0, RunTool(std::string("check ") + kVault, &out)) << out;
  }
  bool ProgressDialogOpen() const {
    return FindThreadWindow(GetCurrentThreadId(), "#32770",
                            LoadResString(IDS_DELETE_TITLE).c_str()) != nullptr;
  }
  void AnswerYes() { SetEnv("HB_MSGBOX_ANSWER", "6"); }

  std::map<std::string, std::string> m_before;
};

TEST_F(DeleteTest, TheQuestionNamesASingleFileOnlyAndNoDeletesNothing) {
  Open(true, 6);
  const std::string one = LoadResString(IDS_DELETE_FILE);
  const std::string general = LoadResString(IDS_DELETE_SELECTION);
  struct Case {
    const char* folder;  // opened first ("" = root)
    std::vector<std::string> rows;
    std::string text;
  } cases[] = {
      {"", {"b.txt"}, FormatString(one.c_str(), "b.txt")},
      {"Docs", {"a.txt"}, FormatString(one.c_str(), "a.txt")},  // without its folder
      {"", {"Docs"}, general},                                  // a single folder
      {"", {"b.txt", "Zed.TXT"}, general},
      {"Docs", {"Sub", "a.txt"}, general},
  };
  const std::string vaultBytes = ReadWhole(kVault);
  size_t asked = 0;
  for (const Case& c : cases) {
    if (*c.folder) DoubleClick(c.folder);
    SelectOnly(c.rows);
    Command(ID_DELETE_FILE);  // no answer set: the default button, No
    std::vector<LoggedBox> boxes = Boxes();
    ASSERT_EQ(++asked, boxes.size()) << c.text;
    EXPECT_EQ(c.text, boxes.back().text);
    EXPECT_EQ(LoadResString(IDS_INFORMATION), boxes.back().caption);
    EXPECT_EQ(static_cast<unsigned>(MB_YESNO | MB_DEFBUTTON2), boxes.back().style);
    EXPECT_EQ(static_cast<int>(c.rows.size()), m_view->GetSelectedCount());
    EXPECT_EQ(0u, m_view->GetModel().MarkedCount());
    if (*c.folder) Command(ID_UP_FOLDER);
  }
  EXPECT_EQ(vaultBytes, ReadWhole(kVault));
  EXPECT_EQ(9u, m_view->GetModel().EntryCount());
  EXPECT_FALSE(ProgressDialogOpen());
}

TEST_F(DeleteTest, YesDeletesTheSelectedFilesAndKeepsEveryOtherEntryByteForByte) {
  Open(true, 6);
  AnswerYes();
  SelectOnly({"b.txt", "a.log"});
  ProgressWatch watch;
  Command(ID_DELETE_FILE);
  ExpectStored(Without({"b.txt", "a.log"}));
  ExpectVaultChecks();
  // The rows are rebuilt from what is left, nothing selected.
  EXPECT_EQ((std::vector<std::string>{"Docs", "Pics", "c.dat", "Zed.TXT"}), Column(0));
  EXPECT_EQ(7u, m_view->GetModel().EntryCount());
  EXPECT_EQ("000010", Shown());
  EXPECT_EQ(0, m_frame->GetStatusBar().GetPaneText(1).find("E: Free Space: "));
  // The progress dialog, titled "Delete File", named each file, then the
  // rewrite; it is gone now.
  const std::string deleting = LoadResString(IDS_DELETING_FILE);
  std::set<std::string> shown(watch.texts.begin(), watch.texts.end());
  EXPECT_TRUE(shown.count(FormatString(deleting.c_str(), "b.txt")));
  EXPECT_TRUE(shown.count(FormatString(deleting.c_str(), "a.log")));
  EXPECT_TRUE(shown.count(LoadResString(IDS_COMPRESSING)));
  for (const std::string& caption : watch.captions)
    EXPECT_EQ(LoadResString(IDS_DELETE_TITLE), caption);
  EXPECT_FALSE(ProgressDialogOpen());
  EXPECT_EQ(nullptr, m_view->GetProgressDialog());
}

TEST_F(DeleteTest, AFolderGoesWithEverythingBelowIt) {
  Open(true, 6);
  AnswerYes();
  SelectOnly({"Docs"});
  Command(ID_DELETE_FILE);
  ExpectStored(Without({"Docs/", "Docs/a.txt", "Docs/Sub/", "Docs/Sub/deep.bin"}));
  ExpectVaultChecks();
  EXPECT_EQ(-1, RowOf("Docs"));
  EXPECT_EQ(5, m_view->GetItemCount());
}

TEST_F(DeleteTest, CancelDuringTheShownDeletionSparesTheRest) {
  Open(true, 6);
  AnswerYes();
  SelectOnly({"a.log", "b.txt", "c.dat"});
  ProgressWatch watch([](HWND dlg, size_t count) {
    if (count == 1) ClickCancel(dlg);
  });
  Command(ID_DELETE_FILE);
  EXPECT_EQ(1, m_view->GetCancelFlag());
  // Exactly the file shown before the Cancel went.
  const std::string deleting = LoadResString(IDS_DELETING_FILE);
  std::set<std::string> gone;
  for (const char* name : {"a.log", "b.txt", "c.dat"})
    if (std::count(watch.texts.begin(), watch.texts.end(),
                   FormatString(deleting.c_str(), name)))
      gone.insert(name);
  EXPECT_EQ(1u, gone.size());
  ExpectStored(Without(gone));
  ExpectVaultChecks();
  EXPECT_EQ(5, m_view->GetItemCount());
}

TEST_F(DeleteTest, CancelInsideAFolderSparesTheFolderAndTheEntriesNotYetShown) {
  Open(true, 6);
  AnswerYes();
  SelectOnly({"Docs"});
  ProgressWatch watch([](HWND dlg, size_t count) {
    if (count == 1) ClickCancel(dlg);
  });
  Command(ID_DELETE_FILE);
  const std::string deleting = LoadResString(IDS_DELETING_FILE);
  std::string first = watch.texts.empty() ? "" : watch.texts[0];
  // The file shown first went; a sub-folder left with nothing goes with it.
  std::set<std::string> gone = {"Docs/a.txt"};
  if (first == FormatString(deleting.c_str(), "deep.bin")) gone = {"Docs/Sub/", "Docs/Sub/deep.bin"};
  ExpectStored(Without(gone));
  ExpectVaultChecks();
  EXPECT_GE(RowOf("Docs"), 0);
}

TEST_F(DeleteTest, TheToolbarButtonAndTheDeleteKeyWorkWhileRowsAreSelected) {
  Open(true, 6);
  AnswerYes();
  CToolBar& tb = m_frame->GetToolBar();
  m_frame->OnIdleUpdate();
  EXPECT_FALSE(tb.IsButtonEnabled(ID_DELETE_FILE));

  SelectOnly({"c.dat"});
  Notify(NM_CLICK);
  m_frame->OnIdleUpdate();
  EXPECT_FALSE(tb.IsButtonHidden(ID_DELETE_FILE));
  ASSERT_TRUE(tb.IsButtonEnabled(ID_DELETE_FILE));
  m_frame->SendMessage(WM_COMMAND, ID_DELETE_FILE, reinterpret_cast<LPARAM>(tb.m_hWnd));
  ExpectStored(Without({"c.dat"}));
  EXPECT_TRUE(tb.IsButtonHidden(ID_DELETE_FILE));

  // The Delete key goes through the frame's accelerators.
  SelectOnly({"Zed.TXT"});
  MSG key{m_view->m_hWnd, WM_KEYDOWN, VK_DELETE, 0x00530001, 0, {0, 0}};
  EXPECT_TRUE(m_app.PreTranslateMessage(&key));
  ExpectStored(Without({"c.dat", "Zed.TXT"}));
  EXPECT_EQ(4, m_view->GetItemCount());
  ExpectVaultChecks();
}

// --- The busy guard.

TEST_F(DeleteTest, CommandsClicksAndCloseQueuedDuringADeleteWaitOrAreRefused) {
  Open(true, 6);
  AnswerYes();
  DoubleClick("Docs");
  SelectOnly({"a.txt"});
  m_app.m_pMainWnd = nullptr;  // closing the frame must not end this thread's loop
  static NMLISTVIEW columnClick;
  bool loggedInDuring = false, closedDuring = false;
  size_t deferredDuring = 0;
  LRESULT editDuring = 0;
  ProgressWatch watch([&](HWND, size_t count) {
    if (count != 1) return;
    // Everything a user (or the system) can send while the delete runs.
    HWND frame = m_frame->m_hWnd;
    PostMessageA(frame, WM_COMMAND, ID_UP_FOLDER, 0);
    PostMessageA(frame, WM_COMMAND, ID_NEW_FOLDER, 0);
    PostMessageA(frame, WM_COMMAND, ID_SELECT_ALL, 0);
    PostMessageA(frame, WM_COMMAND, ID_DELETE_FILE, 0);
    PostMessageA(frame, WM_COMMAND, ID_RENAME, 0);
    // A slow second click on the row asks the list for its label edit.
    editDuring = m_view->SendMessage(LVM_EDITLABELW, 0);
    columnClick = NMLISTVIEW{};
    columnClick.hdr.hwndFrom = m_view->m_hWnd;
    columnClick.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(m_view->m_hWnd));
    columnClick.hdr.code = LVN_COLUMNCLICK;
    columnClick.iSubItem = 1;
    PostMessageA(frame, WM_NOTIFY, columnClick.hdr.idFrom, reinterpret_cast<LPARAM>(&columnClick));
    PostMessageA(m_view->m_hWnd, WM_TIMER, CRovErarodView::kWatchTimer, 0);
    PostMessageA(frame, WM_CLOSE, 0, 0);
    // A pulled disk asks for the logout directly.
    m_view->OnCmdMsg(ID_LOGIN);
    loggedInDuring = m_view->IsLoggedIn();
  });
  Command(ID_DELETE_FILE);
  closedDuring = m_frame->m_hWnd == nullptr;
  ASSERT_FALSE(closedDuring);
  deferredDuring = m_view->GetDeferredCount();
  EXPECT_TRUE(loggedInDuring);
  EXPECT_EQ(0, editDuring);  // no rename of a row being deleted
  EXPECT_EQ(0, m_view->SendMessage(LVM_GETEDITCONTROL));
  EXPECT_FALSE(m_view->IsRenamePending());
  EXPECT_EQ(2u, deferredDuring);  // the logout and the close
  // The delete finished where it began.
  ExpectStored(Without({"Docs/a.txt"}));
  EXPECT_EQ("Docs\\", m_view->GetModel().CurrentFolder());
  EXPECT_EQ(std::vector<std::string>{"Sub"}, Column(0));
  EXPECT_EQ(0, m_view->GetSortColumn());
  EXPECT_EQ(0, m_view->GetSelectedCount());
  EXPECT_EQ(1u, Boxes().size());  // the second Delete asked nothing
  // Then the deferred logout and close run.
  EXPECT_TRUE(WaitFor([&] { return m_frame->m_hWnd == nullptr; }, 30000));
  ExpectVaultChecks();
}

TEST_F(DeleteTest, UpAndCloseQueuedDuringANewFolderWriteWait) {
  SetEnv("HB_FAKE_DRIVES", "E,pw,h");
  Open(true, 6);
  DoubleClick("Docs");
  m_app.m_pMainWnd = nullptr;
  // The name's end is posted; the writer pumps while it writes, which is
  // when the queued Up and the click arrive.
  ASSERT_TRUE(NameNewFolder("Fresh"));
  PostMessageA(m_frame->m_hWnd, WM_COMMAND, ID_UP_FOLDER, 0);
  ASSERT_TRUE(WaitFor([&] {
    int row = RowOf("Fresh");
    return row >= 0 && m_view->GetRowEntry(row) && !m_view->IsResortPending();
  }));
  EXPECT_EQ("Docs\\", m_view->GetModel().CurrentFolder());
  EXPECT_EQ((std::vector<std::string>{"Fresh", "Sub", "a.txt"}), Column(0));
  EXPECT_EQ("Docs/Fresh/", m_view->GetRowEntry(RowOf("Fresh"))->path);
  EXPECT_TRUE(Boxes().empty());

  // A close that arrives during the write waits for the folder.
  ASSERT_TRUE(NameNewFolder("Second"));
  PostMessageA(m_frame->m_hWnd, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return m_frame->m_hWnd == nullptr; }, 30000));
  std::map<std::string, std::string> after = StoredContents(kVault);
  EXPECT_EQ(1u, after.count("Docs/Fresh/"));
  EXPECT_EQ(1u, after.count("Docs/Second/"));
  EXPECT_EQ(m_before.size() + 2, after.size());
  ExpectVaultChecks();
}

// --- The replace question of a transfer.

TEST_F(DeleteTest, ReplaceAllIsAskedOnceAndTheProgressDialogStepsAside) {
  Open(true, 6);
  m_view->BeginProgress(IDS_ADD_FILE);
  CProgressDlg* progress = m_view->GetProgressDialog();
  ASSERT_NE(nullptr, progress);
  EXPECT_EQ(LoadResString(IDS_ADD_FILE), WindowText(progress->m_hWnd));
  m_view->ProgressText("Docs/a.txt", IDS_COPY_FILE, "");
  EXPECT_TRUE(IsWindowVisible(progress->m_hWnd));

  // Answers the question with button `id` from a helper thread (and
  // cancels a question that should not have come).
  DWORD uiThread = GetCurrentThreadId();
  HWND progressWnd = progress->m_hWnd;  // the view owns the dialog
  auto ask = [&](int id, int* asked, bool* progressHidden) {
    std::atomic<bool> done{false};
    std::thread helper([&] {
      HWND dlg = nullptr;
      WaitFor([&] { return done || ((dlg = FindReplaceDialog(uiThread)) && IsWindowVisible(dlg)); },
              5000);
      if (!dlg || done) return;
      ++*asked;
      *progressHidden = !IsWindowVisible(progressWnd);
      while (!done && IsWindow(dlg)) {
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
        Sleep(50);
      }
    });
    int r = m_view->AskReplace("Docs/a.txt");
    done = true;
    helper.join();
    return r;
  };
  int asked = 0;
  bool hidden = false;
  m_view->ResetReplaceDecision();
  EXPECT_EQ(CReplaceConfirmDlg::kReplaceAll, ask(IDC_REPLACE_ALL, &asked, &hidden));
  EXPECT_EQ(1, asked);
  EXPECT_TRUE(hidden);
  EXPECT_EQ(CReplaceConfirmDlg::kReplaceAll, ask(IDCANCEL, &asked, &hidden));
  EXPECT_EQ(1, asked);  // not asked again in this transfer
  m_view->ProgressText("b.txt", IDS_COPY_FILE, "");
  EXPECT_TRUE(IsWindowVisible(progressWnd));

  m_view->ResetReplaceDecision();  // the next transfer asks again
  EXPECT_EQ(CReplaceConfirmDlg::kNo, ask(IDC_REPLACE_NO, &asked, &hidden));
  EXPECT_EQ(2, asked);
  EXPECT_EQ(CReplaceConfirmDlg::kNo, m_view->GetReplaceDecision());
  m_view->EndProgress();
  EXPECT_FALSE(IsWindow(progressWnd));
  EXPECT_EQ(nullptr, m_view->GetProgressDialog());
}

// --- New Folder: names and keys.

TEST_F(DeleteTest, AColumnClickWhileANewFolderIsNamedLeavesItsRowInPlace) {
  SetEnv("HB_FAKE_DRIVES", "E,pw,h");
  Open(true, 6);
  Select(-1, false);
  Command(ID_NEW_FOLDER);
  ASSERT_EQ(7, m_view->GetItemCount());
  ClickColumn(1);  // would sort the nameless row to the top
  EXPECT_EQ(0, m_view->GetSortColumn());
  EXPECT_EQ("", m_view->GetRowText(6, 0));
  HWND edit = reinterpret_cast<HWND>(m_view->SendMessage(LVM_GETEDITCONTROL));
  ASSERT_NE(nullptr, edit);
  SetWindowTextA(edit, "Fresh");
  SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
  ASSERT_TRUE(WaitFor([&] {
    int row = RowOf("Fresh");
    return row >= 0 && m_view->GetRowEntry(row) && !m_view->IsResortPending();
  }));
  // Every other row kept its own name and entry.
  for (int i = 0; i < m_view->GetItemCount(); ++i) {
    VaultEntry* e = m_view->GetRowEntry(i);
    ASSERT_NE(nullptr, e) << i;
    std::string name = e->path.substr(0, e->path.size() - (e->IsFolder() ? 1 : 0));
    EXPECT_EQ(name, m_view->GetRowText(i, 0));
  }
  ClickColumn(1);  // sorting works again
  EXPECT_EQ(1, m_view->GetSortColumn());
  EXPECT_EQ(1u, StoredContents(kVault).count("Fresh/"));
}


TEST_F(DeleteTest, NewFolderRefusesAnUnusableNameWithAMessageOfItsOwn) {
  Open(true, 6);
  const std::string invalid = LoadResString(IDS_FOLDER_NAME_INVALID);
  const std::string taken = LoadResString(IDS_FOLDER_EXISTS);
  ASSERT_FALSE(invalid.empty());
  ASSERT_NE(taken, invalid);
  struct Case {
    const char* name;  // null: the edit is abandoned
    std::string text;
  } cases[] = {
      {"a/b", invalid}, {"a\\b", invalid}, {"..", invalid}, {"x\tz", invalid},
      {"a:b", invalid},
      {"DOCS", taken},  {nullptr, taken},
  };
  const std::string vaultBytes = ReadWhole(kVault);
  size_t n = 0;
  for (const Case& c : cases) {
    ASSERT_TRUE(NameNewFolder(c.name));
    ASSERT_TRUE(WaitFor([&] { return Boxes().size() == n + 1; }, 30000)) << c.text;
    LoggedBox box = Boxes()[n++];
    EXPECT_EQ(c.text, box.text) << (c.name ? c.name : "(abandoned)");
    EXPECT_EQ(LoadResString(IDS_ERROR_CAPTION), box.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), box.style);
    EXPECT_TRUE(WaitFor([&] { return m_view->GetItemCount() == 6; }));
  }
  EXPECT_EQ(vaultBytes, ReadWhole(kVault));
}

TEST_F(DeleteTest, KeysReachTheLabelEditOfANewFolder) {
  Open(true, 6);
  Select(-1, false);
  Command(ID_NEW_FOLDER);
  HWND edit = reinterpret_cast<HWND>(m_view->SendMessage(LVM_GETEDITCONTROL));
  ASSERT_NE(nullptr, edit);
  SetWindowTextA(edit, "abcd");
  SendMessageA(edit, EM_SETSEL, 0, 0);
  // Delete, Shift+Delete, Ctrl+C and the rest are the edit's own keys.
  MSG key{edit, WM_KEYDOWN, VK_DELETE, 0x00530001, 0, {0, 0}};
  EXPECT_FALSE(m_app.PreTranslateMessage(&key));
  TranslateMessage(&key);
  DispatchMessageA(&key);
  EXPECT_EQ("bcd", WindowText(edit));
  // The same key on the list is the Delete command.
  MSG onList{m_view->m_hWnd, WM_KEYDOWN, VK_DELETE, 0x00530001, 0, {0, 0}};
  EXPECT_TRUE(m_app.PreTranslateMessage(&onList));
  EXPECT_TRUE(Boxes().empty());  // the nameless row is not deleted
  SendMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1; }));
  EXPECT_EQ(9u, StoredContents(kVault).size());
}

}  // namespace
