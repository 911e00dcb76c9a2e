// The main frame: menu, toolbar, status bar, the list view and the watch for removal of the logged-in disk.
#include "app/MainFrm.h"

#include <dbt.h>

#include <vector>

#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "framework/Dpi.h"
#include "resources/resource.h"

namespace {

const UINT kIndicators[] = {
    0,  // message pane
    ID_INDICATOR_FREE, ID_INDICATOR_TIME, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL,
};

}  // namespace

CMainFrame::CMainFrame(CRovErarodDoc* doc) : m_pDoc(doc) {
  OnCommand(ID_APP_EXIT, [this] { PostMessage(WM_CLOSE); });
}

CMainFrame::~CMainFrame() = default;

const char* CMainFrame::GetFrameClassName() const { return CRovErarodApp::kFrameClass; }

bool CMainFrame::OnCreateClient() {
  m_pListView = new CRovErarodView(m_pDoc);  // deletes itself with its window
  if (!m_pListView->CreateView(m_hWnd, this)) {
    delete m_pListView;
    m_pListView = nullptr;
    return false;
  }
  m_pView = m_pListView;
  return true;
}

int CMainFrame::OnCreate(CREATESTRUCTW* cs) {
  if (CFrameWnd::OnCreate(cs) == -1) return -1;
  m_nDpi = HbGetWindowDpi(m_hWnd);  // pixel sizes below are given at 96 DPI

  // The dock bar places the toolbar: it neither places nor sizes itself.
  if (!m_wndToolBar.Create(m_hWnd,
                           WS_CHILD | WS_VISIBLE | CCS_NOPARENTALIGN | CCS_NORESIZE |
                               CCS_NODIVIDER | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS,
                           kToolBarId) ||
      !m_wndToolBar.LoadToolBar(IDR_TOOLBAR))
    return -1;
  m_wndToolBar.SetImageStrips(IDB_TOOLBAR, IDB_TOOLBAR_HOT, m_nDpi);
  m_pToolBar = &m_wndToolBar;

  if (!m_wndStatusBar.Create(m_hWnd, WS_CHILD | WS_VISIBLE | CCS_BOTTOM | SBARS_SIZEGRIP,
                             kStatusBarId) ||
      !m_wndStatusBar.SetIndicators(kIndicators, sizeof(kIndicators) / sizeof(kIndicators[0])))
    return -1;
  m_pStatusBar = &m_wndStatusBar;
  SetMessagePrompt(0);

  // The toolbar docks on any side or floats; it starts at the top.
  if (!m_dockBar.Create(m_hWnd, m_wndToolBar.m_hWnd, m_nDpi, [this] { RecalcLayout(); }))
    return -1;
  m_pDockBar = &m_dockBar;

  DetectOsKind();
  SetPaneWidths();

  wchar_t own[MAX_PATH] = {0};
  ::GetModuleFileNameW(nullptr, own, MAX_PATH);
  SetWindowText(MakeTitle(GetFileVersionText(fileio::Narrow(own).c_str())));

  ::SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  return 0;
}

void CMainFrame::InitialUpdate() {
  if (m_pListView) m_pListView->OnInitialUpdate();
  RecalcLayout();
  OnIdleUpdate();
}

std::string CMainFrame::MakeTitle(const std::string& fileVersion) {
  std::string version = fileVersion;
  for (size_t at = version.find(", "); at != std::string::npos; at = version.find(", ", at + 1))
    version.replace(at, 2, ".");
  return "Hollowbox (" + FormatString(LoadResString(IDS_VERSION).c_str(), version.c_str()) + ")";
}

std::string CMainFrame::GetFileVersionText(const char* path) {
  DWORD ignored = 0;
  const std::wstring file = fileio::Widen(path);
  DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return std::string();
  std::vector<char> info(size + 2, 0);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return std::string();
  WORD* translation = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
      !translation || length < 4)
    return std::string();
  std::string key = FormatString("\\StringFileInfo\\%04x%04x\\FileVersion", translation[0],
                                 translation[1]);
  wchar_t* value = nullptr;
  if (!::VerQueryValueW(info.data(), fileio::Widen(key).c_str(), reinterpret_cast<void**>(&value),
                        &length) ||
      !value)
    return std::string();
  wchar_t buffer[260] = {0};
  lstrcpynW(buffer, value, 260);
  return fileio::Narrow(buffer);
}

