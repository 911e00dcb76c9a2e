// The folder view's Change Password command.
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "device/ChangePasswordDlg.h"

void CRovErarodView::OnChangePassword() {
  CRovErarodApp& app = GetApp();
  if (app.m_strDisk.empty() || !m_bLoggedIn) return;
  CChangePasswordDlg dlg(m_pFrame ? m_pFrame->m_hWnd : ::GetParent(m_hWnd));
  dlg.SetDisk(app.m_strDisk);
  dlg.SetCurrentPassword(app.m_strPassword);
  if (dlg.DoModal() != IDOK) return;
  // The disk now answers to the new password: a second change in this
  // login must hand that one over as the current password.
  app.m_strPassword = dlg.GetNewPassword();
}
