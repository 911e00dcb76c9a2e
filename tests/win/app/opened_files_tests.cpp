// In-process tests of opening a vault file with its program: a writable
// copy in its own folder, its watcher, the questions when it changes (after
// a save, at the program's end, at logout) and the vault read back after
// each answer, and no copy left behind after the program, the view or a
// killed instance of it ends.
#include "TransfersOutFixture.h"
#include "document/CopyPutBack.h"

using namespace hbtest;
using namespace hbout;

namespace {

// Wine's prefix knows notepad's command but not the .txt extension (nor
// another extension, in UTF-8).
void AssociateTxtWithNotepad(const std::string& extension = ".txt") {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, fileio::Widen(extension).c_str(), 0, nullptr, 0,
                      KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("txtfile"), 8);
    RegCloseKey(key);
  }
}

struct NotepadFind {
  DWORD pid = 0;
  HWND hwnd = nullptr;
};
BOOL CALLBACK FindNotepadProc(HWND hwnd, LPARAM lp) {
  char cls[64] = {0};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (lstrcmpiA(cls, "Notepad") == 0 && IsWindowVisible(hwnd)) {
    auto* f = reinterpret_cast<NotepadFind*>(lp);
    f->hwnd = hwnd;
    GetWindowThreadProcessId(hwnd, &f->pid);
    return FALSE;
  }
  return TRUE;
}
NotepadFind FindNotepad() {
  NotepadFind f;
  EnumWindows(FindNotepadProc, reinterpret_cast<LPARAM>(&f));
  return f;
}

