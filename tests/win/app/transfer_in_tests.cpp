// Tests of the transfers into the vault: pastes of files copied and cut in
// the shell, drops, the replace questions, the Paste command's visibility,
// a paste while logged out, write protection and a locked source. The
// clipboard is filled by a window of the test's own (standing in for the
// shell); the vault is read back by the vault reader after each case.
#include <windows.h>
#include <oleidl.h>
#include <shlobj.h>

#include <atomic>
#include <thread>

#include "BrowserFixture.h"
#include "resources/dlg_progress.h"
#include "resources/dlg_replace.h"

using namespace hbtest;

namespace {

using Names = std::vector<std::string>;
using Contents = std::map<std::string, std::string>;

// A DROPFILES block with ANSI paths, or with wide ones as the shell makes it
// (paths in UTF-8).
HGLOBAL MakeDropList(const Names& paths, bool wide = false) {
  std::string list;
  for (const std::string& p : paths) {
    if (!wide) {
      list += p + '\0';
      continue;
    }
    std::wstring w = fileio::Widen(p) + L'\0';
    list.append(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(wchar_t));
  }
  list.append(wide ? 2 : 1, '\0');
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
  auto* df = static_cast<DROPFILES*>(GlobalLock(h));
  df->pFiles = sizeof(DROPFILES);
  df->fWide = wide;
  memcpy(reinterpret_cast<char*>(df) + sizeof(DROPFILES), list.data(), list.size());
  GlobalUnlock(h);
  return h;
}

// The replace question among the windows of a thread (the progress dialog
// is a dialog too), or null.
HWND ReplaceDialogOf(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread,
      [](HWND hwnd, LPARAM lp) -> BOOL {
        if (!GetDlgItem(hwnd, IDC_REPLACE_ALL)) return TRUE;
        *reinterpret_cast<HWND*>(lp) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Answers the replace questions that come up on the UI thread, in turn,
// from a helper thread; records the names asked about. Anything still open
// at the end is cancelled so that a failing test cannot hang.
class ReplaceAnswers {
public:
  explicit ReplaceAnswers(std::vector<UINT> buttons) : m_buttons(std::move(buttons)) {
    DWORD ui = GetCurrentThreadId();
    m_thread = std::thread([this, ui] {
      while (!m_stop) {
        HWND dlg = ReplaceDialogOf(ui);
        if (dlg && IsWindowVisible(dlg) && dlg != m_last) {
          m_last = dlg;
          asked.push_back(WindowText(GetDlgItem(dlg, IDC_REPLACE_NAME)));
          UINT id = asked.size() <= m_buttons.size() ? m_buttons[asked.size() - 1] : IDCANCEL;
          PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
          while (!m_stop && IsWindow(dlg)) Sleep(10);
        }
        Sleep(10);
      }
    });
  }
  ~ReplaceAnswers() {
    m_stop = true;
    m_thread.join();
  }
  std::vector<std::string> asked;

private:
  std::vector<UINT> m_buttons;
  std::atomic<bool> m_stop{false};
  HWND m_last = nullptr;
  std::thread m_thread;
};

// Records the captions of the progress dialogs whose first line is set.
class ProgressCaptions {
public:
  ProgressCaptions() {
    s_current = this;
    m_hook = SetWindowsHookExW(WH_CALLWNDPROC, &Hook, nullptr, GetCurrentThreadId());
  }
  ~ProgressCaptions() {
    UnhookWindowsHookEx(m_hook);
    s_current = nullptr;
  }
  std::vector<std::string> captions, lines;

private:
  static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp) {
    auto* cwp = reinterpret_cast<CWPSTRUCT*>(lp);
    if (code == HC_ACTION && s_current && cwp->message == WM_SETTEXT &&
        GetDlgCtrlID(cwp->hwnd) == IDC_PROGRESS_LINE1) {
      s_current->captions.push_back(WindowText(GetParent(cwp->hwnd)));
      s_current->lines.push_back(fileio::Narrow(reinterpret_cast<const wchar_t*>(cwp->lParam)));
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  static ProgressCaptions* s_current;
  HHOOK m_hook = nullptr;
};
ProgressCaptions* ProgressCaptions::s_current = nullptr;

class TransferInTest : public BrowserTest {
protected:
  void SetUp() override {
    BrowserTest::SetUp();
    CreateDirectoryA("E:\\diviz", nullptr);
    CreateDirectoryA(m_src.c_str(), nullptr);
    // The shell's stand-in: a window that owns what it puts on the clipboard.
    m_shell = CreateWindowExA(0, "STATIC", "shell", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                              nullptr);
    ASSERT_NE(nullptr, m_shell);
  }
  void TearDown() override {
    if (OpenClipboard(m_shell)) {
      EmptyClipboard();
      CloseClipboard();
    }
    DestroyWindow(m_shell);
    BrowserTest::TearDown();
  }

  // In\a.txt, In\Sub\b.txt and c.txt below the source folder.
  void MakeSources() {
    CreateDirectoryA(Src("In").c_str(), nullptr);
    CreateDirectoryA(Src("In\\Sub").c_str(), nullptr);
    WriteFileOf(Src("In\\a.txt"), 100, Utc(2019, 1, 2, 3, 4));
    WriteFileOf(Src("In\\Sub\\b.txt"), 2000, Utc(2019, 1, 2, 3, 4));
    WriteFileOf(Src("c.txt"), 50, Utc(2019, 1, 2, 3, 4));
  }
  const Contents& Tree() {
    static const Contents tree = {{"In/", ""},
                                  {"In/Sub/", ""},
                                  {"In/Sub/b.txt", FileBytes(2000)},
                                  {"In/a.txt", FileBytes(100)},
                                  {"c.txt", FileBytes(50)}};
    return tree;
  }
  std::string Src(const std::string& rel) const { return m_src + "\\" + rel; }

  // Puts a shell file list on the clipboard as a Copy (1) or Cut (2), and
  // waits until the view has taken the change in.
  void ShellClipboard(const Names& paths, DWORD effect, bool wide = false) {
    ASSERT_TRUE(OpenClipboard(m_shell));
    EmptyClipboard();
    SetClipboardData(CF_HDROP, MakeDropList(paths, wide));
    HGLOBAL e = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
    *static_cast<DWORD*>(GlobalLock(e)) = effect;
    GlobalUnlock(e);
    SetClipboardData(RegisterClipboardFormatA("Preferred DropEffect"), e);
    CloseClipboard();
    if (m_view->IsLoggedIn())
      ASSERT_TRUE(WaitFor([&] { return m_view->GetTransferMode() == effect; }, 10000));
  }
  void Drop(const Names& paths, bool wide = false) {
    m_view->SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDropList(paths, wide)));
  }
  // The one message of a transfer that left files out, as the box log
  // writes it (a line break as "\n"): one line per file.
  std::string SkippedLine(const std::string& path, UINT why) {
    return path + "  (" + LoadResString(why) + ")";
  }
  std::string SkippedText(const std::string& lines) {
    std::string text = FormatString(LoadResString(IDS_FILES_SKIPPED).c_str(), lines.c_str());
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
      text.replace(at, 1, "\\n");
    return text;
  }
  bool ClipboardHasFiles() { return IsClipboardFormatAvailable(CF_HDROP) != 0; }

  // A vault with R/ and R/x.txt, R/y.txt, R/z.txt of 10, 20 and 30 bytes;
  // the sources R\x.txt, R\y.txt, R\z.txt hold 111, 222 and 333 bytes.
  void MakeReplaceCase() {
    CreateDirectoryA(Src("old").c_str(), nullptr);
    CreateDirectoryA(Src("old\\R").c_str(), nullptr);
    WriteFileOf(Src("old\\R\\x.txt"), 10, Utc(2010, 1, 1, 0, 0));
    WriteFileOf(Src("old\\R\\y.txt"), 20, Utc(2010, 1, 1, 0, 0));
    WriteFileOf(Src("old\\R\\z.txt"), 30, Utc(2010, 1, 1, 0, 0));
    std::string out;
    ASSERT_EQ(0, RunTool(std::string("add ") + kVault + " \"" + Src("old\\R") + "\"", &out)) << out;
    CreateDirectoryA(Src("R").c_str(), nullptr);
    WriteFileOf(Src("R\\x.txt"), 111, Utc(2020, 1, 1, 0, 0));
    WriteFileOf(Src("R\\y.txt"), 222, Utc(2020, 1, 1, 0, 0));
    WriteFileOf(Src("R\\z.txt"), 333, Utc(2020, 1, 1, 0, 0));
  }
  Contents ReplaceResult(bool x, bool y, bool z) {
    return {{"R/", ""},
            {"R/x.txt", FileBytes(x ? 111 : 10)},
            {"R/y.txt", FileBytes(y ? 222 : 20)},
            {"R/z.txt", FileBytes(z ? 333 : 30)}};
  }

  HWND m_shell = nullptr;
};

}  // namespace

TEST_F(TransferInTest, PasteOfCopiedFilesStoresThemAndLeavesTheSources) {
  MakeSources();
  Open(true, 0);
  EXPECT_TRUE(m_view->IsAcceptingDrops());
  EXPECT_EQ('0', Shown()[5]);
  ShellClipboard({Src("In"), Src("c.txt")}, DROPEFFECT_COPY);
  EXPECT_EQ('1', Shown()[5]);  // Paste shows
  ProgressCaptions progress;
  Command(ID_EDIT_PASTE);
  EXPECT_EQ(Tree(), StoredContents(kVault));
  // Each folder's entry before its contents.
  EXPECT_EQ((Names{"In/", "In/Sub/", "In/Sub/b.txt", "In/a.txt", "c.txt"}), StoredNames(kVault));
  EXPECT_EQ((Names{"In", "c.txt"}), Column(0));
  EXPECT_TRUE(FileExists(Src("In\\Sub\\b.txt")));
  EXPECT_TRUE(FileExists(Src("c.txt")));
  EXPECT_TRUE(ClipboardHasFiles());
  // The first file shows at once (later ones as the 15 ms painting allows).
  ASSERT_GE(progress.captions.size(), 1u);
  EXPECT_EQ(LoadResString(IDS_ADD_FILE), progress.captions[0]);
  EXPECT_EQ(FormatString(LoadResString(IDS_COPY_FILE).c_str(), "b.txt"), progress.lines[0]);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(m_view->IsBusy());
  EXPECT_EQ(nullptr, m_view->GetProgressDialog());
}

TEST_F(TransferInTest, PasteOfCutFilesMovesThemAndEmptiesTheClipboard) {
  MakeSources();
  Open(true, 0);
  ShellClipboard({Src("In"), Src("c.txt")}, DROPEFFECT_MOVE);
  Command(ID_EDIT_PASTE);
  EXPECT_EQ(Tree(), StoredContents(kVault));
  EXPECT_FALSE(FileExists(Src("c.txt")));
  EXPECT_FALSE(FileExists(Src("In\\a.txt")));
  EXPECT_FALSE(DirExists(Src("In\\Sub")));
  EXPECT_FALSE(DirExists(Src("In")));
  EXPECT_FALSE(ClipboardHasFiles());
  EXPECT_TRUE(WaitFor([&] { return Shown()[5] == '0'; }, 10000));
}

TEST_F(TransferInTest, DropCopiesTheTreeEvenWhileAShellCutWaits) {
  MakeSources();
  WriteFileOf(Src("cut.txt"), 5, Utc(2019, 1, 1, 0, 0));
  Open(true, 0);
  ShellClipboard({Src("cut.txt")}, DROPEFFECT_MOVE);
  Drop({Src("In"), Src("c.txt"), Src("vanished.txt")});
  EXPECT_EQ(Tree(), StoredContents(kVault));
  EXPECT_TRUE(FileExists(Src("In\\Sub\\b.txt")));
  EXPECT_TRUE(FileExists(Src("c.txt")));
  EXPECT_TRUE(FileExists(Src("cut.txt")));
  EXPECT_TRUE(ClipboardHasFiles());
  // The vanished path is named in the transfer's one message.
  std::vector<LoggedBox> boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(SkippedText(SkippedLine(Src("vanished.txt"), IDS_SKIP_NOT_FOUND)), boxes[0].text);
}

TEST_F(TransferInTest, ReplaceQuestionsYesNoYes) {
  MakeReplaceCase();
  Open(true, 1);
  {
    ReplaceAnswers answers({IDOK, IDC_REPLACE_NO, IDOK});
    Drop({Src("R")});
    EXPECT_EQ((Names{"\"x.txt\"", "\"y.txt\"", "\"z.txt\""}), answers.asked);
  }
  EXPECT_EQ(ReplaceResult(true, false, true), StoredContents(kVault));
  // The replaced files are stored again at the end.
  EXPECT_EQ((Names{"R/", "R/y.txt", "R/x.txt", "R/z.txt"}), StoredNames(kVault));
}

TEST_F(TransferInTest, ReplaceAllAsksNothingMoreAndTheNextTransferAsksAgain) {
  MakeReplaceCase();
  Open(true, 1);
  {
    ReplaceAnswers answers({IDC_REPLACE_ALL});
    Drop({Src("R")});
    EXPECT_EQ(1u, answers.asked.size());
  }
  EXPECT_EQ(ReplaceResult(true, true, true), StoredContents(kVault));
  WriteFileOf(Src("R\\x.txt"), 10, Utc(2021, 1, 1, 0, 0));  // the old bytes once more
  {
    ReplaceAnswers answers({IDOK, IDCANCEL});
    Drop({Src("R")});
    EXPECT_EQ(2u, answers.asked.size());
  }
  EXPECT_EQ(ReplaceResult(false, true, true), StoredContents(kVault));
}

TEST_F(TransferInTest, CancelInTheReplaceQuestionStoresNothingMore) {
  MakeReplaceCase();
  WriteFileOf(Src("R\\zz_new.txt"), 40, Utc(2020, 1, 1, 0, 0));
  WriteFileOf(Src("later.txt"), 40, Utc(2020, 1, 1, 0, 0));
  Open(true, 1);
  Contents before = StoredContents(kVault);
  {
    ReplaceAnswers answers({IDCANCEL});
    Drop({Src("R"), Src("later.txt")});
    EXPECT_EQ(1u, answers.asked.size());
  }
  EXPECT_EQ(before, StoredContents(kVault));
  EXPECT_EQ(ReplaceResult(false, false, false), before);
}

TEST_F(TransferInTest, PasteIsHiddenWhenTheClipboardHoldsNoShellFilesOfAnotherOwner) {
  MakeSources();
  Open(true, 0);
  CMenu menu;
  auto menuHasPaste = [&] {
    HMENU popup = m_view->PrepareContextMenu(&menu);
    return popup && GetMenuState(popup, ID_EDIT_PASTE, MF_BYCOMMAND) != static_cast<UINT>(-1);
  };
  ShellClipboard({Src("c.txt")}, DROPEFFECT_COPY);
  EXPECT_TRUE(m_view->CanPaste());
  EXPECT_TRUE(menuHasPaste());
  // The view's own items: the view owns the clipboard.
  ASSERT_TRUE(OpenClipboard(m_view->m_hWnd));
  EmptyClipboard();
  SetClipboardData(CF_HDROP, MakeDropList({Src("c.txt")}));
  CloseClipboard();
  EXPECT_TRUE(WaitFor([&] { return Shown()[5] == '0'; }, 10000));
  EXPECT_FALSE(m_view->CanPaste());
  EXPECT_FALSE(menuHasPaste());
  // Something that is not a file list.
  ASSERT_TRUE(OpenClipboard(m_shell));
  EmptyClipboard();
  HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 4);
  memcpy(GlobalLock(text), "abc", 4);
  GlobalUnlock(text);
  SetClipboardData(CF_TEXT, text);
  CloseClipboard();
  EXPECT_FALSE(m_view->CanPaste());
  Command(ID_EDIT_PASTE);
  EXPECT_TRUE(StoredNames(kVault).empty());
}

