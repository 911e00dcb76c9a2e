// udll.dll, our device library stand-in, driven through the binding on the
// removable drives E: and F: of the test prefix (scripts/wine-prefix).
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceTestUtil.h"
#include "device/DeviceLibrary.h"
#include "udll/SecureArea.h"

namespace {

const char* const kVault = "\\diviz\\vfnest.vfo";

std::string ExeFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s = path;
  return s.substr(0, s.find_last_of('\\') + 1);
}

std::string VaultPath(char drive) { return std::string(1, drive) + ":" + kVault; }

bool WriteFileText(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  CloseHandle(h);
  return ok && put == text.size();
}

bool CanOpenForWriting(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

// Runs udll-admin.exe from beside the test program; returns its exit code.
DWORD RunAdmin(const std::string& args) {
  std::string cmd = "\"" + ExeFolder() + "udll-admin.exe\" " + args;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 0xFFFFFFFF;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

class StandIn : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(udll::IsRemovableDrive('E') && udll::IsRemovableDrive('F'))
        << "E: and F: must be removable drives: run scripts/wine-prefix on the test prefix";
    Reset('E');
    Reset('F');
    h = lib.UDLL_CreateCUSBDevice();
    ASSERT_NE(0u, h);
  }

  void TearDown() override {
    Reset('E');
    Reset('F');
    if (h) lib.UDLL_DestroyCUSBDevice(h);
  }

  // Protection off, no secure area, no vault folder.
  void Reset(char drive) {
    if (Select(drive)) lib.UDLL_SetWriteProtect(h, 0);
    udll::ApplyVaultProtection(drive, false);
    udll::RemoveSecureArea(drive);
    const std::string folder = udll::VaultFolderPath(drive);
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          DeleteFileA((folder + "\\" + fd.cFileName).c_str());
      } while (FindNextFileA(find, &fd));
      FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
  }

  bool Select(char drive) { return h && lib.SelectDiskDrive(h, std::string(1, drive).c_str()); }

  void SetArea(char drive, const char* password, const char* hint, uint32_t state) {
    udll::SecureArea area;
    area.hasPassword = password != nullptr;
    if (password) area.password = password;
    area.hasHint = hint != nullptr;
    if (hint) area.hint = hint;
    area.state = state;
    ASSERT_TRUE(udll::SaveSecureArea(drive, area));
  }

  std::string StoredPassword() {
    unsigned char test[UDLL_TEST_STRING_SIZE] = {};
    EXPECT_EQ(1, lib.UDLL_GetTestString(h, test));
    UnpackTestString(test);
    return reinterpret_cast<char*>(test);
  }

  std::string Hint() {
    char hint[UDLL_HINT_BUFFER_SIZE] = {};
    EXPECT_EQ(1, lib.UDLL_GetPasswordHint(h, hint));
    return hint;
  }

  int Change(const std::string& current, const std::string& password, const std::string& hint) {
    char cur[UDLL_CURRENT_PASSWORD_SIZE] = {}, pw[UDLL_NEW_PASSWORD_SIZE] = {},
         nh[UDLL_NEW_HINT_SIZE] = {};
    std::memcpy(cur, current.data(), current.size());
    std::memcpy(pw, password.data(), password.size());
    std::memcpy(nh, hint.data(), hint.size());
    return lib.UDLL_ChangePassword(h, cur, pw, nh);
  }

  void MakeVault(char drive) {
    CreateDirectoryA(udll::VaultFolderPath(drive).c_str(), nullptr);
    ASSERT_TRUE(WriteFileText(VaultPath(drive), "vault"));
  }

  CDeviceLibrary lib;
  UDLL_HANDLE h = 0;
};

// --- Drive listing -----------------------------------------------------------

TEST_F(StandIn, ListsTheRemovableDrivesInUpperCase) {
  EXPECT_EQ(1, lib.UDLL_DeviceExist(h));
  const int count = lib.GetNumberOfDrive(h, 1);
  ASSERT_GE(count, 2);
  std::string letters;
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(1, lib.UDLL_SetCurrentDriveNumber(h, static_cast<uint8_t>(i)));
    uint32_t letter = 0;
    EXPECT_EQ(1, lib.UDLL_GetDriveLetter(h, 1, &letter));
    ASSERT_TRUE(letter >= 'A' && letter <= 'Z') << letter;
    letters += static_cast<char>(letter);
  }
  EXPECT_NE(std::string::npos, letters.find('E'));
  EXPECT_NE(std::string::npos, letters.find('F'));
  EXPECT_EQ(std::string::npos, letters.find('C'));  // fixed disk
  EXPECT_EQ(std::string::npos, letters.find('Z'));
}

