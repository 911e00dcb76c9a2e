// ZTitleTip: showing the tip over a cut-off cell, hiding it when the mouse
// leaves the cell, and passing clicks and keys on to the windows below.
#include "browser/TitleTip.h"

#include <windowsx.h>

#include <cstdlib>

#include "framework/Dpi.h"
#include "framework/WinApp.h"

const char ZTitleTip::kClassName[] = "ZTitleTip";

namespace {

// Asks a window (perhaps of another program) what part of it is at a point.
LRESULT HitTest(HWND hwnd, POINT screen) {
  DWORD_PTR result = HTNOWHERE;
  if (!::SendMessageTimeoutW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y),
                             SMTO_ABORTIFHUNG, 500, &result))
    return HTNOWHERE;
  return static_cast<LRESULT>(result);
}

UINT NonClientButton(UINT message, bool doubleClick) {
  switch (message) {
    case WM_RBUTTONDOWN: return WM_NCRBUTTONDOWN;
    case WM_MBUTTONDOWN: return WM_NCMBUTTONDOWN;
    default: return doubleClick ? WM_NCLBUTTONDBLCLK : WM_NCLBUTTONDOWN;
  }
}

}  // namespace

ZTitleTip::ZTitleTip() {
  CWnd::RegisterPlainClass(kClassName, CS_SAVEBITS, nullptr, ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */),
                           reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_INFOBK + 1)));
}

ZTitleTip::~ZTitleTip() {
  if (m_bFilterAdded && HbGetApp()) HbGetApp()->RemoveMessageFilter(this);
}

bool ZTitleTip::Create(HWND owner) {
  m_hOwner = owner;
  if (!CreateEx(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, nullptr, WS_POPUP | WS_BORDER, 0, 0,
                0, 0, owner, nullptr))
    return false;
  if (HbGetApp()) {
    HbGetApp()->AddMessageFilter(this, [this](MSG* msg) { return FilterMessage(msg); });
    m_bFilterAdded = true;
  }
  return true;
}

void ZTitleTip::Show(const RECT& cell, const std::string& text, int xOffset) {
  if (!m_hWnd || IsShown() || !ThreadHasFocus()) return;
  int width = cell.right - cell.left, height = cell.bottom - cell.top;
  RECT title{-xOffset - 1, -1, width - xOffset, height + 1};

  RECT screen = cell;
  ::MapWindowPoints(m_hOwner, nullptr, reinterpret_cast<POINT*>(&screen), 2);

  std::string padded = " " + text + " ";
  HDC dc = ::GetDC(m_hWnd);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(m_hOwner, WM_GETFONT, 0, 0)));
  SIZE size{0, 0};
  // Measured and drawn as the list draws it.
  std::wstring wide = fileio::Widen(padded);
  ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(m_hWnd, dc);

  RECT tip;
  tip.left = screen.left + xOffset;
  tip.top = screen.top;
  tip.right = tip.left + size.cx + HbScale(3, HbGetWindowDpi(m_hOwner));
  tip.bottom = screen.bottom;
  if (tip.right <= screen.right - xOffset) return;  // the text fits the cell

  m_rcTitle = title;
  m_strText = padded;
  m_wstrText = wide;
  ::SetWindowTextW(m_hWnd, fileio::Widen(text).c_str());
  ::SetWindowPos(m_hWnd, HWND_TOP, tip.left, tip.top, tip.right - tip.left, tip.bottom - tip.top,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE);
  // The text is painted at once and again whenever the tip is uncovered.
  ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  ::SetCapture(m_hWnd);
}

void ZTitleTip::Hide() {
  if (!m_hWnd) return;
  if (::GetCapture() == m_hWnd) ::ReleaseCapture();
  ::ShowWindow(m_hWnd, SW_HIDE);
}

void ZTitleTip::Paint(HDC dc) {
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(m_hOwner, WM_GETFONT, 0, 0)));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(COLOR_INFOTEXT));
  ::TextOutW(dc, 0, HbScale(2, HbGetWindowDpi(m_hOwner)), m_wstrText.c_str(),
             static_cast<int>(m_wstrText.size()));
  ::SelectObject(dc, old);
}

HWND ZTitleTip::WindowBelow(POINT screen) const {
  HWND below = ::WindowFromPoint(screen);
  return (!below || below == m_hWnd) ? m_hOwner : below;
}

