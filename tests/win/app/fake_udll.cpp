// A scriptable device library for the in-process tests, built as udll.dll
// beside the test program.  The drives come from the environment variable
// HB_FAKE_DRIVES, read at every call:
//
//   HB_FAKE_DRIVES = drive;drive;...      in the library's drive order
//   drive          = L,password,hint      "*" as password: no password (0xFF)
//                                         "*" as hint: no hint (0xFF)
//
// HB_FAKE_DEVICE=0 makes UDLL_DeviceExist report no device; HB_FAKE_STATE is
// the device state (hex).  When HB_FAKE_WP_LOG names a file, every
// UDLL_SetWriteProtect call appends "wp VALUE" and every UDLL_FlushFileBuffer
// call "flush" to it, one line each.  When HB_FAKE_CHANGE_LOG names a file,
// every UDLL_ChangePassword call appends one line
//   change DRIVE|CURRENT|NEW|HINT|ZEROS
// (CURRENT in hex; ZEROS is 1 when every buffer is zero after its text) and
// answers HB_FAKE_CHANGE_RESULT (default 1); nothing is stored.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Drive {
  char letter;
  std::string password;  // "*" = none
  std::string hint;      // "*" = none
};

std::string Env(const char* name) {
  char buf[1024];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof(buf));
  return (n > 0 && n < sizeof(buf)) ? std::string(buf, n) : std::string();
}

void AppendToCallLog(const std::string& line, const char* logVariable = "HB_FAKE_WP_LOG") {
  std::string path = Env(logVariable);
  if (path.empty()) return;
  HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
}

std::vector<Drive> Drives() {
  std::vector<Drive> out;
  std::string all = Env("HB_FAKE_DRIVES");
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(start, end - start);
    start = end + 1;
    size_t c1 = item.find(','), c2 = c1 == std::string::npos ? c1 : item.find(',', c1 + 1);
    if (item.empty() || c2 == std::string::npos) continue;
    out.push_back(Drive{item[0], item.substr(c1 + 1, c2 - c1 - 1), item.substr(c2 + 1)});
  }
  return out;
}

int g_current = 0;

const Drive* Current() {
  static Drive d;
  std::vector<Drive> all = Drives();
  if (g_current < 0 || g_current >= static_cast<int>(all.size())) return nullptr;
  d = all[static_cast<size_t>(g_current)];
  return &d;
}

}  // namespace

extern "C" {

__declspec(dllexport) uint32_t UDLL_CreateCUSBDevice(void) { return 0x51; }
__declspec(dllexport) void UDLL_DestroyCUSBDevice(uint32_t) {}
__declspec(dllexport) int32_t UDLL_DeviceExist(uint32_t h) {
  return h != 0 && Env("HB_FAKE_DEVICE") != "0" ? 1 : 0;
}
__declspec(dllexport) uint8_t UDLL_GetNumberOfDrive(uint32_t) {
  return static_cast<uint8_t>(Drives().size());
}
__declspec(dllexport) int32_t UDLL_SetCurrentDriveNumber(uint32_t, uint8_t index) {
  g_current = index;
  return 1;
}
__declspec(dllexport) int32_t UDLL_GetDriveLetter(uint32_t, uint8_t, uint32_t* letter) {
  const Drive* d = Current();
  *letter = d ? static_cast<unsigned char>(d->letter) : 0;
  return d != nullptr;
}
__declspec(dllexport) int32_t UDLL_GetPasswordHint(uint32_t, char* hint) {
  const Drive* d = Current();
  if (!d) return 0;
  if (d->hint == "*")
    hint[0] = static_cast<char>(0xFF);
  else
    lstrcpynA(hint, d->hint.c_str(), 256);
  return 1;
}
__declspec(dllexport) int32_t UDLL_GetTestString(uint32_t, unsigned char* test) {
  const Drive* d = Current();
  if (!d) return 0;
  // Noise everywhere, then the password at 19*i and its terminators.
  for (int i = 0; i < 512; ++i) test[i] = static_cast<unsigned char>('a' + (i * 7) % 26);
  if (d->password == "*") {
    test[0] = 0xFF;
    return 1;
  }
  size_t n = d->password.size();
  for (size_t i = 0; i < n; ++i) test[19 * i] = static_cast<unsigned char>(d->password[i]);
  test[19 * n] = 0;
  if (n == 15) test[15] = 0;
  return 1;
}
__declspec(dllexport) int32_t UDLL_ChangePassword(uint32_t, const char* current,
                                                  const char* password, const char* hint) {
  // The text of a buffer, and whether everything after it is zero.
  bool zeros = true;
  auto text = [&zeros](const char* buf, size_t size) {
    size_t n = strnlen(buf, size);
    for (size_t i = n; i < size; ++i) zeros = zeros && buf[i] == 0;
    return std::string(buf, n);
  };
  std::string cur = text(current, 512), pw = text(password, 16), h = text(hint, 128);
  std::string hex;
  for (unsigned char c : cur) {
    char two[3];
    std::snprintf(two, sizeof(two), "%02X", c);
    hex += two;
  }
  const Drive* d = Current();
  AppendToCallLog(std::string("change ") + (d ? d->letter : '?') + "|" + hex + "|" + pw + "|" + h +
                      "|" + (zeros ? "1" : "0"),
                  "HB_FAKE_CHANGE_LOG");
  std::string result = Env("HB_FAKE_CHANGE_RESULT");
  return result.empty() ? 1 : std::atoi(result.c_str());
}
__declspec(dllexport) uint32_t UDLL_GetDeviceState(uint32_t) {
  return static_cast<uint32_t>(std::strtoul(Env("HB_FAKE_STATE").c_str(), nullptr, 16));
}
__declspec(dllexport) int32_t UDLL_SetWriteProtect(uint32_t, uint32_t on) {
  AppendToCallLog("wp " + std::to_string(on));
  return 1;
}
__declspec(dllexport) int32_t UDLL_FlushFileBuffer(uint32_t) {
  AppendToCallLog("flush");
  return 1;
}

}  // extern "C"