TEST_F(StandIn, SelectDiskDriveFindsEAndFOnly) {
  uint32_t letter = 0;
  ASSERT_EQ(1, lib.SelectDiskDrive(h, "E:"));
  lib.UDLL_GetDriveLetter(h, 1, &letter);
  EXPECT_EQ(uint32_t('E'), letter);
  ASSERT_EQ(1, lib.SelectDiskDrive(h, "F:"));
  lib.UDLL_GetDriveLetter(h, 1, &letter);
  EXPECT_EQ(uint32_t('F'), letter);
  EXPECT_EQ(0, lib.SelectDiskDrive(h, "C:"));
  EXPECT_EQ(0, lib.SelectDiskDrive(h, "e:"));
  EXPECT_EQ(0, lib.SelectDiskDrive(h, "Q:"));
}

TEST_F(StandIn, EachHandleKeepsItsOwnCurrentDrive) {
  const UDLL_HANDLE other = lib.UDLL_CreateCUSBDevice();
  ASSERT_NE(0u, other);
  ASSERT_NE(h, other);
  ASSERT_EQ(1, lib.SelectDiskDrive(h, "E:"));
  ASSERT_EQ(1, lib.SelectDiskDrive(other, "F:"));
  uint32_t a = 0, b = 0;
  lib.UDLL_GetDriveLetter(h, 1, &a);
  lib.UDLL_GetDriveLetter(other, 1, &b);
  EXPECT_EQ(uint32_t('E'), a);
  EXPECT_EQ(uint32_t('F'), b);
  lib.UDLL_DestroyCUSBDevice(other);
  EXPECT_EQ(0, lib.UDLL_DeviceExist(other));
  EXPECT_EQ(1, lib.UDLL_DeviceExist(h));
}

// --- Password, hint and test string -----------------------------------------

TEST_F(StandIn, DriveWithoutPasswordOrHintReportsTheMarker) {
  ASSERT_TRUE(Select('E'));
  unsigned char test[UDLL_TEST_STRING_SIZE] = {};
  ASSERT_EQ(1, lib.UDLL_GetTestString(h, test));
  EXPECT_EQ(0xFF, test[0]);
  char hint[UDLL_HINT_BUFFER_SIZE] = {};
  ASSERT_EQ(1, lib.UDLL_GetPasswordHint(h, hint));
  EXPECT_EQ(0xFF, static_cast<unsigned char>(hint[0]));
  EXPECT_EQ(0u, lib.UDLL_GetDeviceState(h));
}

TEST_F(StandIn, TestStringLayoutForEveryPasswordLength) {
  ASSERT_TRUE(Select('F'));
  const char full[] = "Zy9!xW8@vU7#tS6";
  for (size_t n = 1; n <= 15; ++n) {
    const std::string pw(full, n);
    SetArea('F', pw.c_str(), nullptr, 0);
    unsigned char test[UDLL_TEST_STRING_SIZE] = {};
    ASSERT_EQ(1, lib.UDLL_GetTestString(h, test));
    const size_t end = n < 15 ? 19 * n : 15;
    for (size_t i = 0; i < UDLL_TEST_STRING_SIZE; ++i) {
      if (i % 19 == 0 && i / 19 < n)
        ASSERT_EQ(static_cast<unsigned char>(pw[i / 19]), test[i]) << "length " << n << " offset " << i;
      else if (i == end)
        ASSERT_EQ(0, test[i]) << "length " << n;
      else
        ASSERT_NE(0, test[i]) << "length " << n << " offset " << i;  // filler never ends early
    }
    UnpackTestString(test);
    EXPECT_EQ(pw, std::string(reinterpret_cast<char*>(test)));
  }
}

