// In-process tests of opening a vault file with its program: a read-only
// copy in its own folder, its watcher, and no copy left behind after the
// program, the view or a killed instance of it ends.
#include "TransfersOutFixture.h"

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

TEST_F(TransfersOutTest, DoubleClickOpensAReadOnlyCopyInNotepadThatGoesWhenNotepadCloses) {
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
  EXPECT_NE(0u, GetFileAttributesA(copies[0].c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(".txt", copies[0].substr(copies[0].size() - 4));
  EXPECT_EQ(1, m_view->GetWatcherCount());
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
  ASSERT_TRUE(WaitFor([&] { return m_view->GetWatcherCount() == 0; }, 30000));
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
  EXPECT_EQ(1, m_view->GetWatcherCount());  // the program did start on it
  NotepadFind np;
  ASSERT_TRUE(WaitFor([&] { return (np = FindNotepad()).hwnd != nullptr; }, 20000));
  PostMessageA(np.hwnd, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return m_view->GetWatcherCount() == 0; }, 30000));
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
  EXPECT_EQ(1, m_view->GetWatcherCount());
  // The view's teardown wakes its watchers and waits for them; a copy still
  // held by a watcher would be spared by the final sweep, so its absence
  // right after the window is gone shows the watcher has ended.
  m_app.m_pMainWnd = nullptr;
  DestroyWindow(m_frame->m_hWnd);
  EXPECT_TRUE(CopiesIn(folder).empty());
  EXPECT_TRUE(FindNotepad().hwnd != nullptr);  // the program itself stays
  KillNotepads();
}

TEST_F(TransfersOutTest, AFileNothingOpensIsRemovedAtOnce) {
  Build({{"strange.zzqq", "data", Utc(2021, 1, 1, 0, 0)}});
  Open(1);
  SelectOnly({"strange.zzqq"});
  Notify(NM_DBLCLK);
  EXPECT_EQ(0, m_view->GetWatcherCount());
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
