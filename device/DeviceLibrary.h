// Binding to the disk's device library (udll.dll).
//
// The library is loaded lazily by name on the first call that needs it, and
// each export is looked up on its first use.  A library that cannot be loaded
// or an export that is missing never fails loudly: the wrapper returns 0 (or
// does nothing), exactly as if the device had answered "nothing there".
//
// Every owner (login dialog, password dialog, view, start-up check) embeds its
// own instance and creates its own device handle with UDLL_CreateCUSBDevice.
// Instances are not thread-safe and are not shared; use them from the
// user-interface thread only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// A device handle as the library hands it out; 0 means "no handle".
typedef uint32_t UDLL_HANDLE;

// Buffer sizes the library operations expect.  Callers zero-fill the buffers
// before the call.
enum : size_t {
  UDLL_HINT_BUFFER_SIZE = 256,          // UDLL_GetPasswordHint
  UDLL_TEST_STRING_SIZE = 512,          // UDLL_GetTestString
  UDLL_CURRENT_PASSWORD_SIZE = 512,     // UDLL_ChangePassword, current password
  UDLL_NEW_PASSWORD_SIZE = 16,          // UDLL_ChangePassword, new password
  UDLL_NEW_HINT_SIZE = 128,             // UDLL_ChangePassword, new hint
  UDLL_MAX_PASSWORD_LENGTH = 15,        // characters, without the terminator
};

// Bits of UDLL_GetDeviceState the program reads.
enum : uint32_t {
  UDLL_STATE_UNSUPPORTED = 0x2,         // secure area the program cannot handle
  UDLL_STATE_WRITE_PROTECTED = 0x10,    // disk is write-protected
};

// The constant second argument of UDLL_GetDriveLetter.
enum : uint8_t { UDLL_DRIVE_LETTER_ASCII = 1 };

// Signatures of the library's exports (C linkage, undecorated names).
extern "C" {
typedef UDLL_HANDLE (*PFN_UDLL_CreateCUSBDevice)(void);
typedef void (*PFN_UDLL_DestroyCUSBDevice)(UDLL_HANDLE handle);
typedef int32_t (*PFN_UDLL_DeviceExist)(UDLL_HANDLE handle);
typedef uint8_t (*PFN_UDLL_GetNumberOfDrive)(UDLL_HANDLE handle);
typedef int32_t (*PFN_UDLL_SetCurrentDriveNumber)(UDLL_HANDLE handle, uint8_t index);
typedef int32_t (*PFN_UDLL_GetDriveLetter)(UDLL_HANDLE handle, uint8_t kind, uint32_t* letter);
typedef int32_t (*PFN_UDLL_GetPasswordHint)(UDLL_HANDLE handle, char* hint256);
typedef int32_t (*PFN_UDLL_GetTestString)(UDLL_HANDLE handle, unsigned char* test512);
typedef int32_t (*PFN_UDLL_ChangePassword)(UDLL_HANDLE handle, const char* current512,
                                           const char* newPassword16, const char* newHint128);
typedef uint32_t (*PFN_UDLL_GetDeviceState)(UDLL_HANDLE handle);
typedef int32_t (*PFN_UDLL_SetWriteProtect)(UDLL_HANDLE handle, uint32_t on);
typedef int32_t (*PFN_UDLL_FlushFileBuffer)(UDLL_HANDLE handle);
}

class CDeviceLibrary {
public:
  // The operations, in table order.
  enum Operation {
    opCreateCUSBDevice,
    opDestroyCUSBDevice,
    opDeviceExist,
    opGetNumberOfDrive,
    opSetCurrentDriveNumber,
    opGetDriveLetter,
    opGetPasswordHint,
    opGetTestString,
    opChangePassword,
    opGetDeviceState,
    opSetWriteProtect,
    opFlushFileBuffer,
    opCount
  };

  // Lookup state of one operation.
  enum LookupState {
    lookupPending = 0,  // not looked up yet (or the library is not loaded)
    lookupMissing = 1,  // the library lacks the export
    lookupFound = 2     // callable
  };

  // Error recorded when LoadLibraryA fails but GetLastError reports 0.
  static constexpr DWORD kUnknownLoadError = 0x20000000;