TEST_F(StandIn, PasswordAndHintRoundTripThroughChange) {
  ASSERT_TRUE(Select('E'));
  ASSERT_EQ(1, Change("", "secret", "my hint"));
  EXPECT_EQ("secret", StoredPassword());
  EXPECT_EQ("my hint", Hint());

  ASSERT_EQ(1, Change("secret", "ABCDEFGHIJKLMNO", std::string(127, 'h')));
  EXPECT_EQ("ABCDEFGHIJKLMNO", StoredPassword());
  EXPECT_EQ(std::string(127, 'h'), Hint());

  // An empty hint is a hint, not "no hint".
  ASSERT_EQ(1, Change("ABCDEFGHIJKLMNO", "next", ""));
  char hint[UDLL_HINT_BUFFER_SIZE];
  std::memset(hint, 0x55, sizeof hint);
  ASSERT_EQ(1, lib.UDLL_GetPasswordHint(h, hint));
  EXPECT_EQ(0, hint[0]);

  // Only the current drive changed.
  ASSERT_TRUE(Select('F'));
  unsigned char test[UDLL_TEST_STRING_SIZE] = {};
  lib.UDLL_GetTestString(h, test);
  EXPECT_EQ(0xFF, test[0]);
}

TEST_F(StandIn, ChangeIsRefusedWithoutTheExactCurrentPassword) {
  SetArea('E', "Secret", "old hint", 0);
  ASSERT_TRUE(Select('E'));
  EXPECT_EQ(0, Change("secret", "new", "new hint"));  // letter case
  EXPECT_EQ(0, Change("Secret ", "new", "new hint"));
  EXPECT_EQ(0, Change("Secre", "new", "new hint"));
  EXPECT_EQ(0, Change("", "new", "new hint"));
  EXPECT_EQ("Secret", StoredPassword());
  EXPECT_EQ("old hint", Hint());
  EXPECT_EQ(1, Change("Secret", "new", "new hint"));
  EXPECT_EQ("new", StoredPassword());
}

TEST_F(StandIn, DriveWithoutPasswordAcceptsItsOwnUnpackedTestString) {
  // What the password dialog passes when the login was made without one.
  ASSERT_TRUE(Select('E'));
  unsigned char cur[UDLL_CURRENT_PASSWORD_SIZE] = {};
  ASSERT_EQ(1, lib.UDLL_GetTestString(h, cur));
  UnpackTestString(cur);
  char pw[UDLL_NEW_PASSWORD_SIZE] = "fresh", nh[UDLL_NEW_HINT_SIZE] = "hint";
  EXPECT_EQ(1, lib.UDLL_ChangePassword(h, reinterpret_cast<char*>(cur), pw, nh));
  EXPECT_EQ("fresh", StoredPassword());
}

TEST_F(StandIn, ChangedPasswordAndHintReadBackWholeAsTheLoginReadsThem) {
  struct Case {
    std::string password, hint;
  } cases[] = {
      {"ABCDEFGHIJKLMNO", std::string(127, 'h')},  // the longest of each
      {"x", ""},                                    // an empty hint is a hint
      {"Mixed Case 7", "a hint with blanks"},
  };
  SetArea('E', "start", "old hint", 0);
  ASSERT_TRUE(Select('E'));
  std::string current = "start";
  for (const Case& c : cases) {
    ASSERT_EQ(1, Change(current, c.password, c.hint)) << c.password;
    EXPECT_EQ(c.password, StoredPassword());
    EXPECT_EQ(c.hint, Hint());
    EXPECT_EQ(0, Change(current, "again", "")) << "the old password is gone";
    current = c.password;
  }
}

TEST_F(StandIn, ChangeRefusesBuffersWithoutTerminator) {
  SetArea('E', "pw", "hint", 0);
  ASSERT_TRUE(Select('E'));
  char cur[UDLL_CURRENT_PASSWORD_SIZE] = "pw";
  char pw[UDLL_NEW_PASSWORD_SIZE], nh[UDLL_NEW_HINT_SIZE] = "h";
  std::memset(pw, 'x', sizeof pw);  // 16 characters, no room for the zero
  EXPECT_EQ(0, lib.UDLL_ChangePassword(h, cur, pw, nh));
  std::memcpy(pw, "ok", 3);
  std::memset(nh, 'y', sizeof nh);
  EXPECT_EQ(0, lib.UDLL_ChangePassword(h, cur, pw, nh));
  EXPECT_EQ("pw", StoredPassword());
  EXPECT_EQ(0, lib.UDLL_ChangePassword(h, cur, nullptr, nh));
  EXPECT_EQ(0, lib.UDLL_ChangePassword(h, nullptr, pw, nh));
}

