// The screen's resolution and image strips resampled to it.
#include "framework/Dpi.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using DpiForWindowFn = UINT(WINAPI*)(HWND);

DpiForWindowFn DpiForWindow() {
  // Windows 10 1607 and later; Windows 7 has only the system DPI.
  static DpiForWindowFn fn = reinterpret_cast<DpiForWindowFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return fn;
}

struct Pixel {
  float b, g, r, a;  // premultiplied
};

// One dimension of a resampling: for each target index the source indices
// and their weights.  Shrinking averages the source pixels a target pixel
// covers; enlarging interpolates between the two nearest (a tent filter as
// wide as the larger of a source and a target pixel).
struct Taps {
  std::vector<int> first;
  std::vector<std::vector<float>> weights;
};

Taps MakeTaps(int from, int to) {
  Taps t;
  t.first.resize(static_cast<size_t>(to));
  t.weights.resize(static_cast<size_t>(to));
  const double scale = static_cast<double>(to) / from;
  const double support = scale < 1.0 ? 1.0 / scale : 1.0;  // in source pixels
  for (int i = 0; i < to; ++i) {
    double centre = (i + 0.5) / scale - 0.5;
    int lo = std::max(0, static_cast<int>(std::floor(centre - support)));
    int hi = std::min(from - 1, static_cast<int>(std::ceil(centre + support)));
    std::vector<float> w;
    double sum = 0;
    for (int s = lo; s <= hi; ++s) {
      double d = std::fabs(s - centre) / support;
      double v = d < 1.0 ? 1.0 - d : 0.0;
      w.push_back(static_cast<float>(v));
      sum += v;
    }
    if (sum <= 0) {  // cannot happen with the support above; be safe
      w.assign(w.size(), 0.0f);
      w[0] = 1.0f;
      sum = 1.0;
    }
    for (float& v : w) v = static_cast<float>(v / sum);
    t.first[static_cast<size_t>(i)] = lo;
    t.weights[static_cast<size_t>(i)] = std::move(w);
  }
  return t;
}

// Resamples one image (w x h, premultiplied) to tw x th.
std::vector<Pixel> Resample(const std::vector<Pixel>& src, int w, int h, int tw, int th) {
  Taps tx = MakeTaps(w, tw), ty = MakeTaps(h, th);
  std::vector<Pixel> rows(static_cast<size_t>(tw) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < tw; ++x) {
      Pixel p{0, 0, 0, 0};
      const auto& ws = tx.weights[static_cast<size_t>(x)];
      for (size_t k = 0; k < ws.size(); ++k) {
        const Pixel& s = src[static_cast<size_t>(y) * w + tx.first[static_cast<size_t>(x)] + k];
        p.b += s.b * ws[k]; p.g += s.g * ws[k]; p.r += s.r * ws[k]; p.a += s.a * ws[k];
      }
      rows[static_cast<size_t>(y) * tw + x] = p;
    }
  std::vector<Pixel> out(static_cast<size_t>(tw) * th);
  for (int y = 0; y < th; ++y) {
    const auto& ws = ty.weights[static_cast<size_t>(y)];
    for (int x = 0; x < tw; ++x) {
      Pixel p{0, 0, 0, 0};
      for (size_t k = 0; k < ws.size(); ++k) {
        const Pixel& s = rows[(ty.first[static_cast<size_t>(y)] + k) * tw + x];
        p.b += s.b * ws[k]; p.g += s.g * ws[k]; p.r += s.r * ws[k]; p.a += s.a * ws[k];
      }
      out[static_cast<size_t>(y) * tw + x] = p;
    }
  }
  return out;
}

BYTE ToByte(float v) { return static_cast<BYTE>(std::min(255.0f, std::max(0.0f, v + 0.5f))); }

}  // namespace

UINT HbGetSystemDpi() {
  HDC dc = ::GetDC(nullptr);
  int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 0;
  if (dc) ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT HbGetWindowDpi(HWND hwnd) {
  if (hwnd && DpiForWindow()) {
    UINT dpi = DpiForWindow()(hwnd);
    if (dpi > 0) return dpi;
  }
  return HbGetSystemDpi();
}

HIMAGELIST HbLoadScaledStrip(UINT bitmapId, SIZE image96, UINT dpi) {
  HBITMAP bmp = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                  MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0,
                                                  LR_CREATEDIBSECTION));
  if (!bmp) return nullptr;
  BITMAP info{};
  ::GetObjectW(bmp, sizeof(info), &info);
  const int w = info.bmWidth, h = std::abs(info.bmHeight);
  const int count = image96.cx > 0 ? w / image96.cx : 0;
  if (count <= 0 || h <= 0) {
    ::DeleteObject(bmp);
    return nullptr;
  }
  // The strip as top-down 32-bit pixels.
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> bits(static_cast<size_t>(w) * h);
  HDC screen = ::GetDC(nullptr);
  int lines = ::GetDIBits(screen, bmp, 0, static_cast<UINT>(h), bits.data(), &bi, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  ::DeleteObject(bmp);
  if (lines != h) return nullptr;

  const DWORD key = bits[0] & 0xFFFFFF;
  const int tw = HbScale(image96.cx, dpi), th = HbScale(image96.cy, dpi);
  HIMAGELIST list = ::ImageList_Create(tw, th, ILC_COLOR32, count, 0);
  if (!list) return nullptr;
  for (int n = 0; n < count; ++n) {
    std::vector<Pixel> src(static_cast<size_t>(image96.cx) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < image96.cx; ++x) {
        DWORD c = bits[static_cast<size_t>(y) * w + n * image96.cx + x] & 0xFFFFFF;
        Pixel& p = src[static_cast<size_t>(y) * image96.cx + x];
        if (c == key) {
          p = Pixel{0, 0, 0, 0};
        } else {
          p = Pixel{static_cast<float>(c & 0xFF), static_cast<float>((c >> 8) & 0xFF),
                    static_cast<float>((c >> 16) & 0xFF), 255.0f};
        }
      }
    std::vector<Pixel> out = Resample(src, image96.cx, h, tw, th);
    // A premultiplied 32-bit DIB section: the image list keeps its alpha.
    BITMAPINFO oi = bi;
    oi.bmiHeader.biWidth = tw;
    oi.bmiHeader.biHeight = -th;
    void* outBits = nullptr;
    HBITMAP image = ::CreateDIBSection(nullptr, &oi, DIB_RGB_COLORS, &outBits, nullptr, 0);
    if (!image || !outBits) {
      if (image) ::DeleteObject(image);
      ::ImageList_Destroy(list);
      return nullptr;
    }
    auto* px = static_cast<DWORD*>(outBits);
    for (size_t i = 0; i < out.size(); ++i) {
      const Pixel& p = out[i];
      px[i] = (static_cast<DWORD>(ToByte(p.a)) << 24) | (static_cast<DWORD>(ToByte(p.r)) << 16) |
              (static_cast<DWORD>(ToByte(p.g)) << 8) | ToByte(p.b);
    }
    ::ImageList_Add(list, image, nullptr);
    ::DeleteObject(image);
  }
  return list;
}
