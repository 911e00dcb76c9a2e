// What every long operation of the folder view shares: the busy guard that
// keeps commands, timers and notifications from running inside an operation
// that pumps messages, the progress dialog's texts and cancel flag, and the
// hooks through which the vault model reaches the window side.
#include "browser/RovErarodView.h"

#include "browser/ProgressDlg.h"
#include "browser/ReplaceConfirmDlg.h"
#include "browser/ViewMessages.h"
#include "framework/WinApp.h"
#include "resources/resource.h"

CRovErarodView::CBusyScope::CBusyScope(CRovErarodView& view) : m_view(view) { ++m_view.m_nBusy; }

CRovErarodView::CBusyScope::~CBusyScope() {
  if (--m_view.m_nBusy > 0 || m_view.m_deferred.empty() || m_view.m_bDeferredPosted) return;
  // Whatever waited runs from the message loop, after the operation has
  // returned all the way.
  m_view.m_bDeferredPosted = m_view.m_hWnd && m_view.PostMessage(WM_HB_RUN_DEFERRED);
}

void CRovErarodView::RunWhenIdle(std::function<void()> action) {
  if (!IsBusy()) {
    action();
    return;
  }
  m_deferred.push_back(std::move(action));
}

void CRovErarodView::RunDeferred() {
  m_bDeferredPosted = false;
  if (IsBusy()) return;  // another operation began: its end posts again
  std::vector<std::function<void()>> actions;
  actions.swap(m_deferred);
  for (size_t i = 0; i < actions.size(); ++i) {
    actions[i]();
    if (IsBusy()) {
      // That action started an operation of its own (a new folder's write):
      // the rest waits for its end.
      m_deferred.insert(m_deferred.begin(), actions.begin() + static_cast<long>(i) + 1,
                        actions.end());
      return;
    }
  }
}

bool CRovErarodView::OnCmdMsg(UINT id) {
  if (!IsBusy()) return CListCtrl::OnCmdMsg(id);
  // Only the frame's own callers get here while busy (the menus and the
  // toolbar see every command greyed).  A pulled disk still logs out, once
  // the operation is over; anything else is refused.
  if (id == ID_LOGIN)
    RunWhenIdle([this] {
      if (m_bLoggedIn) Logout();
    });
  return true;
}

bool CRovErarodView::OnUpdateCmdUI(CCmdUI& ui) {
  // A toolbar button shows by the view's state, busy or not; busy, it is
  // greyed.
  bool shown = false;
  if (GetToolbarButtonShown(ui.m_nID, &shown)) ui.Show(shown);
  if (!IsBusy()) return CListCtrl::OnUpdateCmdUI(ui);
  ui.Enable(false);
  return true;
}

bool CRovErarodView::FilterWhileBusy(UINT msg, WPARAM wp, LPARAM, LRESULT* result) {
  *result = 0;
  if (msg == WM_HB_RUN_DEFERRED) {
    RunDeferred();
    return true;
  }
  if (!IsBusy()) return false;
  switch (msg) {
    case WM_TIMER:
      // The watch and the first load wait: both rebuild the rows (or free
      // the entries) that the operation is working on.
      if (wp == kWatchTimer) {
        ShowClock();
        return true;
      }
      return wp == kLoadTimer;  // fires again after the operation
    case WM_CONTEXTMENU:
      return true;
    case WM_HB_NEW_FOLDER_DONE:
      RunWhenIdle([this] { FinishNewFolder(); });
      return true;
    case WM_HB_RENAME_DONE:
      RunWhenIdle([this] { FinishRename(); });
      return true;
    default:
      return false;
  }
}

bool CRovErarodView::FilterNotifyWhileBusy(UINT code, LRESULT* result) {
  if (!IsBusy()) return false;
  switch (code) {
    case LVN_COLUMNCLICK:  // sorting moves rows
    case NM_DBLCLK:        // opening a folder rebuilds them
      *result = 0;
      return true;
    case LVN_BEGINLABELEDITW:  // a rename waits for no one: refused
      *result = TRUE;
      return true;
    default:
      return false;
  }
}

void CRovErarodView::DetachRowEntries() {
  for (ListRow& row : m_rows) row.entry = nullptr;
}

void CRovErarodView::BeginProgress(UINT titleId) {
  EndProgress();
  m_progress.reset(new CProgressDlg);
  m_progress->SetTitleId(titleId);
  m_progress->Create(m_hWnd);
  m_progress->AttachCancelFlag(&m_nCancel);
}

void CRovErarodView::EndProgress() {
  if (!m_progress) return;
  m_progress->Destroy();
  m_progress.reset();
}

void CRovErarodView::ProgressText(const std::string& path, UINT messageId,
                                  const std::string& secondPath) {
  if (m_progress) m_progress->SetText(path, messageId, secondPath);
}

int CRovErarodView::AskReplace(const std::string& vaultPath) {
  if (m_nReplaceDecision == CReplaceConfirmDlg::kReplaceAll) return m_nReplaceDecision;
  if (m_progress && m_progress->m_hWnd) m_progress->ShowWindow(SW_HIDE);
  HWND frame = FrameWindow();
  ::SetForegroundWindow(frame);
  CReplaceConfirmDlg dlg(frame);
  dlg.SetName(vaultPath);
  m_nReplaceDecision = dlg.Run();
  return m_nReplaceDecision;
}

void CRovErarodView::SetVaultHooks() {
  VaultHooks hooks;
  hooks.isWriteProtected = [this] { return DeviceWriteProtect(true, 0) != 0; };
  hooks.setWriteProtected = [this](bool on) { DeviceWriteProtect(false, on ? 1 : 0); };
  hooks.flush = [this] { FlushDevice(); };
  hooks.sourceNotOpened = [this](const std::string& source) {
    ShowMessage(source, IDS_ERROR_CAPTION, IDS_CANNOT_OPEN, MB_ICONHAND, true);
  };
  hooks.pumpMessages = [] { HbPumpMessages(); };
  hooks.progressText = [this](const std::string& path, int messageId,
                              const std::string& secondPath) {
    ProgressText(path, static_cast<UINT>(messageId), secondPath);
  };
  hooks.cancelled = [this] { return m_nCancel != 0; };
  m_model.SetHooks(std::move(hooks));
}