std::vector<std::string> CopiesIn(const std::string& folder) {
  std::vector<std::string> out;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(fileio::Widen(folder + "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      out.push_back(folder + fileio::Narrow(fd.cFileName));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return out;
}

// What a program's save does: the copy truncated and written anew.
void SaveCopy(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileW(fileio::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         TRUNCATE_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << path;
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
}

std::string ReadAll(const std::string& path) {
  std::string out;
  HANDLE h = CreateFileW(fileio::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<none>";
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) out.append(buf, got);
  CloseHandle(h);
  return out;
}

void KillNotepads() {
  for (int i = 0; i < 5; ++i) {
    NotepadFind f = FindNotepad();
    if (!f.hwnd) return;
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, f.pid);
    if (p) {
      TerminateProcess(p, 0);
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
    }
  }
}

TEST_F(TransfersOutTest, DoubleClickOpensAWritableCopyInNotepadThatGoesWhenNotepadCloses) {
  AssociateTxtWithNotepad();
  KillNotepads();
  MakeStandardVault();
  Open(4);
  const std::string folder = m_view->GetOpenedCopiesFolder();
  EXPECT_EQ(TempDir() + "hbopened\\", folder);
  EXPECT_TRUE(CopiesIn(folder).empty());
  SelectOnly({"note.txt"});
  Notify(NM_DBLCLK);
  std::vector<std::string> copies = CopiesIn(folder);
  ASSERT_EQ(1u, copies.size());
  EXPECT_EQ(0u, GetFileAttributesA(copies[0].c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(".txt", copies[0].substr(copies[0].size() - 4));
  EXPECT_EQ(1, static_cast<int>(m_view->GetOpenedCopyCount()));
  NotepadFind np;
  ASSERT_TRUE(WaitFor([&] { return (np = FindNotepad()).hwnd != nullptr; }, 20000));
  // The copy holds the entry's bytes while notepad shows it.
  HANDLE f = CreateFileA(copies[0].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  char buf[64] = {0};
  DWORD got = 0;
  ReadFile(f, buf, sizeof(buf), &got, nullptr);
  CloseHandle(f);
  EXPECT_EQ("hello from the vault\r\n", std::string(buf, got));

  // The watcher wakes on the program's end (no polling to wait out).
  PostMessageA(np.hwnd, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return static_cast<int>(m_view->GetOpenedCopyCount()) == 0; }, 30000));
  EXPECT_TRUE(CopiesIn(folder).empty());
  KillNotepads();
}

// An entry whose name (extension too) is in no ANSI code page: the copy's
// path carries that extension exactly to the program started on it.
TEST_F(TransfersOutTest, AFileNamedInAnyScriptOpensWithTheProgramOfItsExtension) {
  const std::string ext = u8".テキスト", name = u8"Ωmega 日本😀" + ext;
  AssociateTxtWithNotepad(ext);
  KillNotepads();
  Build({{name, "any script\r\n", Utc(2021, 2, 3, 4, 5)}});
  Open(1);
  SelectOnly({name.c_str()});
  Notify(NM_DBLCLK);
  std::vector<std::string> copies = CopiesIn(m_view->GetOpenedCopiesFolder());
  ASSERT_EQ(1u, copies.size());
  EXPECT_EQ(ext, copies[0].substr(copies[0].size() - ext.size()));
  EXPECT_EQ(1, static_cast<int>(m_view->GetOpenedCopyCount()));  // the program did start on it
  NotepadFind np;
  ASSERT_TRUE(WaitFor([&] { return (np = FindNotepad()).hwnd != nullptr; }, 20000));
  PostMessageA(np.hwnd, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return static_cast<int>(m_view->GetOpenedCopyCount()) == 0; }, 30000));
  EXPECT_TRUE(CopiesIn(m_view->GetOpenedCopiesFolder()).empty());
  KillNotepads();
}

TEST_F(TransfersOutTest, ClosingTheProgramWhileTheFilesProgramRunsEndsTheWatcherAtOnce) {
  AssociateTxtWithNotepad();
  KillNotepads();
  MakeStandardVault();
  Open(4);
  const std::string folder = m_view->GetOpenedCopiesFolder();
  SelectOnly({"note.txt"});
  Notify(NM_DBLCLK);
  ASSERT_EQ(1u, CopiesIn(folder).size());
  ASSERT_TRUE(WaitFor([&] { return FindNotepad().hwnd != nullptr; }, 20000));
  EXPECT_EQ(1, static_cast<int>(m_view->GetOpenedCopyCount()));
  // The view's teardown wakes its watchers and waits for them; a copy still
  // held by a watcher would be spared by the final sweep, so its absence
  // right after the window is gone shows the watcher has ended.
  m_app.m_pMainWnd = nullptr;
  DestroyWindow(m_frame->m_hWnd);
  EXPECT_TRUE(CopiesIn(folder).empty());
  EXPECT_TRUE(FindNotepad().hwnd != nullptr);  // the program itself stays
  KillNotepads();
}

// The boxes of this test alone.
void FreshBoxes() {
  const std::string log = TempDir() + "hb_out_boxes_" + std::to_string(GetCurrentProcessId()) + ".log";
  DeleteFileA(log.c_str());
}
std::vector<LoggedBox> Boxes() {
  return ReadBoxLog(TempDir() + "hb_out_boxes_" + std::to_string(GetCurrentProcessId()) + ".log");
}
// A text as the box log holds it (a line break written as \n).
std::string Said(UINT id, const std::string& a, const std::string& b = std::string()) {
  std::string text = FormatString(LoadResString(id).c_str(), a.c_str(), b.c_str()), logged;
  for (char c : text) logged += c == '\n' ? std::string("\\n") : std::string(1, c);
  return logged;
}

// The standard vault logged in, files opened in notepad, and the notepads
// ended however a test ends.
class PutBackTest : public TransfersOutTest {
protected:
  void SetUp() override {
    TransfersOutTest::SetUp();
    AssociateTxtWithNotepad();
    KillNotepads();
    MakeStandardVault();
    Open(4);
    FreshBoxes();
  }
  void TearDown() override {
    KillNotepads();
    TransfersOutTest::TearDown();
  }
  // Opens the file row name with its program: the new copy's path.
  std::string OpenRow(const char* name) {
    std::vector<std::string> before = CopiesIn(m_view->GetOpenedCopiesFolder());
    SelectOnly({name});
    Notify(NM_DBLCLK);
    for (const std::string& copy : CopiesIn(m_view->GetOpenedCopiesFolder()))
      if (std::find(before.begin(), before.end(), copy) == before.end()) return copy;
    ADD_FAILURE() << "no copy of " << name;
    return std::string();
  }
};

// Each save while the program runs is asked about once; No leaves the
// vault, Yes puts the copy back under its name; a change after the last
// answer is asked about once more, at the latest when the program ends.
TEST_F(PutBackTest, EachSaveOfAnOpenedFileIsAskedAboutOnceAndYesPutsItBack) {
  const std::vector<std::string> copies = {OpenRow("note.txt")};
  NotepadFind np;
  ASSERT_TRUE(WaitFor([&] { return (np = FindNotepad()).hwnd != nullptr; }, 20000));

  SetEnv("HB_MSGBOX_ANSWER", "7");  // No
  SaveCopy(copies[0], "first save\r\n");
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1; }, 20000));
  EXPECT_EQ(Said(IDS_COPY_CHANGED, "note.txt"), Boxes()[0].text);
  EXPECT_EQ(static_cast<unsigned>(MB_YESNO | MB_ICONQUESTION), Boxes()[0].style);
  EXPECT_EQ("hello from the vault\r\n", StoredData("note.txt"));

  SetEnv("HB_MSGBOX_ANSWER", "6");  // Yes
  const std::string second = "second save, a longer text than the first\r\n";
  SaveCopy(copies[0], second);
  ASSERT_TRUE(WaitFor([&] { return StoredData("note.txt") == second; }, 20000));
  EXPECT_EQ(2u, Boxes().size());
  EXPECT_EQ(Data(2000, 4), StoredData("b.txt"));
  EXPECT_EQ(Data(70000, 3), StoredData("Docs/Sub/deep.bin"));
  // The rows show the new size once the vault has it.
  ASSERT_TRUE(WaitFor([&] { return RowOf("note.txt") >= 0 && !m_view->IsBusy(); }));
  EXPECT_EQ(4, m_view->GetItemCount());

  // A third change, then the program ends: one more question, whichever
  // comes first; No keeps the vault as the second save left it.
  SetEnv("HB_MSGBOX_ANSWER", "7");
  SaveCopy(copies[0], "third\r\n");
  PostMessageA(np.hwnd, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return m_view->GetOpenedCopyCount() == 0; }, 30000));
  EXPECT_EQ(3u, Boxes().size());
  EXPECT_EQ(second, StoredData("note.txt"));
  EXPECT_TRUE(CopiesIn(m_view->GetOpenedCopiesFolder()).empty());
}

