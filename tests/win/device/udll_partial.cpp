// A device library that offers only four of the twelve operations, for the
// binding's tests.  It reports two drives, F (index 0) and E (index 1), but
// has no drive count, so callers see as many drives as their default says.
#include <stdint.h>

namespace {
uint8_t g_current = 0;
}

extern "C" __declspec(dllexport) uint32_t UDLL_CreateCUSBDevice(void) { return 7; }

extern "C" __declspec(dllexport) int32_t UDLL_DeviceExist(uint32_t handle) {
  return handle == 7 ? 1 : 0;
}

extern "C" __declspec(dllexport) int32_t UDLL_SetCurrentDriveNumber(uint32_t handle,
                                                                     uint8_t index) {
  if (handle != 7 || index > 1) return 0;
  g_current = index;
  return 1;
}

extern "C" __declspec(dllexport) int32_t UDLL_GetDriveLetter(uint32_t handle, uint8_t kind,
                                                              uint32_t* letter) {
  if (handle != 7 || kind != 1 || !letter) return 0;
  *letter = g_current == 0 ? 'F' : 'E';
  return 1;
}
