// The view's services around the logged-in disk: folder chains on it, the
// device library's write protection and flush, free space and recovery.
#include "browser/RovErarodView.h"

#include "document/VaultRecovery.h"

void CRovErarodView::CreateFolderChain(const std::string& path, bool includeLast) {
  std::string p = path;
  if (includeLast) p += '\\';
  size_t root = p.find(":\\");
  if (root == std::string::npos) return;
  // UTF-8: no byte of a multi-byte character is a '\\'.
  for (size_t at = p.find('\\', root + 2); at != std::string::npos; at = p.find('\\', at + 1))
    ::CreateDirectoryW(fileio::Widen(p.substr(0, at)).c_str(), nullptr);
}

bool CRovErarodView::SelectDeviceDrive() {
  if (m_hDevice == 0 || m_device.UDLL_DeviceExist(m_hDevice) == 0) return false;
  return m_device.SelectDiskDrive(m_hDevice, m_pHost->LoginDisk().c_str(), 1) != 0;
}

int CRovErarodView::DeviceWriteProtect(bool query, int value) {
  if (!SelectDeviceDrive()) return 0;
  if (query) return (m_device.UDLL_GetDeviceState(m_hDevice) & 0x10) ? 1 : 0;
  m_device.UDLL_SetWriteProtect(m_hDevice, static_cast<uint32_t>(value));
  return 0;
}

void CRovErarodView::FlushDevice() {
  if (!m_bWin2000 || !SelectDeviceDrive()) return;
  m_device.UDLL_FlushFileBuffer(m_hDevice);
  ::Sleep(10);
  m_device.UDLL_FlushFileBuffer(m_hDevice);
}

void CRovErarodView::ShowFreeSpace() {
  const std::string& disk = m_pHost->LoginDisk();
  if (disk.empty()) return;
  ULARGE_INTEGER freeForCaller{}, total{}, totalFree{};
  std::string root = disk + "\\";
  if (!::GetDiskFreeSpaceExW(fileio::Widen(root).c_str(), &freeForCaller, &total, &totalFree)) return;
  SetStatusPane(1, FormatFreeSpace(freeForCaller.QuadPart, disk, m_texts));
}

void CRovErarodView::RecoverVault() {
  if (m_model.VaultPath().empty()) return;
  ::RecoverVault(m_model.VaultPath(), m_model.JournalPath());
}
