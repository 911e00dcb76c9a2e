// The modal "Change Password" dialog: a new password typed twice and a new
// hint, set on the logged-in disk through the device library.  The caller
// gives the disk ("E:") and the password typed at login before DoModal().
#pragma once

#include <string>

#include "device/DeviceLibrary.h"
#include "framework/Dialog.h"

class CChangePasswordDlg : public CDialog {
public:
  explicit CChangePasswordDlg(HWND parent = nullptr);
  ~CChangePasswordDlg() override;

  void SetDisk(const std::string& disk) { m_strDisk = disk; }
  void SetCurrentPassword(const std::string& password) { m_strCurrentPassword = password; }

  // Hands the current password, the new one and the hint to the library's
  // current drive in zero-filled buffers of 512, 16 and 128 bytes.  With no
  // current password (a disk without one, or a login made with an empty
  // field) the current password is read from the disk's test string.
  // Returns the library's answer: 1 when the change was made.
  int ChangeDiskPassword(const std::string& newPassword, const std::string& hint);

  // After the dialog ended with OK: the password now set on the disk.
  const std::string& GetNewPassword() const { return m_strNewPassword; }

  // The outcome of one attempt to apply the entries to the disk.
  enum ApplyResult { applyChanged, applyRefused, applyNoDrive };

protected:
  BOOL OnInitDialog() override;
  void OnOK() override;

private:
  // Finds the disk among the library's drives and changes its password.
  ApplyResult Apply();
  void ShowError(UINT textId);
  void Close();

  std::string m_strDisk;
  std::string m_strCurrentPassword;
  std::string m_strNewPassword;
  CDeviceLibrary m_device;
  UDLL_HANDLE m_hDevice = 0;
};