TEST_F(TransferInTest, PasteWhileLoggedOutAddsNothing) {
  MakeSources();
  Open(false, 0);
  EXPECT_FALSE(m_view->IsAcceptingDrops());
  ShellClipboard({Src("In"), Src("c.txt")}, DROPEFFECT_MOVE);
  Command(ID_EDIT_PASTE);
  Drop({Src("c.txt")});
  EXPECT_FALSE(FileExists(kVault));
  EXPECT_TRUE(FileExists(Src("c.txt")));
  EXPECT_TRUE(FileExists(Src("In\\a.txt")));
}

TEST_F(TransferInTest, WriteProtectionIsLiftedForTheTransferAndPutBack) {
  MakeSources();
  SetEnv("HB_FAKE_DRIVES", "E,pw,h");
  SetEnv("HB_FAKE_STATE", "10");  // write protected
  Open(true, 0);
  Drop({Src("c.txt")});
  EXPECT_EQ("wp 0\nwp 1\n", WpLog());
  EXPECT_EQ((Names{"c.txt"}), StoredNames(kVault));
}

TEST_F(TransferInTest, ALockedSourceIsReportedAndTheOthersAreStored) {
  MakeSources();
  Open(true, 0);
  HANDLE lock = CreateFileA(Src("In\\a.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, lock);
  Drop({Src("In"), Src("c.txt")});
  CloseHandle(lock);
  Contents expected = Tree();
  expected.erase("In/a.txt");
  EXPECT_EQ(expected, StoredContents(kVault));
  std::vector<LoggedBox> boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(LoadResString(IDS_ERROR_CAPTION), boxes[0].caption);
  EXPECT_EQ(SkippedText(SkippedLine(Src("In\\a.txt"), IDS_SKIP_NOT_OPENED)), boxes[0].text);
  EXPECT_EQ((Names{"In", "c.txt"}), Column(0));
}

// Names in several scripts, one outside the Basic Multilingual Plane, go in
// by a paste (a move) and a drop, read back exactly, and show as rows. A
// name past the vault's 259 bytes (fewer characters in UTF-8) is named in
// the paste's one message, stays at its source, and the rest go in.
TEST_F(TransferInTest, NamesInAnyScriptGoInByPasteAndDropAndATooLongOneIsNamed) {
  auto mkdir = [](const std::string& p) { CreateDirectoryW(fileio::Widen(p).c_str(), nullptr); };
  const std::string accents = u8"naïve café.txt", greek = u8"Ωmega.txt",
                    cyrillic = u8"Кириллица.txt", cjk = u8"日本語.txt", astral = u8"emoji😀.txt",
                    folder = u8"Données", inFolder = u8"über.txt";
  std::string tooLong;
  for (int i = 0; i < 87; ++i) tooLong += u8"語";  // 261 bytes, 87 characters
  mkdir(Src(folder));
  WriteFileOf(Src(folder + "\\" + inFolder), 30, Utc(2019, 1, 2, 3, 4));
  WriteFileOf(Src(accents), 11, Utc(2019, 1, 2, 3, 4));
  WriteFileOf(Src(greek), 12, Utc(2019, 1, 2, 3, 4));
  WriteFileOf(Src(cyrillic), 13, Utc(2019, 1, 2, 3, 4));
  WriteFileOf(Src(tooLong), 14, Utc(2019, 1, 2, 3, 4));
  WriteFileOf(Src(cjk), 15, Utc(2019, 1, 2, 3, 4));
  WriteFileOf(Src(astral), 16, Utc(2019, 1, 2, 3, 4));
  Open(true, 0);
  ShellClipboard({Src(accents), Src(greek), Src(tooLong), Src(cyrillic), Src(folder)},
                 DROPEFFECT_MOVE, true);
  Command(ID_EDIT_PASTE);
  Drop({Src(cjk), Src(astral)}, true);
  const Contents expected = {{accents, FileBytes(11)},  {greek, FileBytes(12)},
                             {cyrillic, FileBytes(13)}, {cjk, FileBytes(15)},
                             {astral, FileBytes(16)},   {folder + "/", ""},
                             {folder + "/" + inFolder, FileBytes(30)}};
  EXPECT_EQ(expected, StoredContents(kVault));
  // Folder first, then the names in the user's order of letters.
  EXPECT_EQ((Names{folder, astral, accents, greek, cyrillic, cjk}), Column(0));
  std::vector<LoggedBox> boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(SkippedText(SkippedLine(Src(tooLong), IDS_SKIP_NAME_LENGTH)), boxes[0].text);
  // The move took what went in and left the rest; the drop copied.
  EXPECT_TRUE(FileExists(Src(tooLong)));
  EXPECT_FALSE(FileExists(Src(accents)));
  EXPECT_FALSE(DirExists(Src(folder)));
  EXPECT_TRUE(FileExists(Src(cjk)));
  EXPECT_TRUE(FileExists(Src(astral)));
}

TEST_F(TransferInTest, TheDiskWithItsOwnVaultDroppedOnItKeepsTheVaultOut) {
  MakeSources();
  WriteFileOf("E:\\diviz\\note.txt", 7, Utc(2019, 1, 1, 0, 0));
  Open(true, 0);
  Drop({Src("c.txt")});
  Drop({"E:\\diviz"});
  Contents stored = StoredContents(kVault);
  EXPECT_EQ(1u, stored.count("diviz/"));
  EXPECT_EQ(FileBytes(7), stored["diviz/note.txt"]);
  EXPECT_EQ(0u, stored.count("diviz/vfnest.vfo"));
  EXPECT_EQ(FileBytes(50), stored["c.txt"]);
  std::vector<LoggedBox> boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(FormatString(LoadResString(IDS_OWN_FILES_SKIPPED).c_str(), "vfnest.vfo"),
            boxes[0].text);
  DeleteFileA("E:\\diviz\\note.txt");
}
