// The binding to the device library: lazy loading, per-operation lookup,
// fallbacks for a missing library or export, release, and the two shared
// procedures.
#include <windows.h>

#include <cstring>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "DeviceTestUtil.h"
#include "device/DeviceLibrary.h"
#include "udll/udll.h"

// The binding's view of the exports must be the library's own.
static_assert(std::is_same<decltype(&::UDLL_CreateCUSBDevice), PFN_UDLL_CreateCUSBDevice>::value, "");
static_assert(std::is_same<decltype(&::UDLL_DestroyCUSBDevice), PFN_UDLL_DestroyCUSBDevice>::value, "");
static_assert(std::is_same<decltype(&::UDLL_DeviceExist), PFN_UDLL_DeviceExist>::value, "");
static_assert(std::is_same<decltype(&::UDLL_GetNumberOfDrive), PFN_UDLL_GetNumberOfDrive>::value, "");
static_assert(std::is_same<decltype(&::UDLL_SetCurrentDriveNumber), PFN_UDLL_SetCurrentDriveNumber>::value, "");
static_assert(std::is_same<decltype(&::UDLL_GetDriveLetter), PFN_UDLL_GetDriveLetter>::value, "");
static_assert(std::is_same<decltype(&::UDLL_GetPasswordHint), PFN_UDLL_GetPasswordHint>::value, "");
static_assert(std::is_same<decltype(&::UDLL_GetTestString), PFN_UDLL_GetTestString>::value, "");
static_assert(std::is_same<decltype(&::UDLL_ChangePassword), PFN_UDLL_ChangePassword>::value, "");
static_assert(std::is_same<decltype(&::UDLL_GetDeviceState), PFN_UDLL_GetDeviceState>::value, "");
static_assert(std::is_same<decltype(&::UDLL_SetWriteProtect), PFN_UDLL_SetWriteProtect>::value, "");
static_assert(std::is_same<decltype(&::UDLL_FlushFileBuffer), PFN_UDLL_FlushFileBuffer>::value, "");

namespace {

std::string ExeFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s = path;
  return s.substr(0, s.find_last_of('\\') + 1);
}

// Calls every wrapper and checks that each answers 0 and leaves the
// caller's buffers as they were.
void ExpectEveryOperationAnswersZero(CDeviceLibrary& lib, UDLL_HANDLE h) {
  EXPECT_EQ(0u, lib.UDLL_CreateCUSBDevice());
  lib.UDLL_DestroyCUSBDevice(h);
  ExpectPerHandleOperationsAnswerZero(lib, h);
  char cur[UDLL_CURRENT_PASSWORD_SIZE] = {}, pw[UDLL_NEW_PASSWORD_SIZE] = "x",
       nh[UDLL_NEW_HINT_SIZE] = {};
  EXPECT_EQ(0, lib.UDLL_ChangePassword(h, cur, pw, nh));
  EXPECT_EQ(0, lib.GetNumberOfDrive(h, 1));
}

}  // namespace

TEST(DeviceLibraryBinding, NothingIsLoadedBeforeTheFirstCall) {
  CDeviceLibrary lib;
  EXPECT_STREQ("UDLL", lib.GetLibraryName());
  EXPECT_TRUE(lib.OwnsModule());
  EXPECT_EQ(nullptr, lib.GetModule());
  EXPECT_EQ(0u, lib.GetLoadError());
  for (int op = 0; op < CDeviceLibrary::opCount; ++op)
    EXPECT_EQ(CDeviceLibrary::lookupPending, lib.GetLookupState(CDeviceLibrary::Operation(op)));
}

TEST(DeviceLibraryBinding, MissingLibraryMakesEveryOperationZeroAndKeepsTheError) {
  CDeviceLibrary lib("hb_no_such_library");
  ExpectEveryOperationAnswersZero(lib, 1);
  EXPECT_EQ(nullptr, lib.GetModule());
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), lib.GetLoadError());
  // Without a module nothing was looked up.
  for (int op = 0; op < CDeviceLibrary::opCount; ++op)
    EXPECT_EQ(CDeviceLibrary::lookupPending, lib.GetLookupState(CDeviceLibrary::Operation(op)));
}

TEST(DeviceLibraryBinding, FailedLoadIsNeverRetried) {
  const std::string late = ExeFolder() + "hb_late_udll.dll";
  DeleteFileA(late.c_str());
  {
    CDeviceLibrary lib("hb_late_udll");
    EXPECT_EQ(0u, lib.UDLL_CreateCUSBDevice());
    const DWORD error = lib.GetLoadError();
    ASSERT_NE(0u, error);

    // The library turns up afterwards: this instance still does not load it.
    ASSERT_TRUE(CopyFileA((ExeFolder() + "udll_partial.dll").c_str(), late.c_str(), FALSE));
    EXPECT_EQ(0u, lib.UDLL_CreateCUSBDevice());
    EXPECT_EQ(0, lib.UDLL_DeviceExist(7));
    EXPECT_EQ(nullptr, lib.GetModule());
    EXPECT_EQ(error, lib.GetLoadError());

    // A new instance does.
    CDeviceLibrary fresh("hb_late_udll");
    EXPECT_EQ(7u, fresh.UDLL_CreateCUSBDevice());
  }
  EXPECT_TRUE(DeleteFileA(late.c_str()));
}

