#include "device/DeviceLibrary.h"

#include <cstdlib>
#include <cstring>

#include "vault/fileio/WideText.h"

namespace {

const char* const kExportNames[CDeviceLibrary::opCount] = {
    "UDLL_CreateCUSBDevice",      "UDLL_DestroyCUSBDevice", "UDLL_DeviceExist",
    "UDLL_GetNumberOfDrive",      "UDLL_SetCurrentDriveNumber", "UDLL_GetDriveLetter",
    "UDLL_GetPasswordHint",       "UDLL_GetTestString",     "UDLL_ChangePassword",
    "UDLL_GetDeviceState",        "UDLL_SetWriteProtect",   "UDLL_FlushFileBuffer",
};

// Casts a looked-up address to the export's signature (via void* so that
// GCC's function-cast warning stays quiet).
template <typename Fn>
Fn As(FARPROC p) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}

}  // namespace

CDeviceLibrary::CDeviceLibrary(const char* libraryName)
    : m_hModule(nullptr), m_dwLoadError(0), m_bOwnsModule(1), m_pszLibraryName(nullptr) {
  for (Entry& e : m_ops) {
    e.pfn = nullptr;
    e.state = lookupPending;
  }
  if (libraryName) {
    size_t n = std::strlen(libraryName) + 1;
    m_pszLibraryName = static_cast<char*>(std::malloc(n));
    if (m_pszLibraryName) std::memcpy(m_pszLibraryName, libraryName, n);
  }
}

CDeviceLibrary::~CDeviceLibrary() { Release(); }

void CDeviceLibrary::Release() {
  if (m_bOwnsModule && m_hModule) FreeLibrary(m_hModule);
  m_hModule = nullptr;
  m_bOwnsModule = 0;
  std::free(m_pszLibraryName);
  m_pszLibraryName = nullptr;
  // Addresses into an unloaded module must never be called again.  The
  // states go back to "not looked up"; with no module and no name a new
  // lookup finds nothing, so every wrapper returns 0 from now on.
  for (Entry& e : m_ops) {
    e.pfn = nullptr;
    e.state = lookupPending;
  }
}

void CDeviceLibrary::Load() {
  if (m_hModule || !m_pszLibraryName || m_dwLoadError) return;
  // No system error box if the library is missing or damaged.
  DWORD oldMode = 0;
  const BOOL modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  m_hModule = LoadLibraryW(fileio::Widen(m_pszLibraryName).c_str());  // a UTF-8 name or path
  const DWORD err = m_hModule ? 0 : GetLastError();
  if (modeSet) SetThreadErrorMode(oldMode, nullptr);
  if (!m_hModule) m_dwLoadError = err ? err : kUnknownLoadError;
}

FARPROC CDeviceLibrary::Lookup(Operation op) {
  if (op < 0 || op >= opCount) return nullptr;
  Entry& e = m_ops[op];
  if (e.state == lookupPending) {
    Load();
    if (m_hModule) {
      e.pfn = GetProcAddress(m_hModule, kExportNames[op]);
      e.state = e.pfn ? lookupFound : lookupMissing;
    }
  }
  return e.state == lookupFound ? e.pfn : nullptr;
}

CDeviceLibrary::LookupState CDeviceLibrary::GetLookupState(Operation op) const {
  if (op < 0 || op >= opCount) return lookupPending;
  return static_cast<LookupState>(m_ops[op].state);
}

bool CDeviceLibrary::IsAvailable(Operation op) { return Lookup(op) != nullptr; }

const char* CDeviceLibrary::ExportName(Operation op) {
  return (op >= 0 && op < opCount) ? kExportNames[op] : "";
}

// --- Wrappers ---------------------------------------------------------------

UDLL_HANDLE CDeviceLibrary::UDLL_CreateCUSBDevice() {
  FARPROC p = Lookup(opCreateCUSBDevice);
  return p ? As<PFN_UDLL_CreateCUSBDevice>(p)() : 0;
}

void CDeviceLibrary::UDLL_DestroyCUSBDevice(UDLL_HANDLE handle) {
  FARPROC p = Lookup(opDestroyCUSBDevice);
  if (p) As<PFN_UDLL_DestroyCUSBDevice>(p)(handle);
}

