// Shared checks of the device library tests.
#pragma once

#include <windows.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "device/DeviceLibrary.h"

// Every operation on one device handle answers 0 and leaves the caller's
// output untouched: what a missing library and an unknown handle both give.
inline void ExpectPerHandleOperationsAnswerZero(CDeviceLibrary& lib, UDLL_HANDLE h) {
  EXPECT_EQ(0, lib.UDLL_DeviceExist(h));
  EXPECT_EQ(0, lib.UDLL_GetNumberOfDrive(h));
  EXPECT_EQ(0, lib.UDLL_SetCurrentDriveNumber(h, 0));
  uint32_t letter = 0x5A5A;
  EXPECT_EQ(0, lib.UDLL_GetDriveLetter(h, 1, &letter));
  EXPECT_EQ(0x5A5Au, letter);
  char hint[UDLL_HINT_BUFFER_SIZE] = {};
  EXPECT_EQ(0, lib.UDLL_GetPasswordHint(h, hint));
  EXPECT_EQ(0, hint[0]);
  unsigned char test[UDLL_TEST_STRING_SIZE] = {};
  EXPECT_EQ(0, lib.UDLL_GetTestString(h, test));
  EXPECT_EQ(0, test[0]);
  EXPECT_EQ(0u, lib.UDLL_GetDeviceState(h));
  EXPECT_EQ(0, lib.UDLL_SetWriteProtect(h, 1));
  EXPECT_EQ(0, lib.UDLL_FlushFileBuffer(h));
  EXPECT_EQ(0, lib.SelectDiskDrive(h, "E:"));
}
