// The modal "Disk Login" dialog: pick one of the disks the device library
// reports, see its password hint, type its password.  The password is
// checked against the one the library reads from that disk; on success the
// caller reads GetDisk() ("E:") and GetPassword().
#pragma once

#include <string>
#include <vector>

#include "device/DeviceLibrary.h"
#include "framework/Dialog.h"

class CDiskLoginDlg : public CDialog {
public:
  explicit CDiskLoginDlg(HWND parent = nullptr);
  ~CDiskLoginDlg() override;

  // Outputs; both empty unless the dialog ended with OK.
  const std::string& GetDisk() const { return m_strDisk; }
  const std::string& GetPassword() const { return m_strPassword; }

  // Lists the drives and, when the list changed, reloads hints and stored
  // passwords.
  void RefreshDiskList();

  // One listed drive, in the library's drive order.
  struct DiskInfo {
    char letter;
    std::string hint;
    std::string storedPassword;
  };
  // Reads the library's current drive's hint and stored password into *info.
  void ReadDiskCredentials(DiskInfo* info);

  const std::vector<DiskInfo>& GetDisks() const { return m_disks; }
  const std::string& GetListedLetters() const { return m_strLetters; }

  // At most this many drives are listed (the rest are left out).
  static const int kMaxDrives = 31;

protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  bool OnControlCommand(UINT id, UINT code, HWND ctl) override;
  bool OnDialogMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR* result) override;

private:
  void Rebuild();
  // Shows the hint of the disk whose box entry is `index` (cleared when none).
  void ShowHintOfEntry(int index);
  const DiskInfo* FindDisk(char letter) const;
  void Close();

  std::string m_strDisk;
  std::string m_strPassword;
  std::string m_strLetters;  // listed drive letters, library order
  std::vector<DiskInfo> m_disks;
  CDeviceLibrary m_device;
  UDLL_HANDLE m_hDevice = 0;
};