int CMainFrame::ClassifyOs(const OSVERSIONINFOA& v) {
  switch (v.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
      return 1;
    case VER_PLATFORM_WIN32_WINDOWS:
      if (v.dwMinorVersion == 0) return 2;
      return v.dwMinorVersion < 90 ? 3 : 4;
    case VER_PLATFORM_WIN32_NT:
      if (v.dwMajorVersion == 3 || v.dwMajorVersion == 4) return 5;
      if (v.dwMajorVersion == 5 && v.dwMinorVersion == 0 && v.dwBuildNumber <= 2195) return 6;
      if (v.dwMajorVersion == 6) return 8;
      return 7;
    default:
      return 0;
  }
}

void CMainFrame::DetectOsKind() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof(v);  // 148 bytes
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExA(&v)) return;
#pragma GCC diagnostic pop
  int kind = ClassifyOs(v);
  if (kind != 0) m_nOsKind = kind;
}

HRESULT CMainFrame::ExtractToStream(const std::string& vaultPath, const std::string& path,
                                    IStream* target, IStream** created, bool* complete,
                                    std::function<void()> onComplete) {
  if (!m_pListView) return E_UNEXPECTED;
  return m_pListView->ExtractToStream(vaultPath, path, target, created, complete,
                                      std::move(onComplete));
}

void CMainFrame::OnTransferComplete(const std::string& vaultPath, DWORD effect,
                                    const std::vector<std::string>& cutFolders,
                                    const std::set<std::string>& moved) {
  if (m_pListView) m_pListView->OnTransferComplete(vaultPath, effect, cutFolders, moved);
}

void CMainFrame::SetStatusText(int pane, const std::string& text) {
  m_wndStatusBar.SetPaneText(pane, text);
}

std::string& CMainFrame::LoginDisk() { return GetApp().m_strDisk; }

std::string& CMainFrame::LoginPassword() { return GetApp().m_strPassword; }

int CMainFrame::IsDiskPresent() const {
  const std::string& disk = GetApp().m_strDisk;
  DWORD mask = ::GetLogicalDrives();
  for (int i = 2; i < 32; ++i) {
    if (!(mask & (1u << i))) continue;
    const std::string drive = FormatString("%c:", 'A' + i);
    if (::GetDriveTypeW(fileio::Widen(drive + "\\").c_str()) == DRIVE_REMOVABLE && disk == drive)
      return 1;
  }
  return 0;
}

void CMainFrame::OnDiskRemoved() {
  if (!m_pListView || IsDiskPresent()) return;
  // A modal dialog (the Disk Login dialog opened from the menu, the password
  // dialog) or a message box keeps the frame disabled: a login dialog must
  // not open inside it, and the view must not be logged out under it. A
  // logged-in view is logged out once the frame is enabled again; logged
  // out, the open dialog already lists the disks as they are now.
  if (m_bInRemoval || !::IsWindowEnabled(m_hWnd)) {
    if (m_pListView->IsLoggedIn()) m_bRemovalPending = true;
    return;
  }
  m_bRemovalPending = false;
  m_bInRemoval = true;
  m_pListView->OnCmdMsg(ID_LOGIN);
  m_bInRemoval = false;
}

LRESULT CMainFrame::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DPICHANGED) {  // per-monitor: the window moved to another monitor
    OnDpiChanged(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
    return 0;
  }
  if (msg == WM_DEVICECHANGE) {
    if (wp == DBT_DEVICEREMOVECOMPLETE) OnDiskRemoved();
    return TRUE;
  }
  if (msg == WM_CLOSE && m_pListView && m_pListView->IsBusy()) {
    // The view is inside an operation that pumps messages: the window may
    // go only once the operation has returned.
    HWND self = m_hWnd;
    m_pListView->RunWhenIdle([self] { ::PostMessageW(self, WM_CLOSE, 0, 0); });
    return 0;
  }
  // Changed copies of opened files are asked about first; Cancel stays.
  if (msg == WM_CLOSE && m_pListView && !m_pListView->SettleOpenedCopies(true)) return 0;
  if (msg == WM_QUERYENDSESSION && m_pListView && !m_pListView->IsBusy())
    return m_pListView->SettleOpenedCopies(true) ? TRUE : FALSE;
  if (msg == WM_ENABLE && wp && m_bRemovalPending) {
    // Not from inside the closing dialog's own teardown: from the queue.
    PostMessage(kMsgRemovalRecheck);
  }
  if (msg == kMsgRemovalRecheck) {
    const bool pending = m_bRemovalPending;
    m_bRemovalPending = false;  // set again if the frame is still disabled
    if (pending && m_pListView && m_pListView->IsLoggedIn()) OnDiskRemoved();
    return 0;
  }
  return CFrameWnd::WindowProc(msg, wp, lp);
}
