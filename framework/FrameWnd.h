// A top-level frame with menu, accelerators, optional toolbar and status bar
// and one client view.  Commands from the menu, the accelerators and the
// toolbar go to the view first, then to the frame, then to the application.
#pragma once

#include <functional>

#include "framework/Controls.h"
#include "framework/DockBar.h"
#include "framework/Handles.h"
#include "framework/Wnd.h"

class CFrameWnd : public CWnd {
public:
  // Creates the frame from resource id: menu and accelerator table of that
  // id, title from the first field of the string of that id.
  bool LoadFrame(UINT resId, DWORD style = WS_OVERLAPPEDWINDOW);

  // Routes a command: view, frame, application.  False when nobody took it.
  bool RouteCommand(UINT id);
  // Asks the same chain for the state of a command; a command nobody
  // handles is disabled.
  void RouteUpdate(CCmdUI& ui);

  // Accelerators of the frame; true when the message was translated.  Keys
  // sent to an edit control are left to it.
  virtual bool PreTranslateMessage(MSG* msg);
  static bool IsEditControl(HWND hwnd);
  // Brings toolbar buttons and status indicators up to date.
  virtual void OnIdleUpdate();
  // Shows and hides the toolbar buttons as the command-update route says
  // (CCmdUI::Show), then lays the frame out again if any changed.
  void RefreshToolBar();
  // Asks the command route for every toolbar button's state and hands it to
  // apply.
  void UpdateToolBarButtons(const std::function<void(const CCmdUI&)>& apply);
  // Lays out toolbar, status bar and view in the client area.
  void RecalcLayout();
  // Shows the prompt of a command (the text before "\n" of its string) in
  // the message pane; id 0 shows "Ready".
  void SetMessagePrompt(UINT id);

  CWnd* GetActiveView() const { return m_pView; }
  HMENU GetMenu() const { return ::GetMenu(m_hWnd); }

protected:
  // The window class of the frame (registered by the caller).
  virtual const char* GetFrameClassName() const = 0;
  // Creates toolbar, status bar and so on; return -1 to fail the creation.
  virtual int OnCreate(CREATESTRUCTW* cs);
  // Creates the view; false fails the creation.
  virtual bool OnCreateClient() { return true; }

  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void UpdateMenu(HMENU menu);

  CWnd* m_pView = nullptr;
  CToolBar* m_pToolBar = nullptr;
  CDockBar* m_pDockBar = nullptr;  // when set, it places the toolbar
  CStatusBar* m_pStatusBar = nullptr;
  CMenu m_menu;
  HACCEL m_hAccel = nullptr;  // resource table: freed with the module
};
