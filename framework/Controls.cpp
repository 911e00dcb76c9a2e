#include "framework/Controls.h"

#include <algorithm>

#include "framework/Dpi.h"

bool CToolBar::Create(HWND parent, DWORD style, UINT id) {
  m_nId = id;
  if (!CreateEx(0, "ToolbarWindow32", "", style, 0, 0, 0, 0, parent,
                reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id))))
    return false;
  SendMessage(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON));
  return true;
}

bool CToolBar::LoadToolBar(UINT resId) {
  HMODULE mod = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceW(mod, MAKEINTRESOURCEW(resId), MAKEINTRESOURCEW(241));
  if (!res) return false;
  DWORD size = ::SizeofResource(mod, res);
  HGLOBAL g = ::LoadResource(mod, res);
  auto* data = static_cast<const WORD*>(g ? ::LockResource(g) : nullptr);
  if (!data || size < 8 || data[0] != 1) return false;
  WORD count = data[3];
  if (size < 8u + 2u * count) return false;
  m_sizeImage = SIZE{data[1], data[2]};
  SendMessage(TB_SETBITMAPSIZE, 0, MAKELPARAM(data[1], data[2]));
  std::vector<TBBUTTON> buttons;
  int image = 0;
  for (WORD i = 0; i < count; ++i) {
    TBBUTTON b{};
    b.idCommand = data[4 + i];
    if (b.idCommand == 0) {
      b.fsStyle = BTNS_SEP;
      b.iBitmap = 6;
    } else {
      b.fsStyle = BTNS_BUTTON;
      b.fsState = TBSTATE_ENABLED;
      b.iBitmap = image++;
      b.iString = -1;
    }
    buttons.push_back(b);
  }
  return SendMessage(TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data())) != 0;
}

namespace {

HIMAGELIST StripToImageList(UINT bitmapId, SIZE image) {
  HBITMAP bmp = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                  MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0,
                                                  LR_CREATEDIBSECTION));
  if (!bmp) return nullptr;
  CBitmap owner(bmp);
  BITMAP info{};
  ::GetObjectW(bmp, sizeof(info), &info);
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, bmp);
  COLORREF transparent = ::GetPixel(dc, 0, 0);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  int count = image.cx > 0 ? info.bmWidth / image.cx : 0;
  HIMAGELIST list = ::ImageList_Create(image.cx, image.cy, ILC_COLOR24 | ILC_MASK, count, 0);
  if (list) ::ImageList_AddMasked(list, bmp, transparent);
  return list;
}

}  // namespace

bool CToolBar::SetImageStrips(UINT normalBitmap, UINT hotBitmap, UINT dpi) {
  if (dpi == 96) {
    m_imagesNormal.Reset(StripToImageList(normalBitmap, m_sizeImage));
    m_imagesHot.Reset(StripToImageList(hotBitmap, m_sizeImage));
  } else {
    m_imagesNormal.Reset(HbLoadScaledStrip(normalBitmap, m_sizeImage, dpi));
    m_imagesHot.Reset(HbLoadScaledStrip(hotBitmap, m_sizeImage, dpi));
  }
  if (!m_imagesNormal.IsValid()) return false;
  const int cx = HbScale(m_sizeImage.cx, dpi), cy = HbScale(m_sizeImage.cy, dpi);
  SendMessage(TB_SETBITMAPSIZE, 0, MAKELPARAM(cx, cy));
  SendMessage(TB_SETPADDING, 0, MAKELPARAM(0, 0));
  SendMessage(TB_SETBUTTONSIZE, 0, MAKELPARAM(cx, cy));
  SendMessage(TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_imagesNormal.Get()));
  if (m_imagesHot.IsValid())
    SendMessage(TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(m_imagesHot.Get()));
  SendMessage(TB_AUTOSIZE);
  return true;
}

bool CStatusBar::Create(HWND parent, DWORD style, UINT id) {
  return CreateEx(0, "msctls_statusbar32", "", style, 0, 0, 0, 0, parent,
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

bool CStatusBar::SetIndicators(const UINT* ids, int count) {
  m_panes.clear();
  for (int i = 0; i < count; ++i) {
    Pane p{ids[i], false, 0, std::string()};
    if (ids[i] == 0) p.stretch = true;  // the message pane
    m_panes.push_back(p);
  }
  RecalcParts();
  return true;
}

void CStatusBar::SetPaneInfo(int index, UINT id, bool stretch, int width) {
  if (index < 0 || index >= GetPaneCount()) return;
  Pane& p = m_panes[static_cast<size_t>(index)];
  p.id = id;
  p.stretch = stretch;
  p.width = width;
  RecalcParts();
}

int CStatusBar::CommandToIndex(UINT id) const {
  for (size_t i = 0; i < m_panes.size(); ++i)
    if (m_panes[i].id == id) return static_cast<int>(i);
  return -1;
}

void CStatusBar::SetPaneText(int index, const std::string& text) {
  if (index < 0 || index >= GetPaneCount()) return;
  Pane& p = m_panes[static_cast<size_t>(index)];
  if (p.text == text) return;
  p.text = text;
  SendMessage(SB_SETTEXTW, static_cast<WPARAM>(index),
              reinterpret_cast<LPARAM>(fileio::Widen(p.text).c_str()));
}

std::string CStatusBar::GetPaneText(int index) const {
  if (index < 0 || index >= GetPaneCount()) return std::string();
  return m_panes[static_cast<size_t>(index)].text;
}

void CStatusBar::RecalcParts() {
  if (!m_hWnd || m_panes.empty()) return;
  RECT rc = GetClientRect();
  int total = rc.right - rc.left;
  // Indicator panes without a width are as wide as their string.
  HDC dc = ::GetDC(m_hWnd);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessage(WM_GETFONT)));
  std::vector<int> widths(m_panes.size(), 0);
  int fixed = 0, stretchCount = 0;
  for (size_t i = 0; i < m_panes.size(); ++i) {
    const Pane& p = m_panes[i];
    if (p.stretch) { ++stretchCount; continue; }
    int w = p.width;
    if (w <= 0 && p.id != 0) {
      std::wstring s = fileio::Widen(LoadResString(p.id));
      SIZE sz{};
      ::GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &sz);
      w = sz.cx;
    }
    widths[i] = w + 8;  // room for the pane's borders
    fixed += widths[i];
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(m_hWnd, dc);
  int grip = 16;
  int spare = std::max(0, total - fixed - grip);
  std::vector<int> edges(m_panes.size());
  int x = 0;
  int given = 0;
  for (size_t i = 0, s = 0; i < m_panes.size(); ++i) {
    if (m_panes[i].stretch) {
      ++s;
      int share = static_cast<int>(spare * s / stretchCount) - given;
      given += share;
      widths[i] = share;
    }
    x += widths[i];
    edges[i] = x;
  }
  edges.back() = -1;
  SendMessage(SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  for (size_t i = 0; i < m_panes.size(); ++i)
    SendMessage(SB_SETTEXTW, i, reinterpret_cast<LPARAM>(fileio::Widen(m_panes[i].text).c_str()));
}