TEST(DeviceLibraryBinding, LookupStatesFollowFirstUse) {
  CDeviceLibrary lib("udll_partial");
  EXPECT_EQ(7u, lib.UDLL_CreateCUSBDevice());
  EXPECT_NE(nullptr, lib.GetModule());
  EXPECT_EQ(CDeviceLibrary::lookupFound, lib.GetLookupState(CDeviceLibrary::opCreateCUSBDevice));
  // Only the operation that was used has been looked up.
  EXPECT_EQ(CDeviceLibrary::lookupPending, lib.GetLookupState(CDeviceLibrary::opDeviceExist));
  EXPECT_EQ(CDeviceLibrary::lookupPending, lib.GetLookupState(CDeviceLibrary::opGetTestString));

  unsigned char test[UDLL_TEST_STRING_SIZE];
  std::memset(test, 0xAB, sizeof test);
  EXPECT_EQ(0, lib.UDLL_GetTestString(7, test));
  EXPECT_EQ(CDeviceLibrary::lookupMissing, lib.GetLookupState(CDeviceLibrary::opGetTestString));
  EXPECT_EQ(0xAB, test[0]);  // untouched

  EXPECT_TRUE(lib.IsAvailable(CDeviceLibrary::opGetDriveLetter));
  EXPECT_EQ(CDeviceLibrary::lookupFound, lib.GetLookupState(CDeviceLibrary::opGetDriveLetter));
  EXPECT_FALSE(lib.IsAvailable(CDeviceLibrary::opFlushFileBuffer));
  EXPECT_EQ(CDeviceLibrary::lookupMissing, lib.GetLookupState(CDeviceLibrary::opFlushFileBuffer));
  EXPECT_EQ(0u, lib.GetLoadError());
}

TEST(DeviceLibraryBinding, MissingExportsAnswerZeroWhileOthersWork) {
  CDeviceLibrary lib("udll_partial");
  const UDLL_HANDLE h = lib.UDLL_CreateCUSBDevice();
  ASSERT_EQ(7u, h);
  EXPECT_EQ(1, lib.UDLL_DeviceExist(h));
  EXPECT_EQ(1, lib.UDLL_SetCurrentDriveNumber(h, 1));
  uint32_t letter = 0;
  EXPECT_EQ(1, lib.UDLL_GetDriveLetter(h, 1, &letter));
  EXPECT_EQ(uint32_t('E'), letter);

  char hint[UDLL_HINT_BUFFER_SIZE] = {};
  EXPECT_EQ(0, lib.UDLL_GetPasswordHint(h, hint));
  EXPECT_EQ(0, hint[0]);
  EXPECT_EQ(0u, lib.UDLL_GetDeviceState(h));
  EXPECT_EQ(0, lib.UDLL_SetWriteProtect(h, 0));
  EXPECT_EQ(0, lib.UDLL_FlushFileBuffer(h));
  lib.UDLL_DestroyCUSBDevice(h);  // missing: does nothing
  EXPECT_EQ(CDeviceLibrary::lookupMissing, lib.GetLookupState(CDeviceLibrary::opDestroyCUSBDevice));
}

TEST(DeviceLibraryBinding, DriveCountDefaultAppliesOnlyToAMissingExport) {
  CDeviceLibrary partial("udll_partial");
  const UDLL_HANDLE h = partial.UDLL_CreateCUSBDevice();
  EXPECT_EQ(0, partial.UDLL_GetNumberOfDrive(h));  // raw wrapper: unavailable = 0
  EXPECT_EQ(1, partial.GetNumberOfDrive(h, 1));
  EXPECT_EQ(0, partial.GetNumberOfDrive(h, 0));

  // No library at all: no drives, whatever the caller's default.
  CDeviceLibrary absent("hb_no_such_library");
  EXPECT_EQ(0, absent.GetNumberOfDrive(1, 1));
}

TEST(DeviceLibraryBinding, SelectDiskDriveWithoutDriveCountUsesTheCallersDefault) {
  CDeviceLibrary lib("udll_partial");
  const UDLL_HANDLE h = lib.UDLL_CreateCUSBDevice();
  // Drive 0 is F, drive 1 is E; without a count only drive 0 is tried.
  EXPECT_EQ(1, lib.SelectDiskDrive(h, "F:", 1));
  EXPECT_EQ(0, lib.SelectDiskDrive(h, "E:", 1));
  // The start-up check's default of 0 finds nothing.
  EXPECT_EQ(0, lib.SelectDiskDrive(h, "F:", 0));
  // Exact comparison of the first character only.
  EXPECT_EQ(1, lib.SelectDiskDrive(h, "F:\\diviz", 1));
  EXPECT_EQ(0, lib.SelectDiskDrive(h, "f:", 1));
  EXPECT_EQ(0, lib.SelectDiskDrive(h, "", 1));
  EXPECT_EQ(0, lib.SelectDiskDrive(h, nullptr, 1));
}

