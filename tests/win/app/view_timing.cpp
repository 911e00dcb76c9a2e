// hb-view-timing: times the folder view on the vault of disk E: inside the
// real frame, with QueryPerformanceCounter:
//   login   the view's side of a login (journal check, LoadVaultList, rows,
//           sort, status panes) up to the painted list;
//   enter   a double-click into a folder (ShowFolder: rows rebuilt, sorted,
//           painted);
//   up      back to the root.
//
//   hb-view-timing [FOLDER] [ROUNDS]
// FOLDER defaults to the first folder row of the root.  Prints one line per
// round and the median of each figure.  A measurement, not a test.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TimingClock.h"
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "framework/WinApp.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  std::string folder = argc > 1 ? argv[1] : "";
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

  CRovErarodApp app;
  app.m_strDisk.clear();  // start logged out; each round logs in
  if (!CRovErarodApp::RegisterFrameClass() || !app.CreateMainWindow()) {
    std::fprintf(stderr, "hb-view-timing: no main window\n");
    return 1;
  }
  CMainFrame* frame = app.GetMainFrame();
  CRovErarodView* view = frame->GetView();
  frame->ShowWindow(SW_SHOW);
  frame->UpdateWindow();
  HbPumpMessages();

  std::vector<double> login, enter, up;
  for (int r = 0; r < rounds; ++r) {
    double t0 = NowMs();
    view->LoginTo("E:", "timing");
    frame->UpdateWindow();
    double t1 = NowMs();
    int rootRows = view->GetItemCount();
    size_t entries = view->GetModel().EntryCount();
    std::string name = folder;
    for (int i = 0; name.empty() && i < rootRows; ++i)
      if (view->IsFolderRow(i)) name = view->GetRowText(i, 0);
    double t2 = NowMs();
    view->ShowFolder(name);
    frame->UpdateWindow();
    double t3 = NowMs();
    int folderRows = view->GetItemCount();
    view->OnUp();
    frame->UpdateWindow();
    double t4 = NowMs();
    std::printf("round %d: entries %zu, root rows %d: login %.1f ms; enter \"%s\" (%d rows) %.1f ms; "
                "up %.1f ms\n",
                r + 1, entries, rootRows, t1 - t0, name.c_str(), folderRows, t3 - t2, t4 - t3);
    login.push_back(t1 - t0);
    enter.push_back(t3 - t2);
    up.push_back(t4 - t3);
    view->Logout();
    // The watch timer empties the list while logged out; let it.
    DWORD start = GetTickCount();
    while (view->GetItemCount() > 0 && GetTickCount() - start < 10000) {
      HbPumpMessages();
      Sleep(20);
    }
  }
  std::printf("median: login %.1f ms, enter %.1f ms, up %.1f ms\n", Median(login), Median(enter),
              Median(up));
  std::fflush(stdout);
  app.m_pMainWnd = nullptr;
  DestroyWindow(frame->m_hWnd);
  return 0;
}
