#include "framework/FrameWnd.h"

#include "framework/WinApp.h"

namespace {
const UINT kIdReady = 57345;  // "Ready"
const UINT kIdCaps = 59137, kIdNum = 59138, kIdScroll = 59139;

std::string PromptPart(const std::string& s, bool tip) {
  size_t nl = s.find('\n');
  if (nl == std::string::npos) return tip ? std::string() : s;
  return tip ? s.substr(nl + 1) : s.substr(0, nl);
}
}  // namespace

bool CFrameWnd::LoadFrame(UINT resId, DWORD style) {
  HMODULE mod = ::GetModuleHandleW(nullptr);
  m_menu.Reset(::LoadMenuW(mod, MAKEINTRESOURCEW(resId)));
  m_hAccel = ::LoadAcceleratorsW(mod, MAKEINTRESOURCEW(resId));
  std::string title = LoadResString(resId);
  title = title.substr(0, title.find('\n'));
  if (!CreateEx(0, GetFrameClassName(), title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, m_menu.Get()))
    return false;
  m_menu.Detach();  // the window owns its menu now
  return true;
}

bool CFrameWnd::RouteCommand(UINT id) {
  if (m_pView && m_pView->OnCmdMsg(id)) return true;
  if (OnCmdMsg(id)) return true;
  return HbGetApp() && HbGetApp()->OnCmdMsg(id);
}

void CFrameWnd::RouteUpdate(CCmdUI& ui) {
  if (m_pView && m_pView->OnUpdateCmdUI(ui)) return;
  if (OnUpdateCmdUI(ui)) return;
  if (HbGetApp() && HbGetApp()->OnUpdateCmdUI(ui)) return;
  ui.Enable(false);
}

bool CFrameWnd::PreTranslateMessage(MSG* msg) {
  if (m_hAccel && msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST &&
      (msg->hwnd == m_hWnd || ::IsChild(m_hWnd, msg->hwnd)) && !IsEditControl(msg->hwnd))
    return ::TranslateAcceleratorW(m_hWnd, m_hAccel, msg) != 0;
  return false;
}

bool CFrameWnd::IsEditControl(HWND hwnd) {
  // Delete, Ctrl+C, Ctrl+V and the rest belong to an edit that has the
  // focus (a list label being edited, for one), not to the frame's commands.
  wchar_t cls[16] = {0};
  return hwnd && ::GetClassNameW(hwnd, cls, 16) > 0 && ::lstrcmpiW(cls, L"Edit") == 0;
}

void CFrameWnd::UpdateToolBarButtons(const std::function<void(const CCmdUI&)>& apply) {
  if (!m_pToolBar || !m_pToolBar->m_hWnd) return;
  int n = m_pToolBar->GetButtonCount();
  for (int i = 0; i < n; ++i) {
    TBBUTTON b{};
    if (!m_pToolBar->GetButton(i, &b) || (b.fsStyle & BTNS_SEP)) continue;
    CCmdUI ui(static_cast<UINT>(b.idCommand));
    RouteUpdate(ui);
    apply(ui);
  }
}

void CFrameWnd::OnIdleUpdate() {
  UpdateToolBarButtons([this](const CCmdUI& ui) {
    if (m_pToolBar->IsButtonEnabled(ui.m_nID) != ui.m_bEnabled)
      m_pToolBar->EnableButton(ui.m_nID, ui.m_bEnabled);
  });
  if (m_pStatusBar && m_pStatusBar->m_hWnd) {
    const struct { UINT id; int key; } locks[] = {
        {kIdCaps, VK_CAPITAL}, {kIdNum, VK_NUMLOCK}, {kIdScroll, VK_SCROLL}};
    for (const auto& l : locks) {
      int index = m_pStatusBar->CommandToIndex(l.id);
      if (index >= 0)
        m_pStatusBar->SetPaneText(index, (::GetKeyState(l.key) & 1) ? LoadResString(l.id) : "");
    }
  }
}

void CFrameWnd::RefreshToolBar() {
  bool changed = false;
  UpdateToolBarButtons([this, &changed](const CCmdUI& ui) {
    if (ui.m_bShowSet && m_pToolBar->IsButtonHidden(ui.m_nID) == ui.m_bShown) {
      m_pToolBar->HideButton(ui.m_nID, !ui.m_bShown);
      changed = true;
    }
  });
  if (changed) RecalcLayout();
}

