// The Change Password dialog: checks the entries, then sets password and
// hint on the drive whose letter matches the logged-in disk.
#include "device/ChangePasswordDlg.h"

#include <algorithm>
#include <cstring>

#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "resources/dlg_changepassword.h"
#include "resources/resource.h"

CChangePasswordDlg::CChangePasswordDlg(HWND parent) : CDialog(IDD_CHANGE_PASSWORD, parent) {}

CChangePasswordDlg::~CChangePasswordDlg() { Close(); }

void CChangePasswordDlg::Close() {
  if (m_hDevice != 0) {
    m_device.UDLL_DestroyCUSBDevice(m_hDevice);
    m_hDevice = 0;
  }
  m_device.Release();
}

BOOL CChangePasswordDlg::OnInitDialog() {
  SendItemMessage(IDC_NEWPW_CONFIRM, EM_LIMITTEXT, UDLL_MAX_PASSWORD_LENGTH);
  SendItemMessage(IDC_NEWPW, EM_LIMITTEXT, UDLL_MAX_PASSWORD_LENGTH);
  SendItemMessage(IDC_NEWPW_HINT, EM_LIMITTEXT, UDLL_NEW_HINT_SIZE - 1);
  GotoDlgCtrl(IDC_NEWPW);
  if (m_device.IsAvailable(CDeviceLibrary::opCreateCUSBDevice))
    m_hDevice = m_device.UDLL_CreateCUSBDevice();
  if (HFONT font = HbGetApp() ? HbGetApp()->GetDialogFont() : nullptr) {
    for (int id : {IDC_NEWPW, IDC_NEWPW_CONFIRM, IDC_NEWPW_HINT, IDOK, IDCANCEL,
                   IDC_NEWPW_CONFIRM_LABEL, IDC_NEWPW_LABEL, IDC_NEWPW_HINT_LABEL})
      SetItemFont(id, font);
    SetFont(font);
  }
  return FALSE;  // the focus is on the new password
}

void CChangePasswordDlg::ShowError(UINT textId) {
  HbMessageBox(m_hWnd, LoadResString(textId), LoadResString(IDS_ERROR_CAPTION), MB_ICONHAND);
}

void CChangePasswordDlg::OnOK() {
  std::string password = GetItemText(IDC_NEWPW);
  std::string confirmation = GetItemText(IDC_NEWPW_CONFIRM);
  if (password.empty()) {
    GotoDlgCtrl(IDC_NEWPW);
    ShowError(IDS_PASSWORD_BLANK);
    return;
  }
  if (password != confirmation) {
    SetItemText(IDC_NEWPW, "");
    SetItemText(IDC_NEWPW_CONFIRM, "");
    GotoDlgCtrl(IDC_NEWPW);
    ShowError(IDS_PASSWORD_MISMATCH);
    return;
  }
  if (Apply() != applyChanged) {
    // Nothing was changed: say so, and let the user try again or cancel.
    GotoDlgCtrl(IDC_NEWPW);
    ShowError(IDS_PASSWORD_NOT_CHANGED);
    return;
  }
  m_strNewPassword = AnsiFromUtf8(password);  // as the disk keeps it
  EndDialog(IDOK);
}

CChangePasswordDlg::ApplyResult CChangePasswordDlg::Apply() {
  if (m_strDisk.empty() || m_device.UDLL_DeviceExist(m_hDevice) == 0) return applyNoDrive;
  int count = m_device.GetNumberOfDrive(m_hDevice, 1);
  for (int i = 0; i < count; ++i) {
    uint32_t letter = 0;
    m_device.UDLL_SetCurrentDriveNumber(m_hDevice, static_cast<uint8_t>(i));
    m_device.UDLL_GetDriveLetter(m_hDevice, UDLL_DRIVE_LETTER_ASCII, &letter);
    if (static_cast<char>(letter & 0xFF) != m_strDisk[0]) continue;
    // The disk keeps password and hint in the ANSI code page; a text that
    // code page cannot spell would be stored as something else.
    bool passwordExact = true, hintExact = true;
    const std::string password = AnsiFromUtf8(GetItemText(IDC_NEWPW), &passwordExact);
    const std::string hint = AnsiFromUtf8(GetItemText(IDC_NEWPW_HINT), &hintExact);
    if (!passwordExact || !hintExact) return applyRefused;
    int r = ChangeDiskPassword(password, hint);
    return r == 1 ? applyChanged : applyRefused;
  }
  return applyNoDrive;
}

int CChangePasswordDlg::ChangeDiskPassword(const std::string& newPassword,
                                           const std::string& hint) {
  char current[UDLL_CURRENT_PASSWORD_SIZE];
  char password[UDLL_NEW_PASSWORD_SIZE];
  char newHint[UDLL_NEW_HINT_SIZE];
  std::memset(current, 0, sizeof(current));
  std::memset(password, 0, sizeof(password));
  std::memset(newHint, 0, sizeof(newHint));
  // The edits hold at most what fits; a longer text from elsewhere is cut so
  // that every buffer keeps its terminator.
  std::memcpy(password, newPassword.data(), std::min(newPassword.size(), sizeof(password) - 1));
  std::memcpy(newHint, hint.data(), std::min(hint.size(), sizeof(newHint) - 1));
  if (m_strCurrentPassword.empty()) {
    m_device.UDLL_GetTestString(m_hDevice, reinterpret_cast<unsigned char*>(current));
    UnpackTestString(current);
  } else {
    std::memcpy(current, m_strCurrentPassword.data(),
                std::min(m_strCurrentPassword.size(), sizeof(current) - 1));
  }
  return m_device.UDLL_ChangePassword(m_hDevice, current, password, newHint);
}
