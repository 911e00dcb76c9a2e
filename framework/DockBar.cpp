// The docking toolbar: its docked bar with the gripper, its floating tool
// window, the drag outline, and the drag that moves it between them.
#include "framework/DockBar.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "framework/Dpi.h"

namespace {

const wchar_t kDockClass[] = L"HbDockBar";
const wchar_t kFloatClass[] = L"HbFloatBar";
const wchar_t kOutlineClass[] = L"HbDragOutline";
const UINT_PTR kSubclassId = 0x4842;  // "HB"
const DWORD kFloatStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;  // no system menu: no close box
const DWORD kFloatExStyle = WS_EX_TOOLWINDOW;

bool RegisterClassOnce(const wchar_t* name, WNDPROC proc, UINT style, int background) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  if (::GetClassInfoExW(module, name, &wc)) return true;
  wc.cbSize = sizeof(wc);
  wc.style = style;
  wc.lpfnWndProc = proc;
  wc.hInstance = module;
  wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background + 1));
  wc.lpszClassName = name;
  return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

POINT ScreenPoint(HWND hwnd, LPARAM lp) {
  POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
  ::ClientToScreen(hwnd, &pt);
  return pt;
}

RECT ScreenRect(HWND hwnd) {
  RECT rc{};
  ::GetWindowRect(hwnd, &rc);
  return rc;
}

