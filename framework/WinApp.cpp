#include "framework/WinApp.h"

#include <algorithm>

#include "framework/FrameWnd.h"

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp* HbGetApp() { return g_pApp; }

CWinApp::CWinApp() { g_pApp = this; }

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

std::string CWinApp::CommandTail(const char* cmd) {
  if (!cmd) return std::string();
  const char* p = cmd;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return std::string(p);
}

void CWinApp::RemoveModeless(HWND dlg) {
  m_modeless.erase(std::remove(m_modeless.begin(), m_modeless.end(), dlg), m_modeless.end());
}

void CWinApp::AddMessageFilter(const void* key, MessageFilter filter) {
  RemoveMessageFilter(key);
  m_filters.emplace_back(key, std::move(filter));
}

void CWinApp::RemoveMessageFilter(const void* key) {
  m_filters.erase(std::remove_if(m_filters.begin(), m_filters.end(),
                                 [key](const std::pair<const void*, MessageFilter>& f) {
                                   return f.first == key;
                                 }),
                  m_filters.end());
}

bool CWinApp::PreTranslateMessage(MSG* msg) {
  for (size_t i = 0; i < m_filters.size(); ++i)
    if (m_filters[i].second(msg)) return true;
  if (auto* frame = dynamic_cast<CFrameWnd*>(m_pMainWnd)) {
    if (frame->PreTranslateMessage(msg)) return true;
  }
  // A copy: what a dialog message runs may open or close a modeless dialog.
  const std::vector<HWND> dialogs = m_modeless;
  for (HWND dlg : dialogs) {
    if (::IsWindow(dlg) && ::IsDialogMessageW(dlg, msg)) return true;
  }
  return false;
}

bool CWinApp::OnIdle(long count) {
  if (count > 0) return false;
  if (auto* frame = dynamic_cast<CFrameWnd*>(m_pMainWnd)) frame->OnIdleUpdate();
  return false;
}

void HbPumpMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    CWinApp* app = HbGetApp();
    if (app && app->PreTranslateMessage(&msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

int CWinApp::Run() {
  MSG msg{};
  long idleCount = 0;
  bool idle = true;
  for (;;) {
    while (idle && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++)) idle = false;
    }
    BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0 || r == -1) break;
    if (!PreTranslateMessage(&msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    // Painting does not change what the commands look like.
    if (msg.message != WM_PAINT && msg.message != 0x0118) {
      idle = true;
      idleCount = 0;
    }
  }
  m_nExitCode = static_cast<int>(msg.wParam);
  return m_nExitCode;
}

int CWinApp::WinMainEntry() {
  m_strCmdLine = CommandTail(fileio::Narrow(::GetCommandLineW()).c_str());
  if (InitInstance()) Run();
  return ExitInstance();
}