  // Binds to the library "UDLL" (udll.dll beside the program).  Nothing is
  // loaded until the first wrapper call.  A different name is for tests.
  explicit CDeviceLibrary(const char* libraryName = "UDLL");
  ~CDeviceLibrary();  // calls Release()

  CDeviceLibrary(const CDeviceLibrary&) = delete;
  CDeviceLibrary& operator=(const CDeviceLibrary&) = delete;

  // Unloads the library when this instance loaded it, and forgets the name;
  // afterwards every wrapper returns 0.  Owners call it after destroying
  // their device handle; safe to call more than once.
  void Release();

  // --- Wrappers: one per library operation, 0 / no effect when unavailable.
  UDLL_HANDLE UDLL_CreateCUSBDevice();
  void UDLL_DestroyCUSBDevice(UDLL_HANDLE handle);
  int32_t UDLL_DeviceExist(UDLL_HANDLE handle);
  // Raw drive count (low 8 bits); 0 when the export is missing.  Most callers
  // want GetNumberOfDrive() below instead.
  uint8_t UDLL_GetNumberOfDrive(UDLL_HANDLE handle);
  int32_t UDLL_SetCurrentDriveNumber(UDLL_HANDLE handle, uint8_t index);
  int32_t UDLL_GetDriveLetter(UDLL_HANDLE handle, uint8_t kind, uint32_t* letter);
  int32_t UDLL_GetPasswordHint(UDLL_HANDLE handle, char* hint256);
  int32_t UDLL_GetTestString(UDLL_HANDLE handle, unsigned char* test512);
  int32_t UDLL_ChangePassword(UDLL_HANDLE handle, const char* current512,
                              const char* newPassword16, const char* newHint128);
  uint32_t UDLL_GetDeviceState(UDLL_HANDLE handle);
  int32_t UDLL_SetWriteProtect(UDLL_HANDLE handle, uint32_t on);
  int32_t UDLL_FlushFileBuffer(UDLL_HANDLE handle);

  // Drive count with the rule for a library that lacks UDLL_GetNumberOfDrive:
  // then whenMissing is returned.  The login and password dialogs and the
  // view pass 1; the start-up security check passes 0.  With the export
  // present (or the library not loadable) the result is the library's count
  // (low 8 bits), or 0.
  int GetNumberOfDrive(UDLL_HANDLE handle, int whenMissing);

  // Makes the library's current drive the one whose letter equals the first
  // character of disk ("E:", "E:\..." or "E"); the comparison is exact (upper
  // case letters).  Returns 1 when found, 0 when not (also for a null or empty
  // disk text).  countWhenMissing as for GetNumberOfDrive (1 for dialogs and
  // view, 0 for the start-up check).
  int SelectDiskDrive(UDLL_HANDLE handle, const char* disk, int countWhenMissing = 1);

  // --- State, mainly for tests and diagnostics.
  HMODULE GetModule() const { return m_hModule; }
  DWORD GetLoadError() const { return m_dwLoadError; }
  bool OwnsModule() const { return m_bOwnsModule != 0; }
  const char* GetLibraryName() const { return m_pszLibraryName; }
  LookupState GetLookupState(Operation op) const;
  // Looks the operation up (loading the library if needed) and tells whether
  // it can be called.
  bool IsAvailable(Operation op);

  // Export name of an operation ("UDLL_GetTestString"), or "" for a bad value.
  static const char* ExportName(Operation op);

private:
  struct Entry {
    FARPROC pfn;
    int state;  // LookupState
  };

  // Returns the function address when the operation is callable, else null.
  FARPROC Lookup(Operation op);
  void Load();

  HMODULE m_hModule;
  DWORD m_dwLoadError;
  int m_bOwnsModule;
  char* m_pszLibraryName;
  Entry m_ops[opCount];
};

// Rewrites a 512-byte test string in place so that it begins with the stored
// password as a zero-terminated text: byte i = byte 19*i for i = 0..14, in
// rising order.  Bytes from offset 15 on are left as they are, so a password
// of 15 characters is terminated by the library's zero at offset 15 and a
// shorter one by the zero at 19*length.  A null buffer is ignored.
void UnpackTestString(unsigned char* testString512);
inline void UnpackTestString(char* testString512) {
  UnpackTestString(reinterpret_cast<unsigned char*>(testString512));
}
