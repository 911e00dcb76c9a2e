#include "framework/Wnd.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// Which CWnd owns which window. A window property would do, but under Wine
// every property lookup is a round trip to the server, and a list view sends
// hundreds of notifications per paint; a map in the process is far cheaper.
std::mutex g_wndMapLock;
std::unordered_map<HWND, CWnd*>& WndMap() {
  static std::unordered_map<HWND, CWnd*> map;
  return map;
}

void MapWindow(HWND hwnd, CWnd* pWnd) {
  std::lock_guard<std::mutex> lock(g_wndMapLock);
  WndMap()[hwnd] = pWnd;
}

void UnmapWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(g_wndMapLock);
  WndMap().erase(hwnd);
}

// The CWnd whose window is being created on this thread.
thread_local CWnd* t_pWndInit = nullptr;
thread_local HHOOK t_hCbtHook = nullptr;

}  // namespace

std::string LoadResString(UINT id) {
  // LoadStringW with a zero length returns a pointer into the resource.
  const wchar_t* p = nullptr;
  int len = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&p), 0);
  if (len <= 0 || !p) return std::string();
  return fileio::Narrow(std::wstring(p, static_cast<size_t>(len)));
}

std::string Utf8FromAnsi(const std::string& ansi) {
  if (ansi.empty()) return std::string();
  const int size = static_cast<int>(ansi.size());
  int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, &wide[0], n);
  return fileio::Narrow(wide);
}

std::string AnsiFromUtf8(const std::string& utf8, bool* exact) {
  if (exact) *exact = true;
  if (utf8.empty()) return std::string();
  const std::wstring wide = fileio::Widen(utf8);
  const int size = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                nullptr, &lossy);
  std::string ansi(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, &ansi[0], n, nullptr,
                          nullptr);
  // A code page without a default character (UTF-8 as the ANSI code page)
  // reports no loss: the round trip decides.
  if (exact) *exact = !lossy && Utf8FromAnsi(ansi) == utf8;
  return ansi;
}

std::string FormatString(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string s;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, ap2);
    s.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(ap2);
  return s;
}

bool CCmdTarget::OnCmdMsg(UINT id) {
  auto it = m_commands.find(id);
  if (it == m_commands.end()) return false;
  it->second();
  return true;
}

bool CCmdTarget::OnUpdateCmdUI(CCmdUI& ui) {
  auto it = m_updates.find(ui.m_nID);
  if (it != m_updates.end()) {
    it->second(ui);
    return true;
  }
  if (m_commands.count(ui.m_nID)) {
    ui.Enable(true);
    return true;
  }
  return false;
}

CWnd::~CWnd() {
  if (m_hWnd && ::IsWindow(m_hWnd)) {
    // The window outlives its object only by mistake: detach, then destroy.
    HWND h = m_hWnd;
    UnmapWindow(h);
    if (m_pfnSuper) ::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_hWnd = nullptr;
    ::DestroyWindow(h);
  }
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  if (!hwnd) return nullptr;
  std::lock_guard<std::mutex> lock(g_wndMapLock);
  auto it = WndMap().find(hwnd);
  return it == WndMap().end() ? nullptr : it->second;
}

void CWnd::Attach(HWND hwnd) {
  m_hWnd = hwnd;
  MapWindow(hwnd, this);
}

void CWnd::DetachAfterDestroy(HWND hwnd) {
  UnmapWindow(hwnd);
  m_hWnd = nullptr;
}

bool CWnd::SubclassWindow(HWND hwnd) {
  if (!hwnd || m_hWnd) return false;
  Attach(hwnd);
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StdWndProc)));
  return true;
}

LRESULT CALLBACK CWnd::CbtHook(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_CREATEWND && t_pWndInit) {
    CWnd* pWnd = t_pWndInit;
    t_pWndInit = nullptr;
    pWnd->SubclassWindow(reinterpret_cast<HWND>(wp));
  }
  return ::CallNextHookEx(t_hCbtHook, code, wp, lp);
}

bool CWnd::CreateEx(DWORD exStyle, const char* className, const char* title, DWORD style,
                    int x, int y, int cx, int cy, HWND parent, HMENU menuOrId) {
  if (m_hWnd) return false;
  HHOOK hook = ::SetWindowsHookExW(WH_CBT, &CWnd::CbtHook, nullptr, ::GetCurrentThreadId());
  if (!hook) return false;
  HHOOK outerHook = t_hCbtHook;
  CWnd* outerInit = t_pWndInit;
  t_hCbtHook = hook;
  t_pWndInit = this;
  const std::wstring wideClass = fileio::Widen(className ? className : "");
  const std::wstring wideTitle = fileio::Widen(title ? title : "");
  HWND hwnd = ::CreateWindowExW(exStyle, wideClass.c_str(), wideTitle.c_str(), style, x, y, cx, cy,
                                parent, menuOrId, ::GetModuleHandleW(nullptr), nullptr);
  ::UnhookWindowsHookEx(hook);
  t_hCbtHook = outerHook;
  t_pWndInit = outerInit;
  if (!hwnd) {
    m_hWnd = nullptr;
    return false;
  }
  return true;
}

void CWnd::DestroyWindow() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);
}

std::string CWnd::GetWindowText() const {
  int n = ::GetWindowTextLengthW(m_hWnd);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = ::GetWindowTextW(m_hWnd, &s[0], n + 1);
  s.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return fileio::Narrow(s);
}

bool CWnd::RegisterPlainClass(const char* name, UINT style, HICON icon, HCURSOR cursor,
                              HBRUSH background) {
  const std::wstring wideName = fileio::Widen(name);
  WNDCLASSW wc{};
  wc.style = style;
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hIcon = icon;
  wc.hCursor = cursor;
  wc.hbrBackground = background;
  wc.lpszClassName = wideName.c_str();
  if (::RegisterClassW(&wc)) return true;
  return ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

LRESULT CWnd::Default(UINT msg, WPARAM wp, LPARAM lp) {
  if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, msg, wp, lp);
  return ::DefWindowProcW(m_hWnd, msg, wp, lp);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NOTIFY || msg == WM_COMMAND) {
    LRESULT result = 0;
    if (ReflectToChild(msg, wp, lp, &result)) return result;
  }
  return Default(msg, wp, lp);
}

bool CWnd::ReflectToChild(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  HWND child = nullptr;
  if (msg == WM_NOTIFY && lp)
    child = reinterpret_cast<NMHDR*>(lp)->hwndFrom;
  else if (msg == WM_COMMAND)
    child = reinterpret_cast<HWND>(lp);
  CWnd* pChild = FromHandle(child);
  return pChild && pChild->OnReflect(msg, wp, lp, result);
}

LRESULT CALLBACK CWnd::StdWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CWnd* pWnd = FromHandle(hwnd);
  if (!pWnd) return ::DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT r = pWnd->WindowProc(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    UnmapWindow(hwnd);
    if (pWnd->m_pfnSuper)
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pWnd->m_pfnSuper));
    pWnd->m_pfnSuper = nullptr;
    pWnd->m_hWnd = nullptr;
    pWnd->PostNcDestroy();
  }
  return r;
}