TEST_F(StandIn, DamagedSecureAreaIsReportedAndNotOverwritten) {
  ASSERT_TRUE(WriteFileText(udll::SecureFilePath('E'), "not a secure area\r\n"));
  ASSERT_TRUE(Select('E'));
  EXPECT_NE(0u, lib.UDLL_GetDeviceState(h) & UDLL_STATE_UNSUPPORTED);
  EXPECT_EQ(0, Change("", "pw", ""));
  EXPECT_EQ(0, lib.UDLL_SetWriteProtect(h, 1));
  udll::SecureArea area;
  EXPECT_EQ(udll::LoadResult::Damaged, udll::LoadSecureArea('E', area));
}

// --- State bits and write protection -----------------------------------------

TEST_F(StandIn, StateBitsAreReportedAndProtectionKeepsTheOthers) {
  SetArea('F', "pw", nullptr, UDLL_STATE_UNSUPPORTED);
  ASSERT_TRUE(Select('F'));
  EXPECT_EQ(uint32_t(UDLL_STATE_UNSUPPORTED), lib.UDLL_GetDeviceState(h));
  ASSERT_EQ(1, lib.UDLL_SetWriteProtect(h, 1));
  EXPECT_EQ(uint32_t(UDLL_STATE_UNSUPPORTED | UDLL_STATE_WRITE_PROTECTED), lib.UDLL_GetDeviceState(h));
  ASSERT_EQ(1, lib.UDLL_SetWriteProtect(h, 0));
  EXPECT_EQ(uint32_t(UDLL_STATE_UNSUPPORTED), lib.UDLL_GetDeviceState(h));
  EXPECT_EQ(0, lib.UDLL_SetWriteProtect(h, 2));  // neither on nor off
  // The password survives protection switching.
  EXPECT_EQ("pw", StoredPassword());
  // Other drive untouched.
  ASSERT_TRUE(Select('E'));
  EXPECT_EQ(0u, lib.UDLL_GetDeviceState(h));
}

