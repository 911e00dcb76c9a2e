// Window base classes: command targets with id-based command and update
// handlers, and CWnd, a thin owner of one HWND whose messages arrive at the
// virtual WindowProc.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>

#include "vault/fileio/WideText.h"

// Texts are UTF-8 on this side of the framework; every call into Win32
// that carries one goes through the W function with fileio::Widen/Narrow.

// Loads a string-table entry of the program's module as UTF-8 ("" when
// missing), whatever the system's ANSI code page.
std::string LoadResString(UINT id);
// The system's ANSI code page, for the formats that are defined in it (the
// disk's password and hint, the shell's narrow file descriptors). exact, when
// given, tells whether the text converted without loss.
std::string Utf8FromAnsi(const std::string& ansi);
std::string AnsiFromUtf8(const std::string& utf8, bool* exact = nullptr);
// Formats like printf into a std::string.
std::string FormatString(const char* fmt, ...);

// What an update handler may change about one command's user interface
// (a menu item or a toolbar button).
class CCmdUI {
public:
  explicit CCmdUI(UINT id) : m_nID(id) {}
  UINT m_nID;
  void Enable(bool on = true) { m_bEnabled = on; m_bEnableSet = true; }
  void SetText(const std::string& text) { m_strText = text; m_bTextSet = true; }
  // Toolbar buttons only: shown or hidden (a menu item ignores it).
  void Show(bool on) { m_bShown = on; m_bShowSet = true; }

  bool m_bEnabled = true;
  bool m_bEnableSet = false;
  std::string m_strText;
  bool m_bTextSet = false;
  bool m_bShown = true;
  bool m_bShowSet = false;
};

// Something that handles commands by id.  Handlers are registered in the
// constructor of the derived class.
class CCmdTarget {
public:
  using CommandHandler = std::function<void()>;
  using UpdateHandler = std::function<void(CCmdUI&)>;

  virtual ~CCmdTarget() = default;

  // Runs the handler for id; false when this target has none.
  virtual bool OnCmdMsg(UINT id);
  // Runs the update handler for the command; false when this target has
  // neither an update nor a command handler for it.  A command handler
  // without an update handler leaves the command enabled.
  virtual bool OnUpdateCmdUI(CCmdUI& ui);

protected:
  void OnCommand(UINT id, CommandHandler handler) { m_commands[id] = std::move(handler); }
  void OnUpdate(UINT id, UpdateHandler handler) { m_updates[id] = std::move(handler); }

private:
  std::map<UINT, CommandHandler> m_commands;
  std::map<UINT, UpdateHandler> m_updates;
};

class CWnd : public CCmdTarget {
public:
  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  operator HWND() const { return m_hWnd; }
  HWND GetSafeHwnd() const { return m_hWnd; }

  // The CWnd attached to a window of this process, or null.
  static CWnd* FromHandle(HWND hwnd);

  // Creates a window whose messages come to WindowProc from the very first
  // one (WM_NCCREATE), whatever the class's own window procedure is: the
  // window is subclassed while it is being created. Class name and title
  // are UTF-8; the window is a Unicode window.
  bool CreateEx(DWORD exStyle, const char* className, const char* title, DWORD style,
                int x, int y, int cx, int cy, HWND parent, HMENU menuOrId);
  // Attaches to an existing window and subclasses it.
  bool SubclassWindow(HWND hwnd);
  void DestroyWindow();

  // --- One-call helpers.
  LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const {
    return ::SendMessageW(m_hWnd, msg, wp, lp);
  }
  BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const {
    return ::PostMessageW(m_hWnd, msg, wp, lp);
  }
  void SetWindowText(const std::string& s) const {
    ::SetWindowTextW(m_hWnd, fileio::Widen(s).c_str());
  }
  std::string GetWindowText() const;
  BOOL ShowWindow(int cmd) const { return ::ShowWindow(m_hWnd, cmd); }
  void UpdateWindow() const { ::UpdateWindow(m_hWnd); }
  void Invalidate(bool erase = true) const { ::InvalidateRect(m_hWnd, nullptr, erase); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  void SetFont(HFONT font, bool redraw = true) const {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
  }
  UINT_PTR SetTimer(UINT_PTR id, UINT ms) const { return ::SetTimer(m_hWnd, id, ms, nullptr); }
  BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(m_hWnd, id); }
  RECT GetClientRect() const { RECT r{}; ::GetClientRect(m_hWnd, &r); return r; }
  LONG_PTR GetStyle() const { return ::GetWindowLongPtrW(m_hWnd, GWL_STYLE); }
  void ModifyStyle(LONG_PTR remove, LONG_PTR add) const {
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (GetStyle() & ~remove) | add);
  }

  // Registers a window class whose procedure is DefWindowProcW; our windows
  // of that class get their behaviour through the creation-time subclass.
  static bool RegisterPlainClass(const char* name, UINT style, HICON icon, HCURSOR cursor,
                                 HBRUSH background);

protected:
  virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
  // The window procedure the window had before we subclassed it.
  LRESULT Default(UINT msg, WPARAM wp, LPARAM lp);
  // Called after the last message (WM_NCDESTROY); m_hWnd is already null.
  virtual void PostNcDestroy() {}
  // A WM_NOTIFY or WM_COMMAND from this control to its parent, offered to the
  // control first.  Return true to stop the parent's own handling.
  virtual bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) { return false; }

  // Offers a parent's WM_NOTIFY/WM_COMMAND to the child window it came from.
  static bool ReflectToChild(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);

private:
  friend class CDialog;
  void Attach(HWND hwnd);
  // Forgets the window after its last message.
  void DetachAfterDestroy(HWND hwnd);
  static LRESULT CALLBACK StdWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK CbtHook(int code, WPARAM wp, LPARAM lp);

  WNDPROC m_pfnSuper = nullptr;
};
