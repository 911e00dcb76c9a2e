// CProgressDlg: the modeless progress dialog of long vault operations.
#include "browser/ProgressDlg.h"

#include <commctrl.h>

#include "document/VaultModel.h"
#include "framework/WinApp.h"
#include "resources/dlg_progress.h"

namespace {

// The text after the last '\' (UTF-8: no byte of a multi-byte character is
// one).
std::string AfterLastBackslash(const std::string& path, std::string* before) {
  const size_t slash = path.find_last_of('\\');
  const size_t after = slash == std::string::npos ? 0 : slash + 1;
  if (before) *before = after > 0 ? path.substr(0, after - 1) : std::string();
  return path.substr(after);
}

}  // namespace

CProgressDlg::CProgressDlg() : CDialog(IDD_PROGRESS) {}

CProgressDlg::~CProgressDlg() { DestroyWindow(); }

bool CProgressDlg::Create(HWND owner) { return CDialog::Create(owner); }

void CProgressDlg::AttachCancelFlag(int* flag) {
  m_pCancelFlag = flag;
  if (m_pCancelFlag) *m_pCancelFlag = 0;
}

BOOL CProgressDlg::OnInitDialog() {
  m_line1.SubclassDlgItem(m_hWnd, IDC_PROGRESS_LINE1);
  if (HFONT font = HbGetApp() ? HbGetApp()->GetDialogFont() : nullptr) {
    for (int id : {IDC_PROGRESS_HEADING, IDC_PROGRESS_LINE1, IDC_PROGRESS_LINE2, IDCANCEL})
      SetItemFont(id, font);
    SetFont(font);
  }
  if (m_nTitleId) SetWindowText(LoadResString(m_nTitleId));
  SendItemMessage(IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 100);
  SendItemMessage(IDC_PROGRESS_BAR, PBM_SETPOS, 0);
  SetTimer(kTimerId, kTimerMs);
  return TRUE;
}

std::string CProgressDlg::FirstLine(const std::string& path, const std::string& message) {
  std::string name = AfterLastBackslash(ToBackslashes(path), nullptr);
  if (name.empty()) return message;
  // The table's text is trusted as a format with one %s; the name is not.
  return FormatString(message.c_str(), name.c_str());
}

std::string CProgressDlg::SecondLine(const std::string& secondPath) {
  if (secondPath.empty()) return std::string();
  std::string folder;
  AfterLastBackslash(secondPath, &folder);
  return folder;
}

void CProgressDlg::SetText(const std::string& path, UINT messageId,
                           const std::string& secondPath) {
  if (!m_hWnd) return;
  if (!::IsWindowVisible(m_hWnd)) ShowWindow(SW_SHOW);
  m_line1.SetText(FirstLine(path, LoadResString(messageId)));
  SetItemText(IDC_PROGRESS_LINE2, SecondLine(secondPath));
  HbPumpMessages();
}

void CProgressDlg::DisableCancel() {
  if (m_hWnd) ::EnableWindow(GetDlgItem(IDCANCEL), FALSE);
}

void CProgressDlg::OnCancel() {
  HWND button = GetDlgItem(IDCANCEL);
  // Escape comes here as well: once greyed, Cancel has no more to say.
  if (!::IsWindowEnabled(button)) return;
  ::EnableWindow(button, FALSE);
  if (m_pCancelFlag) *m_pCancelFlag = 1;
}

void CProgressDlg::OnTimerTick() {
  int pos = static_cast<int>(SendItemMessage(IDC_PROGRESS_BAR, PBM_GETPOS)) + 1;
  SendItemMessage(IDC_PROGRESS_BAR, PBM_SETPOS, pos > 100 ? 0 : pos);
  // The tick arrives from a loop that pumps already; pumping again from a
  // tick that the inner pump dispatched would only nest deeper.
  if (m_bInTimerPump) return;
  m_bInTimerPump = true;
  HbPumpMessages();
  m_bInTimerPump = false;
}

bool CProgressDlg::OnDialogMessage(UINT msg, WPARAM wp, LPARAM, INT_PTR* result) {
  if (msg == WM_TIMER && wp == kTimerId) {
    OnTimerTick();
    *result = 0;
    return true;
  }
  return false;
}
