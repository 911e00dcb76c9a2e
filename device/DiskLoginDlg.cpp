#include "device/DiskLoginDlg.h"

#include <dbt.h>

#include <cstring>

#include "framework/Controls.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "resources/dlg_disklogin.h"
#include "resources/resource.h"

CDiskLoginDlg::CDiskLoginDlg(HWND parent) : CDialog(IDD_DISK_LOGIN, parent) {}

CDiskLoginDlg::~CDiskLoginDlg() { Close(); }

void CDiskLoginDlg::Close() {
  m_disks.clear();
  if (m_hDevice != 0) {
    m_device.UDLL_DestroyCUSBDevice(m_hDevice);
    m_hDevice = 0;
  }
  m_device.Release();
}

BOOL CDiskLoginDlg::OnInitDialog() {
  if (m_device.IsAvailable(CDeviceLibrary::opCreateCUSBDevice))
    m_hDevice = m_device.UDLL_CreateCUSBDevice();
  RefreshDiskList();
  if (CComboBox(GetDlgItem(IDC_LOGIN_DISK)).GetCount() == 0) {
    EndDialog(IDCANCEL);
    return FALSE;
  }
  GotoDlgCtrl(IDC_LOGIN_PASSWORD);
  SendItemMessage(IDC_LOGIN_PASSWORD, EM_LIMITTEXT, UDLL_MAX_PASSWORD_LENGTH);
  if (HFONT font = HbGetApp() ? HbGetApp()->GetDialogFont() : nullptr) {
    for (int id : {IDC_LOGIN_PASSWORD, IDC_LOGIN_HINT, IDC_LOGIN_DISK, IDOK, IDCANCEL,
                   IDC_LOGIN_DISK_LABEL, IDC_LOGIN_PASSWORD_LABEL, IDC_LOGIN_HINT_LABEL,
                   IDC_LOGIN_PROMPT})
      SetItemFont(id, font);
    SetFont(font);
  }
  return FALSE;  // the focus is on the password
}

void CDiskLoginDlg::ReadDiskCredentials(DiskInfo* info) {
  char hint[UDLL_HINT_BUFFER_SIZE];
  unsigned char test[UDLL_TEST_STRING_SIZE];
  std::memset(hint, 0, sizeof(hint));
  std::memset(test, 0, sizeof(test));

  m_device.UDLL_GetPasswordHint(m_hDevice, hint);
  if (static_cast<unsigned char>(hint[0]) == 0xFF) std::memset(hint, 0, sizeof(hint));
  hint[sizeof(hint) - 1] = '\0';
  info->hint = Utf8FromAnsi(hint);  // the disk keeps it in the ANSI code page

  m_device.UDLL_GetTestString(m_hDevice, test);
  UnpackTestString(test);
  if (test[0] == 0xFF) std::memset(test, 0, sizeof(test));
  test[sizeof(test) - 1] = 0;
  info->storedPassword = reinterpret_cast<const char*>(test);
}

const CDiskLoginDlg::DiskInfo* CDiskLoginDlg::FindDisk(char letter) const {
  for (const DiskInfo& d : m_disks)
    if (d.letter == letter) return &d;
  return nullptr;
}

void CDiskLoginDlg::ShowHintOfEntry(int index) {
  CComboBox box(GetDlgItem(IDC_LOGIN_DISK));
  const DiskInfo* disk = nullptr;
  if (index >= 0 && index < box.GetCount()) {
    wchar_t text[16] = {0};
    if (box.Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index)) < 16) {
      box.Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
      disk = text[0] < 0x80 ? FindDisk(static_cast<char>(text[0])) : nullptr;
    }
  }
  SetItemText(IDC_LOGIN_HINT, disk ? disk->hint : std::string());
}

void CDiskLoginDlg::Rebuild() {
  CComboBox box(GetDlgItem(IDC_LOGIN_DISK));
  box.ResetContent();
  m_disks.clear();
  for (size_t i = 0; i < m_strLetters.size(); ++i) {
    char entry[3] = {m_strLetters[i], ':', '\0'};
    box.AddString(entry);
    m_device.UDLL_SetCurrentDriveNumber(m_hDevice, static_cast<uint8_t>(i));
    DiskInfo info{m_strLetters[i], std::string(), std::string()};
    ReadDiskCredentials(&info);
    m_disks.push_back(info);
  }
}

