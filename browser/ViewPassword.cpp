// The folder view's Change Password command.
#include "browser/RovErarodView.h"
#include "device/ChangePasswordDlg.h"

void CRovErarodView::OnChangePassword() {
  const std::string& disk = m_pHost->LoginDisk();
  if (disk.empty() || !m_bLoggedIn) return;
  CChangePasswordDlg dlg(FrameWindow());
  dlg.SetDisk(disk);
  dlg.SetCurrentPassword(m_pHost->LoginPassword());
  if (dlg.DoModal() != IDOK) return;
  // The disk now answers to the new password: a second change in this
  // login must hand that one over as the current password.
  m_pHost->LoginPassword() = dlg.GetNewPassword();
}