// The entry went while its copy was open: the copy is offered back under
// its name in its folder. Then the vault itself goes: the changed copy is
// kept where the message says, not wiped.
TEST_F(PutBackTest, ACopyWhoseEntryWentIsAddedAgainOrKeptWhenTheVaultIsGone) {
  const std::vector<std::string> copies = {OpenRow("note.txt")};
  ASSERT_TRUE(WaitFor([&] { return FindNotepad().hwnd != nullptr; }, 20000));
  SetEnv("HB_MSGBOX_ANSWER", "6");
  SelectOnly({"note.txt"});
  Command(ID_DELETE_FILE);
  ASSERT_TRUE(WaitFor([&] { return m_view->GetItemCount() == 3; }));
  EntryStamp gone;
  EXPECT_FALSE(ReadEntryStamp(kVault, "note.txt", &gone));

  SaveCopy(copies[0], "written after the delete\r\n");
  ASSERT_TRUE(WaitFor([&] { return StoredData("note.txt") == "written after the delete\r\n"; }, 20000));
  ASSERT_EQ(2u, Boxes().size());  // the delete's question, then this one
  EXPECT_EQ(Said(IDS_COPY_ENTRY_GONE, "note.txt", "\\"), Boxes()[1].text);
  ASSERT_TRUE(WaitFor([&] { return m_view->GetItemCount() == 4; }));

  // The disk is gone: asked at the logout that follows, the copy stays.
  SaveCopy(copies[0], "no vault to take this\r\n");
  ASSERT_TRUE(MoveFileA(kVault, (std::string(kVault) + ".away").c_str()));
  Command(ID_LOGIN);
  EXPECT_FALSE(m_view->IsLoggedIn());
  MoveFileA((std::string(kVault) + ".away").c_str(), kVault);
  const std::string kept = KeptCopiesFolder(m_view->GetOpenedCopiesFolder()) + "note.txt";
  ASSERT_EQ(3u, Boxes().size());
  EXPECT_EQ(Said(IDS_COPY_KEEP, "note.txt", kept), Boxes()[2].text);
  EXPECT_EQ("no vault to take this\r\n", ReadAll(kept));
  EXPECT_TRUE(CopiesIn(m_view->GetOpenedCopiesFolder()).empty());
  EXPECT_EQ(0u, m_view->GetOpenedCopyCount());
  DeleteFileA(kept.c_str());
  RemoveDirectoryA(KeptCopiesFolder(m_view->GetOpenedCopiesFolder()).c_str());
}

