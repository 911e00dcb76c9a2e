// ZTitleTip: a thin-bordered popup in the tooltip colour that is laid exactly
// over a list cell whose text is cut off and shows the whole text.  Clicks
// and keys go through it to the window below, so it never gets in the way.
#pragma once

#include <windows.h>

#include <string>

#include "framework/Wnd.h"

class ZTitleTip : public CWnd {
public:
  ZTitleTip();
  ~ZTitleTip() override;

  // Creates the hidden popup owned by the list `owner` and puts the tip's
  // message filter into the application's loop.
  bool Create(HWND owner);

  // Shows text over cell (owner client coordinates) when the padded text
  // does not fit the cell.  Nothing happens while the tip is already shown
  // or while no window of this thread has the keyboard focus.
  void Show(const RECT& cell, const std::string& text, int xOffset);
  // Hides the tip and gives up the mouse capture.
  void Hide();
  bool IsShown() const { return m_hWnd && ::IsWindowVisible(m_hWnd); }

  // Remembers the time of a click in the list: a click on the tip soon
  // after it becomes the second half of a double-click.
  void NoteClick() { m_dwLastClick = ::GetTickCount(); }

  // A press the tip passed on to a window ends the tip, so a quick second
  // press may reach that window directly.  True (once) when a left press at
  // lp (client coordinates of wnd) and time completes a double-click begun
  // through the tip; the window then takes it as a double-click.
  bool CompletesDoubleClick(HWND wnd, LPARAM lp, DWORD time);

  // The tip's look at every message of the loop while it is shown; true
  // when the message was consumed.
  bool FilterMessage(MSG* msg);

  const std::string& GetText() const { return m_strText; }
  // The rectangle in tip client coordinates the mouse may move in.
  const RECT& GetTitleRect() const { return m_rcTitle; }

  static const char kClassName[];
  // Two left clicks at most this far apart make a double-click.
  static const DWORD kDoubleClickMs = 150;

protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
  void OnMouseMove(WPARAM keys, POINT client);
  // Sends a button press that reached the tip to the window under it.
  void PassOnButton(const MSG& msg, bool doubleClick, DWORD time);
  // The window under a screen point, the owner taking the tip's place.
  HWND WindowBelow(POINT screen) const;
  void Paint(HDC dc);
  static bool ThreadHasFocus() { return ::GetFocus() != nullptr; }

  HWND m_hOwner = nullptr;
  DWORD m_dwLastClick = 0;
  RECT m_rcTitle{0, 0, 0, 0};
  std::string m_strText;  // padded
  std::wstring m_wstrText;
  bool m_bFilterAdded = false;
  // The last single left press passed on through the tip.
  HWND m_hPassedTo = nullptr;
  POINT m_ptPassed{0, 0};  // screen
  DWORD m_dwPassedTime = 0;
  bool m_bPassedPending = false;
};