TEST_F(StandIn, WriteProtectionMakesTheVaultUnwritableUntilLifted) {
  MakeVault('E');
  MakeVault('F');
  const std::string vault = VaultPath('E');
  ASSERT_TRUE(Select('E'));
  ASSERT_EQ(1, lib.UDLL_SetWriteProtect(h, 1));
  EXPECT_NE(0u, lib.UDLL_GetDeviceState(h) & UDLL_STATE_WRITE_PROTECTED);

  EXPECT_NE(0u, GetFileAttributesA(vault.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(CanOpenForWriting(vault));
  EXPECT_FALSE(WriteFileText(vault, "overwritten"));
  EXPECT_FALSE(DeleteFileA(vault.c_str()));
  // Reading still works.
  HANDLE r = CreateFileA(vault.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, r);
  if (r != INVALID_HANDLE_VALUE) CloseHandle(r);
  // F's vault is not protected.
  EXPECT_TRUE(CanOpenForWriting(VaultPath('F')));

  ASSERT_EQ(1, lib.UDLL_SetWriteProtect(h, 0));
  EXPECT_EQ(0u, lib.UDLL_GetDeviceState(h) & UDLL_STATE_WRITE_PROTECTED);
  EXPECT_EQ(0u, GetFileAttributesA(vault.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(CanOpenForWriting(vault));
  EXPECT_TRUE(WriteFileText(vault, "rewritten"));
}

TEST_F(StandIn, ProtectionRecordedBeforeLoadingIsEnforced) {
  // Set up by the admin tool as on a disk that arrives protected.
  MakeVault('F');
  ASSERT_EQ(0u, RunAdmin("set F: --password pw --hint \"a hint\" --state 0x10"));
  CDeviceLibrary fresh;
  const UDLL_HANDLE other = fresh.UDLL_CreateCUSBDevice();
  ASSERT_TRUE(fresh.SelectDiskDrive(other, "F:"));
  EXPECT_EQ(uint32_t(UDLL_STATE_WRITE_PROTECTED), fresh.UDLL_GetDeviceState(other));
  EXPECT_FALSE(CanOpenForWriting(VaultPath('F')));
  ASSERT_EQ(1, fresh.UDLL_SetWriteProtect(other, 0));
  EXPECT_TRUE(CanOpenForWriting(VaultPath('F')));
  fresh.UDLL_DestroyCUSBDevice(other);
}

TEST_F(StandIn, FlushReportsWhetherTheDriveIsThere) {
  ASSERT_TRUE(Select('E'));
  EXPECT_EQ(1, lib.UDLL_FlushFileBuffer(h));
  EXPECT_EQ(0, lib.UDLL_FlushFileBuffer(0));
}

// --- Robustness ---------------------------------------------------------------

TEST_F(StandIn, UnknownHandlesAreRejectedAndBuffersLeftAlone) {
  const UDLL_HANDLE gone = lib.UDLL_CreateCUSBDevice();
  lib.UDLL_DestroyCUSBDevice(gone);
  lib.UDLL_DestroyCUSBDevice(gone);  // twice
  for (UDLL_HANDLE bad : {UDLL_HANDLE(0), gone, UDLL_HANDLE(0xDEADBEEF)}) {
    SCOPED_TRACE(bad);
    ExpectPerHandleOperationsAnswerZero(lib, bad);
  }
  // The handle in use is unaffected, and nothing got protected.
  ASSERT_TRUE(Select('E'));
  EXPECT_EQ(0u, lib.UDLL_GetDeviceState(h));
}

TEST_F(StandIn, DriveIndexOutOfRangeLeavesNoCurrentDrive) {
  SetArea('E', "pw", "hint", 0);
  ASSERT_TRUE(Select('E'));
  const int count = lib.GetNumberOfDrive(h, 1);
  EXPECT_EQ(0, lib.UDLL_SetCurrentDriveNumber(h, static_cast<uint8_t>(count)));
  EXPECT_EQ(0, lib.UDLL_SetCurrentDriveNumber(h, 255));
  uint32_t letter = 0;
  EXPECT_EQ(0, lib.UDLL_GetDriveLetter(h, 1, &letter));
  unsigned char test[UDLL_TEST_STRING_SIZE] = {};
  EXPECT_EQ(0, lib.UDLL_GetTestString(h, test));
  EXPECT_EQ(0, Change("pw", "other", ""));
  ASSERT_TRUE(Select('E'));
  EXPECT_EQ("pw", StoredPassword());
}

TEST_F(StandIn, NullBuffersAndUnknownLetterKindAreRejected) {
  ASSERT_TRUE(Select('E'));
  EXPECT_EQ(0, lib.UDLL_GetDriveLetter(h, 1, nullptr));
  uint32_t letter = 0;
  EXPECT_EQ(0, lib.UDLL_GetDriveLetter(h, 2, &letter));
  EXPECT_EQ(0u, letter);
  EXPECT_EQ(0, lib.UDLL_GetPasswordHint(h, nullptr));
  EXPECT_EQ(0, lib.UDLL_GetTestString(h, nullptr));
}

// --- udll-admin ------------------------------------------------------------------

TEST_F(StandIn, AdminToolSetsUpAndClearsASecureArea) {
  ASSERT_EQ(0u, RunAdmin("set F: --password \"two words\" --hint \"my hint\""));
  ASSERT_TRUE(Select('F'));
  EXPECT_EQ("two words", StoredPassword());
  EXPECT_EQ("my hint", Hint());

  // Only the given fields change.
  ASSERT_EQ(0u, RunAdmin("set f --state 0x2"));
  EXPECT_EQ("two words", StoredPassword());
  EXPECT_EQ(uint32_t(UDLL_STATE_UNSUPPORTED), lib.UDLL_GetDeviceState(h));

  EXPECT_EQ(2u, RunAdmin("set F: --password 1234567890123456"));
  EXPECT_EQ(2u, RunAdmin("set F: --state nonsense"));
  EXPECT_EQ(2u, RunAdmin("set 7: --password x"));
  EXPECT_EQ("two words", StoredPassword());

  ASSERT_EQ(0u, RunAdmin("clear F:"));
  unsigned char test[UDLL_TEST_STRING_SIZE] = {};
  lib.UDLL_GetTestString(h, test);
  EXPECT_EQ(0xFF, test[0]);
  EXPECT_EQ(0u, lib.UDLL_GetDeviceState(h));
}

}  // namespace
