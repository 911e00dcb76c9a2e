// Exports of udll.dll, our stand-in for the disk vendor's device library.
//
// The library lists the removable drives of the machine and keeps each
// drive's "secure area" (password, hint, state bits) in a hidden file at the
// drive's root (see SecureArea.h).  Every export checks its arguments: an
// unknown handle, a drive index out of range or a null buffer makes it return
// 0 and change nothing.  All exports are safe to call from several threads.
#pragma once

#include <stdint.h>

#ifdef UDLL_BUILDING
#define UDLL_API extern "C" __declspec(dllexport)
#else
#define UDLL_API extern "C" __declspec(dllimport)
#endif

// A new handle (never 0), or 0 when the handle table is full.  Its current
// drive is the first removable drive.
UDLL_API uint32_t UDLL_CreateCUSBDevice(void);
UDLL_API void UDLL_DestroyCUSBDevice(uint32_t handle);
// 1 when at least one removable drive is present, else 0.
UDLL_API int32_t UDLL_DeviceExist(uint32_t handle);
UDLL_API uint8_t UDLL_GetNumberOfDrive(uint32_t handle);
// Makes drive `index` (0 .. count-1, in letter order) the current drive.  An
// index out of range leaves the handle without a current drive.
UDLL_API int32_t UDLL_SetCurrentDriveNumber(uint32_t handle, uint8_t index);
// kind must be 1: *letter = the current drive's letter in ASCII, upper case.
UDLL_API int32_t UDLL_GetDriveLetter(uint32_t handle, uint8_t kind, uint32_t* letter);
// hint256: zero-terminated hint; first byte 0xFF when no hint is set.
UDLL_API int32_t UDLL_GetPasswordHint(uint32_t handle, char* hint256);
// test512: password character i at offset 19*i, a zero at 19*length (or at
// 15 for a password of 15 characters), non-zero filler elsewhere; the first
// byte is 0xFF (and offset 19 is zero) when no password is set.
UDLL_API int32_t UDLL_GetTestString(uint32_t handle, unsigned char* test512);
// Sets password and hint when current512 matches the stored password exactly
// (with no password set: an empty text or one starting with 0xFF).  An empty
// new password removes the password.  Returns 1 when changed, else 0.
UDLL_API int32_t UDLL_ChangePassword(uint32_t handle, const char* current512,
                                     const char* newPassword16, const char* newHint128);
// Bits: 0x2 unsupported/damaged secure area, 0x10 write-protected.
UDLL_API uint32_t UDLL_GetDeviceState(uint32_t handle);
// on = 1: the files in \diviz become read-only; on = 0: writable again.
UDLL_API int32_t UDLL_SetWriteProtect(uint32_t handle, uint32_t on);
UDLL_API int32_t UDLL_FlushFileBuffer(uint32_t handle);
