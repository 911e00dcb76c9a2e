// A frame's toolbar that docks on any side of the frame or floats in a
// small tool window of its own, moved by dragging its gripper (or any part
// of it that is not a button, or the floating window's caption) with a drag
// outline that shows where it will go.
#pragma once

#include <windows.h>

#include <functional>

class CDockBar {
public:
  enum Side { kTop, kBottom, kLeft, kRight, kFloat };

  CDockBar() = default;
  ~CDockBar();
  CDockBar(const CDockBar&) = delete;
  CDockBar& operator=(const CDockBar&) = delete;

  // Takes over toolbar, a child of frame that sends its notifications to
  // the frame, and docks it at the top.  relayout lays the frame out again
  // (it calls Layout).
  bool Create(HWND frame, HWND toolbar, UINT dpi, std::function<void()> relayout);

  // The docked bar takes its strip of rc (the frame's client coordinates)
  // and returns the rest; a floating bar takes nothing and its window is
  // fitted to the toolbar's visible buttons.
  void Layout(RECT* rc);

  void Dock(Side side);
  // Floats the bar with its window's top-left corner at screen point at.
  void Float(POINT at);
  Side GetSide() const { return m_side; }
  Side GetLastDockedSide() const { return m_lastDocked; }

  // Pixel sizes at dpi (the gripper, borders, the snap distance).
  void SetDpi(UINT dpi);

  // Where a drop at screen point pt would put the bar, and the rectangle
  // (screen) the drag outline shows for it; grab is the point of the bar
  // that is being held, from its top-left corner.
  Side HitTestDrop(POINT pt, POINT grab, RECT* outline) const;

  HWND GetDockWindow() const { return m_hDock; }
  HWND GetFloatWindow() const { return m_hFloat; }
  HWND GetOutlineWindow() const { return m_hOutline; }
  HWND GetToolBar() const { return m_hToolBar; }
  bool IsDragging() const { return m_bDragging; }
  // The gripper's rectangle in the docked bar's client coordinates.
  RECT GetGripperRect() const;

private:
  static LRESULT CALLBACK DockProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK FloatProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ToolBarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                      DWORD_PTR self);
  LRESULT OnDockMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnFloatMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // Mouse messages of a drag, from whichever of the three windows holds the
  // capture; true when the message belonged to the drag.
  bool OnDragMessage(HWND hwnd, UINT msg, LPARAM lp);

  bool EnsureFloatWindow();
  bool EnsureOutlineWindow();
  void BeginDrag(HWND capture, POINT screen);
  void EndDrag(bool drop, POINT screen);
  void ShowOutline(const RECT& rc);
  // The frame lays itself out again and repaints.
  void Relayout();
  // Lays the buttons out in a row or in one column.
  void SetVertical(bool vertical);
  // The toolbar's size with its visible buttons (at least one button long).
  SIZE ToolBarSize() const;
  // Thickness of the docked bar across its side.
  int DockThickness(bool vertical) const;
  SIZE FloatWindowSize(bool vertical) const;
  void PaintDock(HDC dc);

  HWND m_hFrame = nullptr;
  HWND m_hToolBar = nullptr;
  HWND m_hDock = nullptr;
  HWND m_hFloat = nullptr;
  HWND m_hOutline = nullptr;
  std::function<void()> m_relayout;
  RECT m_area{0, 0, 0, 0};  // what the last layout gave the bar (frame client)
  Side m_side = kTop;
  Side m_lastDocked = kTop;
  POINT m_floatAt{0, 0};
  bool m_bFloatedBefore = false;

  UINT m_nDpi = 96;
  int m_nGripper = 8;   // gripper strip, along the bar
  int m_nBorder = 2;    // around the buttons
  int m_nSnap = 24;     // how near an edge a drop docks
  int m_nOutline = 3;   // width of the outline's lines

  bool m_bDragging = false;  // a button is down on a handle
  bool m_bMoved = false;     // ... and the mouse went beyond the drag distance
  HWND m_hCapture = nullptr;
  POINT m_start{0, 0};
  POINT m_grab{0, 0};  // from the bar's top-left corner
  Side m_dropSide = kTop;
  RECT m_dropRect{0, 0, 0, 0};
};