void ZTitleTip::OnMouseMove(WPARAM keys, POINT client) {
  if (::PtInRect(&m_rcTitle, client)) return;
  POINT screen = client;
  ::ClientToScreen(m_hWnd, &screen);
  Hide();
  HWND below = WindowBelow(screen);
  LRESULT hit = HitTest(below, screen);
  if (hit == HTCLIENT) {
    POINT p = screen;
    ::ScreenToClient(below, &p);
    ::PostMessageW(below, WM_MOUSEMOVE, keys, MAKELPARAM(p.x, p.y));
  } else {
    ::PostMessageW(below, WM_NCMOUSEMOVE, static_cast<WPARAM>(hit),
                   MAKELPARAM(screen.x, screen.y));
  }
}

void ZTitleTip::PassOnButton(const MSG& msg, bool doubleClick, DWORD time) {
  POINT screen{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
  ::ClientToScreen(msg.hwnd, &screen);
  HWND below = WindowBelow(screen);
  LRESULT hit = HitTest(below, screen);
  UINT message = msg.message;
  WPARAM wp = msg.wParam;
  LPARAM lp;
  if (hit == HTCLIENT) {
    POINT p = screen;
    ::ScreenToClient(below, &p);
    lp = MAKELPARAM(p.x, p.y);
    if (doubleClick) message = WM_LBUTTONDBLCLK;
    m_hPassedTo = nullptr;
    if (message == WM_LBUTTONDOWN) {
      m_bPassedPending = true;  // the press posted below comes first
      m_hPassedTo = below;
      m_ptPassed = screen;
      m_dwPassedTime = time;
    }
  } else {
    message = NonClientButton(msg.message, doubleClick);
    wp = static_cast<WPARAM>(hit);
    lp = MAKELPARAM(screen.x, screen.y);
  }
  Hide();
  ::PostMessageW(below, message, wp, lp);
}

bool ZTitleTip::CompletesDoubleClick(HWND wnd, LPARAM lp, DWORD time) {
  if (!m_hPassedTo || wnd != m_hPassedTo) return false;
  if (m_bPassedPending) {  // this is the press the tip posted
    m_bPassedPending = false;
    return false;
  }
  HWND passedTo = m_hPassedTo;
  m_hPassedTo = nullptr;
  if (time - m_dwPassedTime > kDoubleClickMs) return false;
  POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
  ::ClientToScreen(passedTo, &p);
  return std::abs(p.x - m_ptPassed.x) <= ::GetSystemMetrics(SM_CXDOUBLECLK) / 2 &&
         std::abs(p.y - m_ptPassed.y) <= ::GetSystemMetrics(SM_CYDOUBLECLK) / 2;
}

bool ZTitleTip::FilterMessage(MSG* msg) {
  if (!IsShown()) return false;
  switch (msg->message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      if (msg->hwnd != m_hWnd) {  // the tip lost the mouse: just go away
        Hide();
        return false;
      }
      // The time of the press itself, not of its handling: a busy moment
      // must not split a double-click.
      DWORD now = msg->time ? msg->time : ::GetTickCount();
      bool doubleClick = false;
      if (msg->message == WM_LBUTTONDOWN) {
        // A press made before the last noted click was handled counts too.
        doubleClick = static_cast<LONG>(now - m_dwLastClick) <= static_cast<LONG>(kDoubleClickMs);
        m_dwLastClick = now;
      }
      PassOnButton(*msg, doubleClick, now);
      return true;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      Hide();
      if (msg->hwnd != m_hWnd && msg->hwnd != m_hOwner) return false;  // e.g. a label edit
      ::PostMessageW(m_hOwner, msg->message, msg->wParam, msg->lParam);
      return true;
    default:
      // Messages of other windows are theirs; the tip's own go on while
      // the program has the focus.
      if (msg->hwnd != m_hWnd || ThreadHasFocus()) return false;
      Hide();
      return true;
  }
}

LRESULT ZTitleTip::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_MOUSEMOVE:
      if (IsShown()) OnMouseMove(wp, POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      // A loop without the filter delivered the press: handle it the same way.
      MSG m{m_hWnd, msg, wp, lp, 0, {0, 0}};
      if (!FilterMessage(&m)) Hide();
      return 0;
    }
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_CAPTURECHANGED:
      // Without the capture the tip would never see the mouse leave.
      if (reinterpret_cast<HWND>(lp) != m_hWnd) ::ShowWindow(m_hWnd, SW_HIDE);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(m_hWnd, &ps);
      Paint(dc);
      ::EndPaint(m_hWnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      if (m_bFilterAdded && HbGetApp()) HbGetApp()->RemoveMessageFilter(this);
      m_bFilterAdded = false;
      break;
    default:
      break;
  }
  return CWnd::WindowProc(msg, wp, lp);
}