void CFrameWnd::UpdateMenu(HMENU menu) {
  int n = ::GetMenuItemCount(menu);
  for (int i = 0; i < n; ++i) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_ID | MIIM_FTYPE | MIIM_SUBMENU;
    if (!::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii)) continue;
    if (mii.hSubMenu || (mii.fType & MFT_SEPARATOR) || mii.wID == 0) continue;
    CCmdUI ui(mii.wID);
    RouteUpdate(ui);
    ::EnableMenuItem(menu, static_cast<UINT>(i),
                     MF_BYPOSITION | (ui.m_bEnabled ? MF_ENABLED : MF_GRAYED));
    if (ui.m_bTextSet) {
      std::wstring wide = fileio::Widen(ui.m_strText);
      MENUITEMINFOW text{};
      text.cbSize = sizeof(text);
      text.fMask = MIIM_STRING;
      text.dwTypeData = &wide[0];
      ::SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &text);
    }
  }
}

void CFrameWnd::RecalcLayout() {
  RECT rc = GetClientRect();
  // The status bar stays at the very bottom, the toolbar takes its side of
  // the rest, the view what is left.
  if (m_pStatusBar && m_pStatusBar->m_hWnd && ::IsWindowVisible(m_pStatusBar->m_hWnd)) {
    m_pStatusBar->SendMessage(WM_SIZE);
    m_pStatusBar->RecalcParts();
    RECT sb{};
    ::GetWindowRect(m_pStatusBar->m_hWnd, &sb);
    rc.bottom -= sb.bottom - sb.top;
  }
  if (m_pDockBar) {
    m_pDockBar->Layout(&rc);
  } else if (m_pToolBar && m_pToolBar->m_hWnd && ::IsWindowVisible(m_pToolBar->m_hWnd)) {
    m_pToolBar->SendMessage(TB_AUTOSIZE);
    RECT tb{};
    ::GetWindowRect(m_pToolBar->m_hWnd, &tb);
    rc.top += tb.bottom - tb.top;
  }
  if (m_pView && m_pView->m_hWnd)
    ::MoveWindow(m_pView->m_hWnd, rc.left, rc.top, rc.right > rc.left ? rc.right - rc.left : 0,
                 rc.bottom > rc.top ? rc.bottom - rc.top : 0, TRUE);
}

void CFrameWnd::SetMessagePrompt(UINT id) {
  if (!m_pStatusBar || !m_pStatusBar->m_hWnd) return;
  std::string text = PromptPart(LoadResString(id ? id : kIdReady), false);
  if (id && text.empty()) text = LoadResString(kIdReady);
  m_pStatusBar->SetPaneText(0, text);
}

int CFrameWnd::OnCreate(CREATESTRUCTW*) { return OnCreateClient() ? 0 : -1; }

LRESULT CFrameWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      if (Default(msg, wp, lp) == -1) return -1;
      return OnCreate(reinterpret_cast<CREATESTRUCTW*>(lp));
    }
    case WM_SIZE:
      RecalcLayout();
      return 0;
    case WM_SETFOCUS:
      if (m_pView && m_pView->m_hWnd) {
        ::SetFocus(m_pView->m_hWnd);
        return 0;
      }
      break;
    case WM_COMMAND: {
      HWND ctl = reinterpret_cast<HWND>(lp);
      bool fromToolbar = m_pToolBar && ctl == m_pToolBar->m_hWnd;
      if (!ctl || fromToolbar) {
        UINT id = LOWORD(wp);
        CCmdUI ui(id);
        RouteUpdate(ui);
        if (ui.m_bEnabled) RouteCommand(id);  // a stale accelerator may hit a disabled command
        return 0;
      }
      break;
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      if (hdr->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lp);
        static std::wstring tip;  // must outlive the notification
        tip = fileio::Widen(PromptPart(LoadResString(static_cast<UINT>(hdr->idFrom)), true));
        info->lpszText = &tip[0];
        return 0;
      }
      if (m_pToolBar && hdr->hwndFrom == m_pToolBar->m_hWnd && hdr->code == TBN_HOTITEMCHANGE) {
        auto* hot = reinterpret_cast<NMTBHOTITEM*>(lp);
        SetMessagePrompt((hot->dwFlags & HICF_LEAVING) ? 0 : static_cast<UINT>(hot->idNew));
        return 0;
      }
      break;
    }
    case WM_INITMENUPOPUP:
      if (!HIWORD(lp)) UpdateMenu(reinterpret_cast<HMENU>(wp));
      return 0;
    case WM_MENUSELECT: {
      UINT flags = HIWORD(wp);
      if (flags == 0xFFFF && !lp)
        SetMessagePrompt(0);
      else if (!(flags & (MF_POPUP | MF_SEPARATOR)))
        SetMessagePrompt(LOWORD(wp));
      return 0;
    }
    case WM_EXITMENULOOP:
      SetMessagePrompt(0);
      return 0;
    case WM_CLOSE:
      DestroyWindow();
      return 0;
    case WM_DESTROY:
      if (HbGetApp() && HbGetApp()->m_pMainWnd == this) ::PostQuitMessage(0);
      break;
    default:
      break;
  }
  return CWnd::WindowProc(msg, wp, lp);
}
