// The application object: start-up and exit hooks around the message loop.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/Wnd.h"

class CWinApp : public CCmdTarget {
public:
  CWinApp();
  ~CWinApp() override;

  // Return false to end the process without entering the message loop.
  virtual BOOL InitInstance() { return TRUE; }
  // The process exit code; runs after the loop, and also after a false
  // InitInstance.
  virtual int ExitInstance() { return m_nExitCode; }
  // Called when the message queue is empty; return true to be called again.
  virtual bool OnIdle(long count);
  // Translates accelerators and dialog keys; true when the message is done.
  virtual bool PreTranslateMessage(MSG* msg);

  // Runs InitInstance, the loop and ExitInstance; returns the exit code.
  int WinMainEntry();
  int Run();

  // The font every dialog of the program puts on its controls (null: the
  // template's own font).
  virtual HFONT GetDialogFont() const { return nullptr; }

  HWND GetMainWnd() const { return m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr; }
  void AddModeless(HWND dlg) { m_modeless.push_back(dlg); }
  void RemoveModeless(HWND dlg);

  // The command line after the program's name and the blanks that follow it.
  std::string m_strCmdLine;
  CWnd* m_pMainWnd = nullptr;
  int m_nExitCode = 0;

  // The part of a full command line after the program name (quoted or not)
  // and the blanks after it.
  static std::string CommandTail(const char* fullCommandLine);

private:
  std::vector<HWND> m_modeless;
};

// The one application object, or null before it was constructed.
CWinApp* HbGetApp();

// Dispatches every message waiting in this thread's queue the way the main
// loop does (accelerators and the keys of modeless dialogs included), so that
// windows paint and buttons work while a long operation runs on this thread.
// A WM_QUIT met on the way is posted again and ends the pumping.
void HbPumpMessages();
