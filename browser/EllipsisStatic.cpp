// CEllipsisStatic: painting of the one-line label with its own font and
// colours.
#include "browser/EllipsisStatic.h"

#include <vector>

#include "framework/Dpi.h"

CEllipsisStatic::CEllipsisStatic(UINT drawFormat)
    : m_clrText(::GetSysColor(COLOR_WINDOWTEXT)),
      m_clrBack(::GetSysColor(COLOR_BTNFACE)),
      m_nDrawFormat(drawFormat) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    LOGFONTW lf = metrics.lfMenuFont;
    lf.lfHeight = -HbScale(12, HbGetSystemDpi());  // 12-pixel characters at 96 DPI
    // Names come in any script: let font linking find the glyphs.
    lf.lfCharSet = DEFAULT_CHARSET;
    m_font.Reset(::CreateFontIndirectW(&lf));
  }
}

bool CEllipsisStatic::SubclassDlgItem(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  return control && SubclassWindow(control);
}

void CEllipsisStatic::SetText(const std::string& text) const {
  SetWindowText(text);  // repaints: see WM_SETTEXT below
}

void CEllipsisStatic::SetTextColor(COLORREF colour) {
  m_clrText = colour;
  if (m_hWnd) Invalidate();
}

void CEllipsisStatic::SetBackgroundColor(COLORREF colour) {
  m_clrBack = colour;
  if (m_hWnd) Invalidate();
}

void CEllipsisStatic::SetPathEllipsis(int option) {
  m_nPathEllipsis = option;
  if (m_hWnd) Invalidate();
}

void CEllipsisStatic::SetDrawFormat(UINT format) {
  m_nDrawFormat = format;
  if (m_hWnd) Invalidate();
}

UINT CEllipsisStatic::GetEffectiveFormat() const {
  return m_nDrawFormat | (m_nPathEllipsis == 1 ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS);
}

std::string CEllipsisStatic::GetShownText() const {
  std::string text = GetWindowText();
  if (!m_hWnd) return text;
  // DrawText writes the shortened text back (up to four more characters).
  const std::wstring wide = fileio::Widen(text);
  std::vector<wchar_t> buffer(wide.begin(), wide.end());
  buffer.resize(wide.size() + 8, L'\0');
  HDC screen = ::GetDC(m_hWnd);
  HDC dc = ::CreateCompatibleDC(screen);
  HGDIOBJ old = m_font.IsValid() ? ::SelectObject(dc, m_font.Get()) : nullptr;
  RECT rc = GetClientRect();
  ::DrawTextW(dc, buffer.data(), -1, &rc, GetEffectiveFormat() | DT_MODIFYSTRING);
  if (old) ::SelectObject(dc, old);
  ::DeleteDC(dc);
  ::ReleaseDC(m_hWnd, screen);
  return fileio::Narrow(buffer.data());
}

void CEllipsisStatic::Paint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  if (!dc) return;
  RECT rc = GetClientRect();
  const std::wstring text = fileio::Widen(GetWindowText());
  COLORREF oldColour = ::SetTextColor(dc, m_clrText);
  int oldMode = ::SetBkMode(dc, TRANSPARENT);
  HGDIOBJ oldFont = m_font.IsValid() ? ::SelectObject(dc, m_font.Get()) : nullptr;
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, GetEffectiveFormat());
  if (oldFont) ::SelectObject(dc, oldFont);
  ::SetBkMode(dc, oldMode);
  ::SetTextColor(dc, oldColour);
  ::EndPaint(m_hWnd, &ps);
}

LRESULT CEllipsisStatic::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND: {
      RECT rc = GetClientRect();
      HBRUSH brush = ::CreateSolidBrush(m_clrBack);
      ::FillRect(reinterpret_cast<HDC>(wp), &rc, brush);
      ::DeleteObject(brush);
      return TRUE;
    }
    case WM_SETTEXT: {
      LRESULT r = CWnd::WindowProc(msg, wp, lp);
      ::InvalidateRect(m_hWnd, nullptr, TRUE);
      return r;
    }
    default:
      return CWnd::WindowProc(msg, wp, lp);
  }
}
