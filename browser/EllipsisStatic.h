// CEllipsisStatic: a one-line label with its own font and colours whose text
// ends in an ellipsis (or loses the middle of a path) when it is too long.
#pragma once

#include <windows.h>

#include <string>

#include "framework/Handles.h"
#include "framework/Wnd.h"

class CEllipsisStatic : public CWnd {
public:
  // drawFormat: DrawText flags used for the text (DT_VCENTER | DT_NOPREFIX
  // in the program's dialogs).
  explicit CEllipsisStatic(UINT drawFormat = DT_VCENTER | DT_NOPREFIX);

  // Takes over static control id of dialog (its text, size and place stay).
  bool SubclassDlgItem(HWND dialog, int id);

  void SetText(const std::string& text) const;
  std::string GetText() const { return GetWindowText(); }
  void SetTextColor(COLORREF colour);
  void SetBackgroundColor(COLORREF colour);
  COLORREF GetTextColor() const { return m_clrText; }
  COLORREF GetBackgroundColor() const { return m_clrBack; }
  // 0: the text ends in "..." when cut; 1: a path loses its middle part.
  int GetPathEllipsis() const { return m_nPathEllipsis; }
  void SetPathEllipsis(int option);
  UINT GetDrawFormat() const { return m_nDrawFormat; }
  void SetDrawFormat(UINT format);
  // The flags the label draws with: the draw format plus the ellipsis style.
  UINT GetEffectiveFormat() const;
  // The text as it fits into the label now (with its ellipsis, if cut).
  std::string GetShownText() const;
  HFONT GetLabelFont() const { return m_font.Get(); }

protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
  void Paint();

  CFont m_font;
  COLORREF m_clrText;
  COLORREF m_clrBack;
  int m_nPathEllipsis = 0;
  UINT m_nDrawFormat;
};