CDockBar* FromWindow(HWND hwnd, UINT msg, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  return reinterpret_cast<CDockBar*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace

CDockBar::~CDockBar() {
  // Normally the frame's destruction took every window with it.
  if (m_hToolBar) ::RemoveWindowSubclass(m_hToolBar, &CDockBar::ToolBarProc, kSubclassId);
  for (HWND hwnd : {m_hDock, m_hFloat, m_hOutline})
    if (hwnd) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
}

bool CDockBar::Create(HWND frame, HWND toolbar, UINT dpi, std::function<void()> relayout) {
  if (!RegisterClassOnce(kDockClass, &CDockBar::DockProc, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW,
                         COLOR_BTNFACE) ||
      !RegisterClassOnce(kFloatClass, &CDockBar::FloatProc, CS_DBLCLKS, COLOR_BTNFACE) ||
      !RegisterClassOnce(kOutlineClass, ::DefWindowProcW, 0, COLOR_3DDKSHADOW))
    return false;
  m_hFrame = frame;
  m_hToolBar = toolbar;
  m_relayout = std::move(relayout);
  SetDpi(dpi);
  m_hDock = ::CreateWindowExW(0, kDockClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0,
                              0, frame, nullptr, ::GetModuleHandleW(nullptr), this);
  if (!m_hDock) return false;
  // Commands, tool tips and hot-item changes go to the frame wherever the
  // toolbar is.
  ::SendMessageW(toolbar, TB_SETPARENT, reinterpret_cast<WPARAM>(frame), 0);
  ::SetParent(toolbar, m_hDock);
  ::SetWindowSubclass(toolbar, &CDockBar::ToolBarProc, kSubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
  // The floating window never becomes active: its tips must show all the same.
  if (HWND tips = reinterpret_cast<HWND>(::SendMessageW(toolbar, TB_GETTOOLTIPS, 0, 0)))
    ::SetWindowLongW(tips, GWL_STYLE, ::GetWindowLongW(tips, GWL_STYLE) | TTS_ALWAYSTIP);
  SetVertical(false);
  return true;
}

void CDockBar::SetDpi(UINT dpi) {
  m_nDpi = dpi ? dpi : 96;
  m_nGripper = HbScale(10, m_nDpi);
  m_nBorder = HbScale(2, m_nDpi);
  m_nSnap = HbScale(24, m_nDpi);
  m_nOutline = HbScale(3, m_nDpi);
}

// --- Sizes and layout.

SIZE CDockBar::ToolBarSize() const {
  DWORD button = static_cast<DWORD>(::SendMessageW(m_hToolBar, TB_GETBUTTONSIZE, 0, 0));
  const int bw = LOWORD(button), bh = HIWORD(button);
  const bool vertical = (::GetWindowLongW(m_hToolBar, GWL_STYLE) & CCS_VERT) != 0;
  int right = 0, bottom = 0;
  int n = static_cast<int>(::SendMessageW(m_hToolBar, TB_BUTTONCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    TBBUTTON b{};
    RECT r{};
    if (!::SendMessageW(m_hToolBar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b)) ||
        (b.fsState & TBSTATE_HIDDEN) ||
        !::SendMessageW(m_hToolBar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r)))
      continue;
    right = std::max(right, static_cast<int>(r.right));
    bottom = std::max(bottom, static_cast<int>(r.bottom));
  }
  if (vertical) return SIZE{bw, std::max(bottom, bh)};
  return SIZE{std::max(right, bw), bh};
}

int CDockBar::DockThickness(bool vertical) const {
  DWORD button = static_cast<DWORD>(::SendMessageW(m_hToolBar, TB_GETBUTTONSIZE, 0, 0));
  return (vertical ? LOWORD(button) : HIWORD(button)) + 2 * m_nBorder;
}

SIZE CDockBar::FloatWindowSize(bool vertical) const {
  SIZE tb = ToolBarSize();
  if (vertical != ((::GetWindowLongW(m_hToolBar, GWL_STYLE) & CCS_VERT) != 0))
    std::swap(tb.cx, tb.cy);  // the row a docked column becomes
  RECT rc{0, 0, tb.cx + 2 * m_nBorder, tb.cy + 2 * m_nBorder};
  ::AdjustWindowRectEx(&rc, kFloatStyle, FALSE, kFloatExStyle);
  return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

RECT CDockBar::GetGripperRect() const {
  RECT rc{};
  if (m_hDock) ::GetClientRect(m_hDock, &rc);
  if (m_side == kLeft || m_side == kRight)
    rc.bottom = rc.top + m_nGripper;
  else
    rc.right = rc.left + m_nGripper;
  return rc;
}

void CDockBar::SetVertical(bool vertical) {
  if (!m_hToolBar) return;
  LONG style = ::GetWindowLongW(m_hToolBar, GWL_STYLE);
  LONG want = vertical ? (style | CCS_VERT) : (style & ~CCS_VERT);
  bool changed = want != style;
  if (changed) ::SetWindowLongW(m_hToolBar, GWL_STYLE, want);
  // A plain toolbar lays its buttons out in a row; each one ending its row
  // makes a column.
  int n = static_cast<int>(::SendMessageW(m_hToolBar, TB_BUTTONCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    TBBUTTON b{};
    if (!::SendMessageW(m_hToolBar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b))) continue;
    BYTE state = vertical ? (b.fsState | TBSTATE_WRAP) : (b.fsState & ~TBSTATE_WRAP);
    if (state == b.fsState) continue;
    ::SendMessageW(m_hToolBar, TB_SETSTATE, static_cast<WPARAM>(b.idCommand), MAKELPARAM(state, 0));
    changed = true;
  }
  if (changed) ::SendMessageW(m_hToolBar, TB_AUTOSIZE, 0, 0);
}

void CDockBar::Layout(RECT* rc) {
  if (!m_hDock || !m_hToolBar) return;
  m_area = *rc;
  SIZE tb = ToolBarSize();
  if (m_side == kFloat) {
    ::ShowWindow(m_hDock, SW_HIDE);
    if (m_hFloat) {
      SIZE fs = FloatWindowSize(false);
      ::SetWindowPos(m_hFloat, nullptr, 0, 0, fs.cx, fs.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      ::MoveWindow(m_hToolBar, m_nBorder, m_nBorder, tb.cx, tb.cy, TRUE);
    }
    return;
  }
  const bool vertical = m_side == kLeft || m_side == kRight;
  const int t = DockThickness(vertical);
  RECT d = *rc;
  switch (m_side) {
    case kTop: d.bottom = std::min(rc->bottom, rc->top + t); rc->top = d.bottom; break;
    case kBottom: d.top = std::max(rc->top, rc->bottom - t); rc->bottom = d.top; break;
    case kLeft: d.right = std::min(rc->right, rc->left + t); rc->left = d.right; break;
    case kRight: d.left = std::max(rc->left, rc->right - t); rc->right = d.left; break;
    default: break;
  }
  ::MoveWindow(m_hDock, d.left, d.top, d.right - d.left, d.bottom - d.top, TRUE);
  if (vertical)
    ::MoveWindow(m_hToolBar, m_nBorder, m_nGripper, tb.cx, tb.cy, TRUE);
  else
    ::MoveWindow(m_hToolBar, m_nGripper, m_nBorder, tb.cx, tb.cy, TRUE);
  if (!::IsWindowVisible(m_hDock)) ::ShowWindow(m_hDock, SW_SHOWNA);
  ::InvalidateRect(m_hDock, nullptr, TRUE);
}

// --- Docking and floating.

bool CDockBar::EnsureFloatWindow() {
  if (m_hFloat) return true;
  m_hFloat = ::CreateWindowExW(kFloatExStyle, kFloatClass, L"", kFloatStyle, 0, 0, 0, 0, m_hFrame,
                               nullptr, ::GetModuleHandleW(nullptr), this);
  return m_hFloat != nullptr;
}

bool CDockBar::EnsureOutlineWindow() {
  if (m_hOutline) return true;
  m_hOutline = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE,
                                 kOutlineClass, L"", WS_POPUP, 0, 0, 0, 0, m_hFrame, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
  return m_hOutline != nullptr;
}

void CDockBar::Dock(Side side) {
  if (side == kFloat) {
    RECT at = m_hDock ? ScreenRect(m_hDock) : RECT{};
    Float(m_bFloatedBefore ? m_floatAt : POINT{at.left, at.top});
    return;
  }
  if (!m_hToolBar || !m_hDock) return;
  m_side = side;
  m_lastDocked = side;
  if (::GetParent(m_hToolBar) != m_hDock) ::SetParent(m_hToolBar, m_hDock);
  SetVertical(side == kLeft || side == kRight);
  if (m_hFloat) ::ShowWindow(m_hFloat, SW_HIDE);
  ::ShowWindow(m_hDock, SW_SHOWNA);
  Relayout();
}

void CDockBar::Float(POINT at) {
  if (!m_hToolBar || !EnsureFloatWindow()) return;
  m_side = kFloat;
  m_floatAt = at;
  m_bFloatedBefore = true;
  SetVertical(false);
  if (::GetParent(m_hToolBar) != m_hFloat) ::SetParent(m_hToolBar, m_hFloat);
  SIZE fs = FloatWindowSize(false);
  ::SetWindowPos(m_hFloat, nullptr, at.x, at.y, fs.cx, fs.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  Relayout();  // hides the docked bar, fits the window
}

void CDockBar::Relayout() {
  if (m_relayout) m_relayout();
  // Everything in the frame moved: the list's header and the strip the bar
  // left are painted anew.
  ::RedrawWindow(m_hFrame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

CDockBar::Side CDockBar::HitTestDrop(POINT pt, POINT grab, RECT* outline) const {
  RECT a = m_area;  // the frame's client area the bar docks in
  ::MapWindowPoints(m_hFrame, nullptr, reinterpret_cast<POINT*>(&a), 2);
  const int across = DockThickness(false), along = DockThickness(true);
  const int snap = std::max(m_nSnap, across);
  Side side = kFloat;
  RECT zone = a;
  ::InflateRect(&zone, snap, snap);
  if (::PtInRect(&zone, pt)) {
    const int distances[] = {std::abs(pt.y - a.top), std::abs(pt.y - a.bottom),
                             std::abs(pt.x - a.left), std::abs(pt.x - a.right)};
    int best = snap + 1;
    for (int s = kTop; s <= kRight; ++s)
      if (distances[s] < best) {
        best = distances[s];
        side = static_cast<Side>(s);
      }
    if (best > snap) side = kFloat;
  }
  RECT r = a;
  switch (side) {
    case kTop: r.bottom = a.top + across; break;
    case kBottom: r.top = a.bottom - across; break;
    case kLeft: r.right = a.left + along; break;
    case kRight: r.left = a.right - along; break;
    default: {
      SIZE fs = FloatWindowSize(false);
      int gx = std::max(0L, std::min(grab.x, fs.cx - 1L));
      int gy = std::max(0L, std::min(grab.y, fs.cy - 1L));
      r = RECT{pt.x - gx, pt.y - gy, pt.x - gx + fs.cx, pt.y - gy + fs.cy};
      break;
    }
  }
  if (outline) *outline = r;
  return side;
}

// --- The drag.

void CDockBar::BeginDrag(HWND capture, POINT screen) {
  RECT bar = ScreenRect(m_side == kFloat && m_hFloat ? m_hFloat : m_hDock);
  m_grab = POINT{screen.x - bar.left, screen.y - bar.top};
  m_start = screen;
  m_bDragging = true;
  m_bMoved = false;
  m_hCapture = capture;
  ::SetCapture(capture);
}

void CDockBar::ShowOutline(const RECT& rc) {
  if (!EnsureOutlineWindow()) return;
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  // A frame of lines: the window's region is its rectangle less the inside.
  HRGN outer = ::CreateRectRgn(0, 0, w, h);
  if (w > 2 * m_nOutline && h > 2 * m_nOutline) {
    HRGN inner = ::CreateRectRgn(m_nOutline, m_nOutline, w - m_nOutline, h - m_nOutline);
    ::CombineRgn(outer, outer, inner, RGN_DIFF);
    ::DeleteObject(inner);
  }
  ::SetWindowRgn(m_hOutline, outer, FALSE);  // the window owns the region now
  ::SetWindowPos(m_hOutline, HWND_TOPMOST, rc.left, rc.top, w, h,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
  ::InvalidateRect(m_hOutline, nullptr, TRUE);
}

void CDockBar::EndDrag(bool drop, POINT screen) {
  const bool moved = m_bMoved;
  HWND capture = m_hCapture;
  m_bDragging = false;
  m_bMoved = false;
  m_hCapture = nullptr;
  if (capture && ::GetCapture() == capture) ::ReleaseCapture();
  if (m_hOutline) ::ShowWindow(m_hOutline, SW_HIDE);
  if (!drop || !moved) return;
  RECT r{};
  Side side = HitTestDrop(screen, m_grab, &r);
  if (side == kFloat)
    Float(POINT{r.left, r.top});
  else
    Dock(side);
}

bool CDockBar::OnDragMessage(HWND hwnd, UINT msg, LPARAM lp) {
  if (!m_bDragging) return false;
  switch (msg) {
    case WM_MOUSEMOVE: {
      POINT pt = ScreenPoint(hwnd, lp);
      if (!m_bMoved && std::abs(pt.x - m_start.x) <= ::GetSystemMetrics(SM_CXDRAG) &&
          std::abs(pt.y - m_start.y) <= ::GetSystemMetrics(SM_CYDRAG))
        return true;
      m_bMoved = true;
      m_dropSide = HitTestDrop(pt, m_grab, &m_dropRect);
      ShowOutline(m_dropRect);
      return true;
    }
    case WM_LBUTTONUP:
      EndDrag(true, ScreenPoint(hwnd, lp));
      return true;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lp) != m_hCapture) EndDrag(false, POINT{0, 0});
      return false;  // the window's own handling runs too
    case WM_RBUTTONDOWN:
    case WM_CANCELMODE:
      EndDrag(false, POINT{0, 0});
      return true;
    default:
      return false;
  }
}

// --- Window procedures.

LRESULT CALLBACK CDockBar::DockProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CDockBar* self = FromWindow(hwnd, msg, lp);
  return self ? self->OnDockMessage(hwnd, msg, wp, lp) : ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK CDockBar::FloatProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CDockBar* self = FromWindow(hwnd, msg, lp);
  return self ? self->OnFloatMessage(hwnd, msg, wp, lp) : ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CDockBar::OnDockMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (OnDragMessage(hwnd, msg, lp)) return 0;
  switch (msg) {
    case WM_LBUTTONDOWN:  // the gripper, or the bar beyond the buttons
      BeginDrag(hwnd, ScreenPoint(hwnd, lp));
      return 0;
    case WM_LBUTTONDBLCLK:
      Dock(kFloat);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(hwnd, &ps);
      PaintDock(dc);
      ::EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
      return ::SendMessageW(m_hFrame, msg, wp, lp);
    case WM_NCDESTROY:
      m_hDock = nullptr;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CDockBar::OnFloatMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (OnDragMessage(hwnd, msg, lp)) return 0;
  switch (msg) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;  // the frame stays the active window
    case WM_NCLBUTTONDOWN:
      if (wp != HTCAPTION) break;
      BeginDrag(hwnd, POINT{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))});
      return 0;
    case WM_NCLBUTTONDBLCLK:
      if (wp != HTCAPTION) break;
      Dock(m_lastDocked);
      return 0;
    case WM_MOVE:
      if (m_side == kFloat && ::IsWindowVisible(hwnd)) {
        RECT rc = ScreenRect(hwnd);
        m_floatAt = POINT{rc.left, rc.top};
      }
      break;
    case WM_CLOSE:
      return 0;  // the bar cannot be lost: nothing would bring it back
    case WM_COMMAND:
    case WM_NOTIFY:
      return ::SendMessageW(m_hFrame, msg, wp, lp);
    case WM_NCDESTROY:
      m_hFloat = nullptr;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK CDockBar::ToolBarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                       DWORD_PTR data) {
  auto* self = reinterpret_cast<CDockBar*>(data);
  if (self->OnDragMessage(hwnd, msg, lp)) return 0;
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
      if (::SendMessageW(hwnd, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&pt)) >= 0) break;
      // Not on a button: the toolbar is taken by its body.
      if (msg == WM_LBUTTONDOWN)
        self->BeginDrag(hwnd, ScreenPoint(hwnd, lp));
      else if (self->m_side != kFloat)
        self->Dock(kFloat);
      return 0;
    }
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(hwnd, &CDockBar::ToolBarProc, kSubclassId);
      self->m_hToolBar = nullptr;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

void CDockBar::PaintDock(HDC dc) {
  RECT rc{};
  ::GetClientRect(m_hDock, &rc);
  const bool vertical = m_side == kLeft || m_side == kRight;
  // The edge towards the frame's inside.
  UINT edge = m_side == kTop ? BF_BOTTOM : m_side == kBottom ? BF_TOP
            : m_side == kLeft ? BF_RIGHT : BF_LEFT;
  ::DrawEdge(dc, &rc, EDGE_ETCHED, edge);
  // The gripper: two raised lines across the bar.
  const int line = std::max(2, HbScale(3, m_nDpi));
  const int gap = HbScale(1, m_nDpi);
  const int start = HbScale(2, m_nDpi);
  for (int k = 0; k < 2; ++k) {
    RECT g{};
    int at = start + k * (line + gap);
    if (vertical)
      g = RECT{rc.left + m_nBorder, at, rc.right - m_nBorder, at + line};
    else
      g = RECT{at, rc.top + m_nBorder, at + line, rc.bottom - m_nBorder};
    ::DrawEdge(dc, &g, BDR_RAISEDINNER, BF_RECT);
  }
}
