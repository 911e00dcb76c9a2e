// The emulated secure area of a removable drive, shared by udll.dll and the
// udll-admin tool.
//
// It lives in the hidden file X:\.udll-secure, a short text file:
//
//   HBUDLL 1
//   password <hex bytes>     (line absent: no password set)
//   hint <hex bytes>         (line absent: no hint set; "hint " = empty hint)
//   state <hex 32-bit>
//
// Texts are stored as hex so that any byte survives.  A file that exists but
// cannot be parsed counts as a damaged secure area: it reports state bit 0x2
// and is never overwritten by the library (udll-admin can reset it).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace udll {

const char kSecureFileName[] = ".udll-secure";
const size_t kMaxPassword = 15;      // characters
const size_t kMaxHint = 255;         // characters (the hint buffer holds 256)
const size_t kTestStringSize = 512;
const size_t kHintBufferSize = 256;
const uint32_t kStateUnsupported = 0x2;
const uint32_t kStateWriteProtected = 0x10;

struct SecureArea {
  bool hasPassword = false;
  std::string password;
  bool hasHint = false;
  std::string hint;
  uint32_t state = 0;
};

enum class LoadResult { Ok, Missing, Damaged };

// Upper-case drive letter from "e", "E:", "e:\..."; 0 when not a letter.
char ParseDriveLetter(const char* text);

// Removable drives (GetDriveTypeA == DRIVE_REMOVABLE), letters A..Z in order.
std::vector<char> ListRemovableDrives();
bool IsRemovableDrive(char letter);

std::string SecureFilePath(char letter);  // "E:\.udll-secure"
std::string VaultFolderPath(char letter); // "E:\diviz"

// Reads the area.  Missing: defaults (no password, no hint, state 0).
// Damaged: defaults with kStateUnsupported set.
LoadResult LoadSecureArea(char letter, SecureArea& area);
// Writes the area (hidden file, replaced as a whole).  Refuses areas that
// break the limits above.
bool SaveSecureArea(char letter, const SecureArea& area);
bool RemoveSecureArea(char letter);

// A password the area can hold: at most 15 characters, no zero byte, and not
// starting with 0xFF (the "no password" marker).  Empty is valid (= none).
bool IsValidPassword(const std::string& password);
bool IsValidHint(const std::string& hint);

// Fills the 512-byte test string / 256-byte hint buffer from the area.
void BuildTestString(const SecureArea& area, unsigned char* out512);
void BuildHintBuffer(const SecureArea& area, char* out256);

// Sets (on) or clears (off) the read-only attribute of every file in the
// drive's vault folder.  True when every file could be switched (also when
// there is no vault folder).
bool ApplyVaultProtection(char letter, bool on);

std::string ToHex(const std::string& bytes);
bool FromHex(const std::string& hex, std::string& bytes);

}  // namespace udll