int32_t CDeviceLibrary::UDLL_DeviceExist(UDLL_HANDLE handle) {
  FARPROC p = Lookup(opDeviceExist);
  return p ? As<PFN_UDLL_DeviceExist>(p)(handle) : 0;
}

uint8_t CDeviceLibrary::UDLL_GetNumberOfDrive(UDLL_HANDLE handle) {
  FARPROC p = Lookup(opGetNumberOfDrive);
  return p ? As<PFN_UDLL_GetNumberOfDrive>(p)(handle) : 0;
}

int32_t CDeviceLibrary::UDLL_SetCurrentDriveNumber(UDLL_HANDLE handle, uint8_t index) {
  FARPROC p = Lookup(opSetCurrentDriveNumber);
  return p ? As<PFN_UDLL_SetCurrentDriveNumber>(p)(handle, index) : 0;
}

int32_t CDeviceLibrary::UDLL_GetDriveLetter(UDLL_HANDLE handle, uint8_t kind, uint32_t* letter) {
  FARPROC p = Lookup(opGetDriveLetter);
  return p ? As<PFN_UDLL_GetDriveLetter>(p)(handle, kind, letter) : 0;
}

int32_t CDeviceLibrary::UDLL_GetPasswordHint(UDLL_HANDLE handle, char* hint256) {
  FARPROC p = Lookup(opGetPasswordHint);
  return p ? As<PFN_UDLL_GetPasswordHint>(p)(handle, hint256) : 0;
}

int32_t CDeviceLibrary::UDLL_GetTestString(UDLL_HANDLE handle, unsigned char* test512) {
  FARPROC p = Lookup(opGetTestString);
  return p ? As<PFN_UDLL_GetTestString>(p)(handle, test512) : 0;
}

int32_t CDeviceLibrary::UDLL_ChangePassword(UDLL_HANDLE handle, const char* current512,
                                            const char* newPassword16, const char* newHint128) {
  FARPROC p = Lookup(opChangePassword);
  return p ? As<PFN_UDLL_ChangePassword>(p)(handle, current512, newPassword16, newHint128) : 0;
}

uint32_t CDeviceLibrary::UDLL_GetDeviceState(UDLL_HANDLE handle) {
  FARPROC p = Lookup(opGetDeviceState);
  return p ? As<PFN_UDLL_GetDeviceState>(p)(handle) : 0;
}

int32_t CDeviceLibrary::UDLL_SetWriteProtect(UDLL_HANDLE handle, uint32_t on) {
  FARPROC p = Lookup(opSetWriteProtect);
  return p ? As<PFN_UDLL_SetWriteProtect>(p)(handle, on) : 0;
}

int32_t CDeviceLibrary::UDLL_FlushFileBuffer(UDLL_HANDLE handle) {
  FARPROC p = Lookup(opFlushFileBuffer);
  return p ? As<PFN_UDLL_FlushFileBuffer>(p)(handle) : 0;
}

// --- Shared procedures ------------------------------------------------------

int CDeviceLibrary::GetNumberOfDrive(UDLL_HANDLE handle, int whenMissing) {
  FARPROC p = Lookup(opGetNumberOfDrive);
  if (p) return As<PFN_UDLL_GetNumberOfDrive>(p)(handle) & 0xFF;
  // Only a loaded library that lacks the export takes the caller's default;
  // without a library there are no drives at all.
  return GetLookupState(opGetNumberOfDrive) == lookupMissing ? whenMissing : 0;
}

int CDeviceLibrary::SelectDiskDrive(UDLL_HANDLE handle, const char* disk, int countWhenMissing) {
  // An empty text would otherwise "match" the zero a silent library leaves
  // in the letter output.
  if (!disk || !disk[0]) return 0;
  const unsigned char wanted = static_cast<unsigned char>(disk[0]);
  const int count = GetNumberOfDrive(handle, countWhenMissing);
  for (int i = 0; i < count; ++i) {
    UDLL_SetCurrentDriveNumber(handle, static_cast<uint8_t>(i));
    uint32_t letter = 0;
    UDLL_GetDriveLetter(handle, UDLL_DRIVE_LETTER_ASCII, &letter);
    if ((letter & 0xFF) == wanted) return 1;
  }
  return 0;
}

void UnpackTestString(unsigned char* testString512) {
  if (!testString512) return;
  for (int i = 0; i < 15; ++i) testString512[i] = testString512[19 * i];
}