void CDiskLoginDlg::RefreshDiskList() {
  std::string letters;
  // A fresh handle for every listing; the old one is given back first.
  if (m_hDevice != 0) m_device.UDLL_DestroyCUSBDevice(m_hDevice);
  m_hDevice = m_device.UDLL_CreateCUSBDevice();
  if (m_device.UDLL_DeviceExist(m_hDevice) != 0) {
    int count = m_device.GetNumberOfDrive(m_hDevice, 1);
    if (count > kMaxDrives) count = kMaxDrives;
    for (int i = 0; i < count; ++i) {
      uint32_t letter = 0;
      m_device.UDLL_SetCurrentDriveNumber(m_hDevice, static_cast<uint8_t>(i));
      m_device.UDLL_GetDriveLetter(m_hDevice, UDLL_DRIVE_LETTER_ASCII, &letter);
      char c = static_cast<char>(letter & 0xFF);
      if (c == '\0') break;  // the listing is a zero-terminated text
      letters += c;
    }
  }

  CComboBox box(GetDlgItem(IDC_LOGIN_DISK));
  bool reselectFirst = false;
  if (m_strLetters.empty()) {
    reselectFirst = true;
    m_strLetters = letters;
    Rebuild();
  } else if (m_strLetters != letters) {
    std::string previous = box.GetText();
    m_strLetters = letters;
    Rebuild();
    int found = previous.empty() ? CB_ERR : box.FindString(0, previous);
    if (found == CB_ERR) {
      reselectFirst = true;
    } else {
      SetItemText(IDC_LOGIN_PASSWORD, "");
      box.SetCurSel(found);
      ShowHintOfEntry(found);
    }
  }
  if (reselectFirst) {
    if (box.GetCount() > 0) {
      SetItemText(IDC_LOGIN_PASSWORD, "");
      ShowHintOfEntry(0);
    }
    box.SetCurSel(0);
  }
}

bool CDiskLoginDlg::OnControlCommand(UINT id, UINT code, HWND) {
  if (id == IDC_LOGIN_DISK && code == CBN_SELCHANGE) {
    SetItemText(IDC_LOGIN_PASSWORD, "");
    ShowHintOfEntry(CComboBox(GetDlgItem(IDC_LOGIN_DISK)).GetCurSel());
    return true;
  }
  return false;
}

bool CDiskLoginDlg::OnDialogMessage(UINT msg, WPARAM wp, LPARAM, INT_PTR* result) {
  if (msg == WM_DEVICECHANGE) {
    if (wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE) RefreshDiskList();
    *result = TRUE;
    return true;
  }
  return false;
}

void CDiskLoginDlg::OnOK() {
  m_strDisk.clear();
  // The disk keeps its password in the ANSI code page.
  std::string typed = AnsiFromUtf8(GetItemText(IDC_LOGIN_PASSWORD));
  std::string selected = CComboBox(GetDlgItem(IDC_LOGIN_DISK)).GetText();

  // The stored password is read from the drive itself at this moment, so a
  // listing that went out of step with the library cannot pair the typed
  // password with another disk's.
  bool matched = false;
  std::string expected;
  if (!selected.empty() && m_device.UDLL_DeviceExist(m_hDevice) != 0) {
    int count = m_device.GetNumberOfDrive(m_hDevice, 1);
    for (int i = 0; i < count; ++i) {
      uint32_t letter = 0;
      m_device.UDLL_SetCurrentDriveNumber(m_hDevice, static_cast<uint8_t>(i));
      m_device.UDLL_GetDriveLetter(m_hDevice, UDLL_DRIVE_LETTER_ASCII, &letter);
      if (static_cast<char>(letter & 0xFF) == selected[0]) {
        DiskInfo info{selected[0], std::string(), std::string()};
        ReadDiskCredentials(&info);
        expected = info.storedPassword;
        matched = true;
        break;
      }
    }
  }

  if (!matched || expected != typed) {
    SetItemText(IDC_LOGIN_PASSWORD, "");
    GotoDlgCtrl(IDC_LOGIN_PASSWORD);
    HbMessageBox(m_hWnd, LoadResString(IDS_WRONG_PASSWORD), LoadResString(IDS_ERROR_CAPTION),
                 MB_ICONHAND);
    if (!matched) RefreshDiskList();  // the disk went away: show what is there now
    return;
  }
  m_strPassword = typed;
  m_strDisk = selected;
  EndDialog(IDOK);
}

void CDiskLoginDlg::OnCancel() {
  m_strDisk.clear();
  m_strPassword.clear();
  EndDialog(IDCANCEL);
}
