#include "SecureArea.h"

#include <windows.h>

#include "vault/fileio/WideText.h"

#include <cstdio>
#include <cstring>

namespace udll {

namespace {

const char kMagic[] = "HBUDLL 1";
const DWORD kMaxFileSize = 4096;

// Deterministic filler for the test string: never 0, never 0xFF.
unsigned char Filler(size_t offset) {
  return static_cast<unsigned char>(1 + (offset * 131 + 7) % 254);
}

bool ReadWholeFile(const std::string& path, std::string& data, bool& missing) {
  missing = false;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    missing = (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND);
    return false;
  }
  bool ok = false;
  DWORD size = GetFileSize(h, nullptr);
  if (size != INVALID_FILE_SIZE && size <= kMaxFileSize) {
    data.assign(size, '\0');
    DWORD got = 0;
    ok = size == 0 || (ReadFile(h, &data[0], size, &got, nullptr) && got == size);
  }
  CloseHandle(h);
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  // Write a new file beside the old one and swap it in, so that a failed
  // write never leaves a half-written secure area behind.
  const std::string tmp = path + ".new";
  SetFileAttributesA(tmp.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
            put == data.size();
  ok = FlushFileBuffers(h) && ok;
  CloseHandle(h);
  if (ok) ok = MoveFileExA(tmp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    DeleteFileA(tmp.c_str());
    return false;
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
  return true;
}

bool ParseHex32(const std::string& text, uint32_t& value) {
  if (text.empty() || text.size() > 8) return false;
  uint32_t v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  value = v;
  return true;
}

bool ParseArea(const std::string& data, SecureArea& area) {
  size_t pos = 0;
  bool first = true, sawState = false;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      if (line != kMagic) return false;
      first = false;
      continue;
    }
    if (line.empty()) continue;
    size_t space = line.find(' ');
    if (space == std::string::npos) return false;
    const std::string key = line.substr(0, space), value = line.substr(space + 1);
    if (key == "password") {
      if (area.hasPassword || !FromHex(value, area.password)) return false;
      if (area.password.empty() || !IsValidPassword(area.password)) return false;
      area.hasPassword = true;
    } else if (key == "hint") {
      if (area.hasHint || !FromHex(value, area.hint) || !IsValidHint(area.hint)) return false;
      area.hasHint = true;
    } else if (key == "state") {
      if (sawState || !ParseHex32(value, area.state)) return false;
      sawState = true;
    } else {
      return false;
    }
  }
  return !first && sawState;
}

}  // namespace

char ParseDriveLetter(const char* text) {
  if (!text) return 0;
  char c = text[0];
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (c < 'A' || c > 'Z') return 0;
  if (text[1] != '\0' && text[1] != ':') return 0;
  return c;
}

bool IsRemovableDrive(char letter) {
  if (letter < 'A' || letter > 'Z') return false;
  if (!(GetLogicalDrives() & (1u << (letter - 'A')))) return false;
  const char root[4] = {letter, ':', '\\', '\0'};
  return GetDriveTypeA(root) == DRIVE_REMOVABLE;
}

std::vector<char> ListRemovableDrives() {
  std::vector<char> drives;
  const DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i))) continue;
    const char letter = static_cast<char>('A' + i);
    const char root[4] = {letter, ':', '\\', '\0'};
    if (GetDriveTypeA(root) == DRIVE_REMOVABLE) drives.push_back(letter);
  }
  return drives;
}

std::string SecureFilePath(char letter) {
  return std::string(1, letter) + ":\\" + kSecureFileName;
}

std::string VaultFolderPath(char letter) { return std::string(1, letter) + ":\\diviz"; }

bool IsValidPassword(const std::string& password) {
  if (password.size() > kMaxPassword) return false;
  if (password.find('\0') != std::string::npos) return false;
  return password.empty() || static_cast<unsigned char>(password[0]) != 0xFF;
}

bool IsValidHint(const std::string& hint) {
  return hint.size() <= kMaxHint && hint.find('\0') == std::string::npos &&
         (hint.empty() || static_cast<unsigned char>(hint[0]) != 0xFF);
}

LoadResult LoadSecureArea(char letter, SecureArea& area) {
  area = SecureArea();
  std::string data;
  bool missing = false;
  if (!ReadWholeFile(SecureFilePath(letter), data, missing)) {
    if (missing) return LoadResult::Missing;
  } else {
    SecureArea parsed;
    if (ParseArea(data, parsed)) {
      area = parsed;
      return LoadResult::Ok;
    }
  }
  area.state = kStateUnsupported;
  return LoadResult::Damaged;
}

bool SaveSecureArea(char letter, const SecureArea& area) {
  if (area.hasPassword && (area.password.empty() || !IsValidPassword(area.password))) return false;
  if (area.hasHint && !IsValidHint(area.hint)) return false;
  std::string data = kMagic;
  data += "\r\n";
  if (area.hasPassword) data += "password " + ToHex(area.password) + "\r\n";
  if (area.hasHint) data += "hint " + ToHex(area.hint) + "\r\n";
  char state[32];
  std::snprintf(state, sizeof state, "state %08lx\r\n", static_cast<unsigned long>(area.state));
  data += state;
  return WriteWholeFile(SecureFilePath(letter), data);
}

bool RemoveSecureArea(char letter) {
  const std::string path = SecureFilePath(letter);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

void BuildTestString(const SecureArea& area, unsigned char* out512) {
  for (size_t i = 0; i < kTestStringSize; ++i) out512[i] = Filler(i);
  if (!area.hasPassword || area.password.empty()) {
    // "No password": the marker, then an empty text once unpacked.
    out512[0] = 0xFF;
    out512[19] = 0;
    return;
  }
  const size_t n = area.password.size() < kMaxPassword ? area.password.size() : kMaxPassword;
  for (size_t i = 0; i < n; ++i) out512[19 * i] = static_cast<unsigned char>(area.password[i]);
  if (n < kMaxPassword) out512[19 * n] = 0;
  else out512[15] = 0;
}

void BuildHintBuffer(const SecureArea& area, char* out256) {
  std::memset(out256, 0, kHintBufferSize);
  if (!area.hasHint) {
    out256[0] = static_cast<char>(0xFF);
    return;
  }
  const size_t n = area.hint.size() < kMaxHint ? area.hint.size() : kMaxHint;
  std::memcpy(out256, area.hint.data(), n);
}

bool ApplyVaultProtection(char letter, bool on) {
  const std::string folder = VaultFolderPath(letter);
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW(fileio::Widen(folder + "\\*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
  }
  bool ok = true;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring path = fileio::Widen(folder) + L"\\" + fd.cFileName;
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
      ok = false;
      continue;
    }
    DWORD wanted = on ? (attrs | FILE_ATTRIBUTE_READONLY) : (attrs & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    if (wanted != attrs && !SetFileAttributesW(path.c_str(), wanted)) ok = false;
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  return ok;
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool FromHex(const std::string& hex, std::string& bytes) {
  if (hex.size() % 2) return false;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    uint32_t v;
    if (!ParseHex32(hex.substr(i, 2), v)) return false;
    out += static_cast<char>(v);
  }
  bytes = out;
  return true;
}

}  // namespace udll
