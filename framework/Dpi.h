// Pixel sizes at the screen's resolution: the DPI of the system or of a
// window, sizes given at 96 DPI scaled to it, and image strips resampled to
// it with a smoothing filter.
#pragma once

#include <windows.h>
#include <commctrl.h>

// The system's DPI (96 when it cannot be read).
UINT HbGetSystemDpi();
// The DPI of the monitor a window is on where the system tells (Windows 10
// and later, per-monitor aware), else the system's.
UINT HbGetWindowDpi(HWND hwnd);
// A size given at 96 DPI, at dpi.
inline int HbScale(int px96, UINT dpi) { return ::MulDiv(px96, static_cast<int>(dpi), 96); }

// An image list of the strip bitmapId, whose images are image96 large at
// 96 DPI, with the colour of the strip's first pixel as transparent colour,
// resampled to dpi: 32-bit images whose alpha carries the transparency, so
// that the smoothed edges blend with what lies under them.  Null when the
// bitmap cannot be read.
HIMAGELIST HbLoadScaledStrip(UINT bitmapId, SIZE image96, UINT dpi);
