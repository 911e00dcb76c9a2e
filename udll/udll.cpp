// udll.dll: device library stand-in over removable drives.
#define UDLL_BUILDING
#include "udll.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "SecureArea.h"
#include "vault/fileio/WideText.h"

namespace {

// One live handle: its value and the drive it addresses (0 = none).
struct Slot {
  uint32_t handle;
  char drive;
};

const size_t kMaxHandles = 64;

// All state is guarded by one lock; the work per call is small.
SRWLOCK g_lock = SRWLOCK_INIT;
Slot g_slots[kMaxHandles];
uint32_t g_nextHandle = 1;

// Write-protection guards.  The read-only attribute that protection sets on
// the vault files stops ordinary users but not an administrator (nor root
// under Wine).  So while a drive is protected, this process also keeps each
// vault file open for reading with write and delete sharing denied: every
// attempt to open it for writing or to delete it then fails, as on a real
// protected disk.  Readers that share reading are not disturbed.
class GuardTable {
public:
  ~GuardTable() { CloseAll(); }

  // Guards every file in the drive's vault folder (on) or drops the drive's
  // guards (off).  False when some file could not be guarded.
  bool Sync(char drive, bool on) {
    if (!on) {
      Close(drive);
      return true;
    }
    const std::string folder = udll::VaultFolderPath(drive);
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(fileio::Widen(folder + "\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return true;  // no vault folder
    bool ok = true;
    do {
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::string name = fileio::Narrow(fd.cFileName);
      if (Has(drive, name)) continue;
      const std::string path = folder + "\\" + name;
      HANDLE h = CreateFileW(fileio::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) {
        ok = false;
        continue;
      }
      m_guards.push_back(Guard{drive, name, h});
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    return ok;
  }

  void Close(char drive) {
    for (size_t i = m_guards.size(); i-- > 0;) {
      if (m_guards[i].drive != drive) continue;
      CloseHandle(m_guards[i].handle);
      m_guards.erase(m_guards.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  void CloseAll() {
    for (Guard& g : m_guards) CloseHandle(g.handle);
    m_guards.clear();
  }

  bool AnyFor(char drive) const {
    for (const Guard& g : m_guards)
      if (g.drive == drive) return true;
    return false;
  }

private:
  struct Guard {
    char drive;
    std::string name;
    HANDLE handle;
  };

  bool Has(char drive, const std::string& name) const {
    const std::wstring wide = fileio::Widen(name);
    for (const Guard& g : m_guards)
      if (g.drive == drive && lstrcmpiW(fileio::Widen(g.name).c_str(), wide.c_str()) == 0)
        return true;
    return false;
  }

  std::vector<Guard> m_guards;
};

GuardTable g_guards;

// Brings this process's guards for a drive in line with its recorded state
// (another process may have switched protection).  Returns the state.
uint32_t SyncDrive(char drive) {
  udll::SecureArea area;
  udll::LoadSecureArea(drive, area);
  g_guards.Sync(drive, (area.state & udll::kStateWriteProtected) != 0);
  return area.state;
}

class Lock {
public:
  Lock() { AcquireSRWLockExclusive(&g_lock); }
  ~Lock() { ReleaseSRWLockExclusive(&g_lock); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
};

Slot* FindSlot(uint32_t handle) {
  if (handle == 0) return nullptr;
  for (Slot& s : g_slots)
    if (s.handle == handle) return &s;
  return nullptr;
}

// The handle's current drive when the handle is live and the drive is still
// there as a removable drive; 0 otherwise.  Call with the lock held.
char CurrentDrive(uint32_t handle) {
  Slot* s = FindSlot(handle);
  if (!s || !s->drive) return 0;
  return udll::IsRemovableDrive(s->drive) ? s->drive : 0;
}

}  // namespace

// Nothing may escape through the C interface: every export that allocates
// catches and answers 0.
#define UDLL_GUARD_BEGIN try {
#define UDLL_GUARD_END(failure) \
  }                             \
  catch (...) {                 \
    return failure;             \
  }

UDLL_API uint32_t UDLL_CreateCUSBDevice(void) {
  UDLL_GUARD_BEGIN
  Lock lock;
  Slot* free = nullptr;
  for (Slot& s : g_slots)
    if (s.handle == 0) {
      free = &s;
      break;
    }
  if (!free) return 0;
  uint32_t h;
  do {
    h = g_nextHandle++;
  } while (h == 0 || FindSlot(h));
  const std::vector<char> drives = udll::ListRemovableDrives();
  free->handle = h;
  free->drive = drives.empty() ? 0 : drives[0];
  for (char d = 'A'; d <= 'Z'; ++d) {
    const bool present = std::find(drives.begin(), drives.end(), d) != drives.end();
    if (present) SyncDrive(d);
    else g_guards.Close(d);  // the drive went away
  }
  return h;
  UDLL_GUARD_END(0)
}

UDLL_API void UDLL_DestroyCUSBDevice(uint32_t handle) {
  Lock lock;
  if (Slot* s = FindSlot(handle)) {
    s->handle = 0;
    s->drive = 0;
  }
}

UDLL_API int32_t UDLL_DeviceExist(uint32_t handle) {
  UDLL_GUARD_BEGIN
  Lock lock;
  if (!FindSlot(handle)) return 0;
  return udll::ListRemovableDrives().empty() ? 0 : 1;
  UDLL_GUARD_END(0)
}

UDLL_API uint8_t UDLL_GetNumberOfDrive(uint32_t handle) {
  UDLL_GUARD_BEGIN
  Lock lock;
  if (!FindSlot(handle)) return 0;
  return static_cast<uint8_t>(udll::ListRemovableDrives().size());
  UDLL_GUARD_END(0)
}

UDLL_API int32_t UDLL_SetCurrentDriveNumber(uint32_t handle, uint8_t index) {
  UDLL_GUARD_BEGIN
  Lock lock;
  Slot* s = FindSlot(handle);
  if (!s) return 0;
  const std::vector<char> drives = udll::ListRemovableDrives();
  // An index out of range leaves no current drive rather than the old one,
  // so that a caller's mistake never lands on a drive it did not ask for.
  s->drive = index < drives.size() ? drives[index] : 0;
  return s->drive ? 1 : 0;
  UDLL_GUARD_END(0)
}

UDLL_API int32_t UDLL_GetDriveLetter(uint32_t handle, uint8_t kind, uint32_t* letter) {
  if (!letter || kind != 1) return 0;
  Lock lock;
  const char drive = CurrentDrive(handle);
  if (!drive) return 0;
  *letter = static_cast<unsigned char>(drive);
  return 1;
}

UDLL_API int32_t UDLL_GetPasswordHint(uint32_t handle, char* hint256) {
  UDLL_GUARD_BEGIN
  if (!hint256) return 0;
  Lock lock;
  const char drive = CurrentDrive(handle);
  if (!drive) return 0;
  udll::SecureArea area;
  udll::LoadSecureArea(drive, area);
  udll::BuildHintBuffer(area, hint256);
  return 1;
  UDLL_GUARD_END(0)
}

UDLL_API int32_t UDLL_GetTestString(uint32_t handle, unsigned char* test512) {
  UDLL_GUARD_BEGIN
  if (!test512) return 0;
  Lock lock;
  const char drive = CurrentDrive(handle);
  if (!drive) return 0;
  udll::SecureArea area;
  udll::LoadSecureArea(drive, area);
  udll::BuildTestString(area, test512);
  return 1;
  UDLL_GUARD_END(0)
}

UDLL_API int32_t UDLL_ChangePassword(uint32_t handle, const char* current512,
                                     const char* newPassword16, const char* newHint128) {
  UDLL_GUARD_BEGIN
  if (!current512 || !newPassword16 || !newHint128) return 0;
  // Each buffer must hold its text with the terminator inside the buffer.
  const size_t curLen = strnlen(current512, 512);
  const size_t pwLen = strnlen(newPassword16, 16);
  const size_t hintLen = strnlen(newHint128, 128);
  if (curLen == 512 || pwLen == 16 || hintLen == 128) return 0;
  const std::string current(current512, curLen);
  const std::string password(newPassword16, pwLen);
  const std::string hint(newHint128, hintLen);
  if (!udll::IsValidPassword(password) || !udll::IsValidHint(hint)) return 0;

  Lock lock;
  const char drive = CurrentDrive(handle);
  if (!drive) return 0;
  udll::SecureArea area;
  if (udll::LoadSecureArea(drive, area) == udll::LoadResult::Damaged) return 0;
  bool matches;
  if (area.hasPassword)
    matches = current == area.password;
  else  // nothing to guard: an empty text or the unpacked "no password" marker
    matches = current.empty() || static_cast<unsigned char>(current[0]) == 0xFF;
  if (!matches) return 0;
  area.hasPassword = !password.empty();
  area.password = password;
  area.hasHint = true;
  area.hint = hint;
  return udll::SaveSecureArea(drive, area) ? 1 : 0;
  UDLL_GUARD_END(0)
}

UDLL_API uint32_t UDLL_GetDeviceState(uint32_t handle) {
  UDLL_GUARD_BEGIN
  Lock lock;
  const char drive = CurrentDrive(handle);
  if (!drive) return 0;
  return SyncDrive(drive);
  UDLL_GUARD_END(0)
}

UDLL_API int32_t UDLL_SetWriteProtect(uint32_t handle, uint32_t on) {
  UDLL_GUARD_BEGIN
  if (on > 1) return 0;
  Lock lock;
  const char drive = CurrentDrive(handle);
  if (!drive) return 0;
  udll::SecureArea area;
  if (udll::LoadSecureArea(drive, area) == udll::LoadResult::Damaged) return 0;
  bool filesOk = udll::ApplyVaultProtection(drive, on != 0);
  filesOk = g_guards.Sync(drive, on != 0) && filesOk;
  if (on) area.state |= udll::kStateWriteProtected;
  else area.state &= ~udll::kStateWriteProtected;
  const bool saved = udll::SaveSecureArea(drive, area);
  return filesOk && saved ? 1 : 0;
  UDLL_GUARD_END(0)
}

UDLL_API int32_t UDLL_FlushFileBuffer(uint32_t handle) {
  // Files are written through the system's own cache; there is nothing of
  // ours to write out.  Report whether the current drive is there.
  Lock lock;
  return CurrentDrive(handle) ? 1 : 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