TEST(DeviceLibraryBinding, ReleaseUnloadsAndLeavesTheInstanceInert) {
  ASSERT_EQ(nullptr, GetModuleHandleA("udll_partial.dll"));
  CDeviceLibrary lib("udll_partial");
  ASSERT_EQ(7u, lib.UDLL_CreateCUSBDevice());
  EXPECT_NE(nullptr, GetModuleHandleA("udll_partial.dll"));

  lib.Release();
  EXPECT_EQ(nullptr, GetModuleHandleA("udll_partial.dll"));
  EXPECT_EQ(nullptr, lib.GetModule());
  EXPECT_FALSE(lib.OwnsModule());
  EXPECT_EQ(nullptr, lib.GetLibraryName());
  // Operations found before the release are not called into the unloaded
  // module, and nothing is loaded again.
  EXPECT_EQ(0u, lib.UDLL_CreateCUSBDevice());
  EXPECT_EQ(0, lib.UDLL_DeviceExist(7));
  EXPECT_EQ(nullptr, GetModuleHandleA("udll_partial.dll"));
  lib.Release();  // twice is harmless
}

TEST(DeviceLibraryBinding, DestructorReleasesTheLibrary) {
  {
    CDeviceLibrary lib("udll_partial");
    ASSERT_EQ(7u, lib.UDLL_CreateCUSBDevice());
    EXPECT_NE(nullptr, GetModuleHandleA("udll_partial.dll"));
  }
  EXPECT_EQ(nullptr, GetModuleHandleA("udll_partial.dll"));
}

TEST(DeviceLibraryBinding, InstancesShareTheModuleButNotTheirState) {
  CDeviceLibrary a("udll_partial");
  {
    CDeviceLibrary b("udll_partial");
    EXPECT_EQ(7u, b.UDLL_CreateCUSBDevice());
    EXPECT_EQ(CDeviceLibrary::lookupPending, a.GetLookupState(CDeviceLibrary::opCreateCUSBDevice));
    EXPECT_EQ(7u, a.UDLL_CreateCUSBDevice());
  }
  // b's release must not pull the module from under a.
  EXPECT_EQ(1, a.UDLL_DeviceExist(7));
}

// --- UnpackTestString ------------------------------------------------------

namespace {

// A test string as the library lays it out, with filler 0x77 elsewhere.
void Pack(const char* password, unsigned char* out) {
  std::memset(out, 0x77, UDLL_TEST_STRING_SIZE);
  const size_t n = std::strlen(password);
  for (size_t i = 0; i < n; ++i) out[19 * i] = static_cast<unsigned char>(password[i]);
  if (n < 15) out[19 * n] = 0;
  else out[15] = 0;
}

}  // namespace

TEST(UnpackTestString, FifteenCharactersComeFromOffsetsUpTo266) {
  unsigned char buf[UDLL_TEST_STRING_SIZE];
  Pack("ABCDEFGHIJKLMNO", buf);
  EXPECT_EQ('O', buf[266]);
  UnpackTestString(buf);
  EXPECT_STREQ("ABCDEFGHIJKLMNO", reinterpret_cast<char*>(buf));
  // Everything from offset 15 on is left alone, the terminator included.
  EXPECT_EQ(0, buf[15]);
  EXPECT_EQ(0x77, buf[16]);
  EXPECT_EQ('B', buf[19]);
  EXPECT_EQ('O', buf[266]);
}

TEST(UnpackTestString, ShorterPasswordEndsAtTheZeroAfterIt) {
  unsigned char buf[UDLL_TEST_STRING_SIZE];
  Pack("pw1", buf);
  UnpackTestString(buf);
  EXPECT_STREQ("pw1", reinterpret_cast<char*>(buf));
  EXPECT_EQ(0x77, buf[4]);  // later positions come from the filler
}

TEST(UnpackTestString, EveryLengthRoundTrips) {
  const char full[] = "0123456789abcde";
  for (size_t n = 1; n <= 15; ++n) {
    const std::string pw(full, n);
    unsigned char buf[UDLL_TEST_STRING_SIZE];
    Pack(pw.c_str(), buf);
    UnpackTestString(buf);
    EXPECT_EQ(pw, std::string(reinterpret_cast<char*>(buf))) << "length " << n;
  }
}

TEST(UnpackTestString, NullBufferIsIgnored) {
  UnpackTestString(static_cast<unsigned char*>(nullptr));
  UnpackTestString(static_cast<char*>(nullptr));
}