// Logout asks about every copy whose changes are not in the vault, each on
// its own, answered No before or not; Cancel stays logged in. A copy that
// another program holds outlives the program it was opened with.
TEST_F(PutBackTest, LogoutAsksAboutEachChangedCopyFirst) {
  const std::string folder = m_view->GetOpenedCopiesFolder();
  const std::string noteCopy = OpenRow("note.txt"), bCopy = OpenRow("b.txt");
  EXPECT_EQ(2u, m_view->GetOpenedCopyCount());

  SetEnv("HB_MSGBOX_ANSWER", "7");
  SaveCopy(noteCopy, "note, changed\r\n");
  SaveCopy(bCopy, "b, changed\r\n");
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 2; }, 20000));

  // The programs end while another holds the copies open (as when the file
  // was handed on to a program already running): they stay, still watched.
  std::vector<HANDLE> held;
  for (const std::string& copy : {noteCopy, bCopy})
    held.push_back(CreateFileW(fileio::Widen(copy).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, 0, nullptr));
  KillNotepads();
  WaitFor([] { return false; }, 1500);  // the ends are posted and looked at
  for (HANDLE h : held) CloseHandle(h);
  EXPECT_EQ(2u, m_view->GetOpenedCopyCount());
  EXPECT_EQ("b, changed\r\n", ReadAll(bCopy));

  SetEnv("HB_MSGBOX_ANSWER", "2");  // Cancel
  Command(ID_LOGIN);
  EXPECT_TRUE(m_view->IsLoggedIn());
  ASSERT_EQ(3u, Boxes().size());
  EXPECT_EQ(static_cast<unsigned>(MB_YESNOCANCEL | MB_ICONQUESTION), Boxes()[2].style);
  EXPECT_EQ(2u, m_view->GetOpenedCopyCount());

  SetEnv("HB_MSGBOX_ANSWER", "6,7");  // note.txt back, b.txt not
  Command(ID_LOGIN);
  EXPECT_FALSE(m_view->IsLoggedIn());
  ASSERT_EQ(5u, Boxes().size());
  EXPECT_EQ(Said(IDS_COPY_CHANGED, "note.txt"), Boxes()[3].text);
  EXPECT_EQ(Said(IDS_COPY_CHANGED, "b.txt"), Boxes()[4].text);
  EXPECT_EQ("note, changed\r\n", StoredData("note.txt"));
  EXPECT_EQ(Data(2000, 4), StoredData("b.txt"));
  EXPECT_EQ(0u, m_view->GetOpenedCopyCount());
  EXPECT_TRUE(CopiesIn(folder).empty());
}

TEST_F(TransfersOutTest, AFileNothingOpensIsRemovedAtOnce) {
  Build({{"strange.zzqq", "data", Utc(2021, 1, 1, 0, 0)}});
  Open(1);
  SelectOnly({"strange.zzqq"});
  Notify(NM_DBLCLK);
  EXPECT_EQ(0, static_cast<int>(m_view->GetOpenedCopyCount()));
  EXPECT_TRUE(CopiesIn(m_view->GetOpenedCopiesFolder()).empty());
}

// A copy left by an instance that was killed while its file was open is
// gone once the program starts again.
TEST_F(TransfersOutTest, ACopyLeftByAKilledInstanceIsGoneAfterTheNextStart) {
  AssociateTxtWithNotepad();
  KillNotepads();
  MakeStandardVault();
  // The other instance: this test program, opening note.txt and then
  // waiting to be killed.
  HANDLE child = StartChild("DISABLED_OpenAndWait", "");
  ASSERT_NE(nullptr, child);
  const std::string folder = OpenedCopiesFolder(TempDir());
  bool opened = WaitFor([&] { return !CopiesIn(folder).empty() && FindNotepad().hwnd; }, 60000);
  TerminateProcess(child, 9);
  WaitForSingleObject(child, 10000);
  CloseHandle(child);
  ASSERT_TRUE(opened);
  std::vector<std::string> left = CopiesIn(folder);
  ASSERT_EQ(1u, left.size());  // the killed instance could not clean up

  Open(4);  // the next start
  EXPECT_TRUE(CopiesIn(folder).empty());
  KillNotepads();
}

// Another process reads the clipboard the way the shell does: the streams
// travel between the processes.
TEST(TransfersOutChild, DISABLED_OpenAndWait) {
  CRovErarodApp app;
  ASSERT_TRUE(CRovErarodApp::RegisterFrameClass());
  app.m_strDisk = "E:";
  ASSERT_TRUE(app.CreateMainWindow());
  CRovErarodView* view = app.GetMainFrame()->GetView();
  ASSERT_TRUE(WaitFor([&] { return view->GetItemCount() == 4; }));
  for (int i = 0; i < view->GetItemCount(); ++i) {
    if (view->GetRowText(i, 0) == "note.txt") view->OpenFileRow(i);
  }
  WaitFor([] { return false; }, 120000);  // until killed
}

}  // namespace
