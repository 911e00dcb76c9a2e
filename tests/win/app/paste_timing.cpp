// hb-paste-timing: times a paste into the vault of disk E: inside the real
// frame, and the process's memory around it:
//   hb-paste-timing PATH...
// The paths go onto the clipboard as a shell Copy (from a window of this
// program's, as the shell would put them), the view takes the Paste command,
// and the time from the command to the rebuilt rows is printed with the
// vault's entry count and the peak working set and peak private bytes
// before and after. Message boxes go through HB_MSGBOX_LOG when it is set.
// A measurement, not a test.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TimingClock.h"
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "framework/WinApp.h"
#include "resources/resource.h"
#include "vault/threads/ThreadPool.h"

namespace {

void PrintMemory(const char* when) {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof(pmc);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc))) return;
  std::printf("%s: working set %.1f MB (peak %.1f MB), private %.1f MB (peak %.1f MB)\n", when,
              pmc.WorkingSetSize / 1048576.0, pmc.PeakWorkingSetSize / 1048576.0,
              pmc.PagefileUsage / 1048576.0, pmc.PeakPagefileUsage / 1048576.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: hb-paste-timing PATH...  (HB_PASTE_THREADS=N: N threads)\n");
    return 2;
  }
  if (const char* threads = std::getenv("HB_PASTE_THREADS"))
    vault::SetVaultThreads(static_cast<unsigned>(std::atoi(threads)));
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);

  CRovErarodApp app;
  app.m_strDisk = "E:";
  app.m_strPassword = "timing";
  if (!CRovErarodApp::RegisterFrameClass() || !app.CreateMainWindow()) {
    std::fprintf(stderr, "hb-paste-timing: no main window\n");
    return 1;
  }
  CMainFrame* frame = app.GetMainFrame();
  CRovErarodView* view = frame->GetView();
  frame->ShowWindow(SW_SHOW);
  frame->UpdateWindow();
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 1500) {  // the one-shot load
    HbPumpMessages();
    Sleep(20);
  }
  size_t before = view->GetModel().EntryCount();

  std::string list;
  for (int i = 1; i < argc; ++i) list += std::string(argv[i]) + '\0';
  list += '\0';
  HWND shell = CreateWindowExA(0, "STATIC", "shell", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                               nullptr);
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
  auto* df = static_cast<DROPFILES*>(GlobalLock(h));
  df->pFiles = sizeof(DROPFILES);
  std::memcpy(reinterpret_cast<char*>(df) + sizeof(DROPFILES), list.data(), list.size());
  GlobalUnlock(h);
  if (!OpenClipboard(shell)) return 1;
  EmptyClipboard();
  SetClipboardData(CF_HDROP, h);
  CloseClipboard();
  start = GetTickCount();
  while (!view->CanPaste() && GetTickCount() - start < 10000) {
    HbPumpMessages();
    Sleep(20);
  }

  PrintMemory("before");
  double t0 = NowMs();
  frame->SendMessage(WM_COMMAND, ID_EDIT_PASTE, 0);
  frame->UpdateWindow();
  double t1 = NowMs();
  PrintMemory("after");
  std::printf("paste: %zu entries added (%zu in the vault) in %.1f ms\n",
              view->GetModel().EntryCount() - before, view->GetModel().EntryCount(), t1 - t0);
  std::fflush(stdout);
  if (OpenClipboard(shell)) {
    EmptyClipboard();
    CloseClipboard();
  }
  DestroyWindow(shell);
  app.m_pMainWnd = nullptr;
  DestroyWindow(frame->m_hWnd);
  return 0;
}
