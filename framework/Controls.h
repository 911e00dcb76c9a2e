// Wrappers of the controls the program uses.  Inline methods are one message
// each; the few that do more live in Controls.cpp.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/Wnd.h"

class CListCtrl : public CWnd {
public:
  bool Create(DWORD style, const RECT& rc, HWND parent, UINT id) {
    return CreateEx(WS_EX_CLIENTEDGE, "SysListView32", "", style, rc.left, rc.top,
                    rc.right - rc.left, rc.bottom - rc.top, parent,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
  }
  int InsertColumn(int col, const std::string& title, int fmt, int width) const {
    std::wstring wide = fileio::Widen(title);
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH | LVCF_SUBITEM;
    c.fmt = fmt;
    c.cx = width;
    c.pszText = &wide[0];
    c.iSubItem = col;
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, col, reinterpret_cast<LPARAM>(&c)));
  }
  int GetColumnCount() const {
    return static_cast<int>(::SendMessageW(GetHeader(), HDM_GETITEMCOUNT, 0, 0));
  }
  HWND GetHeader() const { return reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER)); }
  int InsertItem(int index, const std::string& text, int image, LPARAM data) const {
    std::wstring wide = fileio::Widen(text);
    LVITEMW it{};
    it.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    it.iItem = index;
    it.pszText = &wide[0];
    it.iImage = image;
    it.lParam = data;
    return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)));
  }
  bool SetItemText(int item, int sub, const std::string& text) const {
    std::wstring wide = fileio::Widen(text);
    LVITEMW it{};
    it.iSubItem = sub;
    it.pszText = &wide[0];
    return SendMessage(LVM_SETITEMTEXTW, item, reinterpret_cast<LPARAM>(&it)) != 0;
  }
  bool DeleteAllItems() const { return SendMessage(LVM_DELETEALLITEMS) != 0; }
  int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
  int GetSelectedCount() const { return static_cast<int>(SendMessage(LVM_GETSELECTEDCOUNT)); }
  HIMAGELIST SetImageList(HIMAGELIST list, int which) const {
    return reinterpret_cast<HIMAGELIST>(
        SendMessage(LVM_SETIMAGELIST, which, reinterpret_cast<LPARAM>(list)));
  }
};

class CComboBox {
public:
  explicit CComboBox(HWND h = nullptr) : m_hWnd(h) {}
  HWND m_hWnd;
  LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const {
    return ::SendMessageW(m_hWnd, msg, wp, lp);
  }
  int AddString(const std::string& s) const {
    return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(fileio::Widen(s).c_str())));
  }
  void ResetContent() const { Send(CB_RESETCONTENT); }
  int GetCount() const { return static_cast<int>(Send(CB_GETCOUNT)); }
  int GetCurSel() const { return static_cast<int>(Send(CB_GETCURSEL)); }
  int SetCurSel(int i) const { return static_cast<int>(Send(CB_SETCURSEL, static_cast<WPARAM>(i))); }
  // Case-insensitive prefix search starting after entry `after` (-1: from the top).
  int FindString(int after, const std::string& s) const {
    return static_cast<int>(
        Send(CB_FINDSTRING, static_cast<WPARAM>(after),
             reinterpret_cast<LPARAM>(fileio::Widen(s).c_str())));
  }
  std::string GetText() const {
    int n = ::GetWindowTextLengthW(m_hWnd);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = ::GetWindowTextW(m_hWnd, &s[0], n + 1);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return fileio::Narrow(s);
  }
};

class CToolBar : public CWnd {
public:
  bool Create(HWND parent, DWORD style, UINT id);
  // Loads a toolbar resource (version 1: WORD version, width, height, count,
  // then one command id per button, 0 for a separator) and adds its buttons.
  bool LoadToolBar(UINT resId);
  // Image strips with the colour of the first pixel as transparent colour;
  // at another DPI than 96 the images and buttons are scaled to it (the
  // buttons as large as their images).
  bool SetImageStrips(UINT normalBitmap, UINT hotBitmap, UINT dpi = 96);
  int GetButtonCount() const { return static_cast<int>(SendMessage(TB_BUTTONCOUNT)); }
  bool GetButton(int index, TBBUTTON* b) const {
    return SendMessage(TB_GETBUTTON, index, reinterpret_cast<LPARAM>(b)) != 0;
  }
  void EnableButton(UINT id, bool on) const { SendMessage(TB_ENABLEBUTTON, id, MAKELPARAM(on, 0)); }
  bool IsButtonEnabled(UINT id) const { return SendMessage(TB_ISBUTTONENABLED, id) != 0; }
  void HideButton(UINT id, bool hide) const { SendMessage(TB_HIDEBUTTON, id, MAKELPARAM(hide, 0)); }
  bool IsButtonHidden(UINT id) const { return SendMessage(TB_ISBUTTONHIDDEN, id) != 0; }
  UINT m_nId = 0;
  SIZE m_sizeImage{16, 15};

private:
  CImageList m_imagesNormal;
  CImageList m_imagesHot;
};

class CStatusBar : public CWnd {
public:
  // A pane: its id (0 for the stretching message pane), whether it
  // stretches, its width in pixels (ignored when it stretches; 0 = width of
  // its text).  Indicator ids are string ids: the strings give the texts of
  // the Caps, Num and Scroll Lock panes.
  struct Pane {
    UINT id;
    bool stretch;
    int width;
    std::string text;
  };

  bool Create(HWND parent, DWORD style, UINT id);
  bool SetIndicators(const UINT* ids, int count);
  void SetPaneInfo(int index, UINT id, bool stretch, int width);
  int GetPaneCount() const { return static_cast<int>(m_panes.size()); }
  const Pane& GetPane(int i) const { return m_panes[static_cast<size_t>(i)]; }
  int CommandToIndex(UINT id) const;
  void SetPaneText(int index, const std::string& text);
  std::string GetPaneText(int index) const;
  // Recomputes the pane edges for the current width.
  void RecalcParts();

private:
  std::vector<Pane> m_panes;
};
