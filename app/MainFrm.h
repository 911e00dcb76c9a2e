// The program's only top-level window: menu, toolbar, status bar, the list
// view, and the watch for removal of the logged-in disk.
#pragma once

#include <ole2.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "browser/ViewHost.h"
#include "framework/Controls.h"
#include "framework/DockBar.h"
#include "framework/FrameWnd.h"

class CRovErarodDoc;
class CRovErarodView;

class CMainFrame : public CFrameWnd, public CViewHost, public CTransferRoute {
public:
  explicit CMainFrame(CRovErarodDoc* doc);
  ~CMainFrame() override;

  // Runs the view's initial update (after the frame was created).
  void InitialUpdate();

  // 1 when the logged-in disk (m_strDisk) is a present removable drive C:..Z:.
  int IsDiskPresent() const;
  // The FileVersion text of a file's version resource ("" when there is none).
  static std::string GetFileVersionText(const char* path);
  // The title made from a FileVersion text: "Hollowbox (Version:3.2.1.72)".
  static std::string MakeTitle(const std::string& fileVersion);
  // Classifies the running system (0 until it ran, then 1..8).
  void DetectOsKind();
  // Classification of a version record.
  static int ClassifyOs(const OSVERSIONINFOA& info);
  int GetOsKind() const { return m_nOsKind; }
  // The resolution the frame's pixel sizes are scaled to, and its change
  // (WM_DPICHANGED: toolbar images and buttons, status panes, the dock
  // bar, the list's font and columns, the window to the suggested place).
  UINT GetDpi() const { return m_nDpi; }
  void OnDpiChanged(UINT dpi, const RECT* suggested);

  CRovErarodView* GetView() const { return m_pListView; }

  // Requests of the shell data object of Copy, Cut and drag, passed to the
  // view unchanged (browser/TransfersOut.cpp says what it does with them).
  HRESULT ExtractToStream(const std::string& vaultPath, const std::string& path, IStream* target,
                          IStream** created, bool* complete,
                          std::function<void()> onComplete = nullptr) override;
  void OnTransferComplete(const std::string& vaultPath, DWORD effect,
                          const std::vector<std::string>& cutFolders,
                          const std::set<std::string>& moved) override;
  // The view's host: status panes, toolbar, login state.
  void SetStatusText(int pane, const std::string& text) override;
  void RefreshToolbar() override { RefreshToolBar(); }
  std::string& LoginDisk() override;
  std::string& LoginPassword() override;
  CToolBar& GetToolBar() { return m_wndToolBar; }
  CDockBar& GetDockBar() { return m_dockBar; }
  CStatusBar& GetStatusBar() { return m_wndStatusBar; }

  static const UINT kToolBarId = 0xE800;
  static const UINT kStatusBarId = 0xE801;
  // Posted to itself when a removal that came during a modal dialog or
  // message box is to be looked at again.
  static const UINT kMsgRemovalRecheck = WM_APP + 0x21;

  // True while a removal of the logged-in disk waits for a modal dialog or
  // message box to close.
  bool IsRemovalPending() const { return m_bRemovalPending; }

protected:
  const char* GetFrameClassName() const override;
  int OnCreate(CREATESTRUCTW* cs) override;
  bool OnCreateClient() override;
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
  CRovErarodDoc* m_pDoc;
  CRovErarodView* m_pListView = nullptr;
  CToolBar m_wndToolBar;
  CStatusBar m_wndStatusBar;
  CDockBar m_dockBar;
  UINT m_nDpi = 96;
  int m_nOsKind = 0;
  bool m_bRemovalPending = false;
  bool m_bInRemoval = false;  // the logout or login a removal started is running

  // The logged-in disk was removed: log out (or, logged out, offer the
  // login), unless a modal dialog or message box is open.
  void OnDiskRemoved();
  // Status panes 1 and 2 at the frame's DPI.
  void SetPaneWidths();
};
