// The main frame at the screen's resolution: the status panes' widths and
// what changes when the window moves to a monitor of another DPI.
#include "app/MainFrm.h"

#include <utility>

#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "framework/Dpi.h"
#include "resources/resource.h"

void CMainFrame::SetPaneWidths() {
  bool narrowSystem = m_nOsKind == 3 || m_nOsKind == 4;
  m_wndStatusBar.SetPaneInfo(1, ID_INDICATOR_FREE, !narrowSystem,
                             narrowSystem ? HbScale(300, m_nDpi) : 0);
  m_wndStatusBar.SetPaneInfo(2, ID_INDICATOR_TIME, false, HbScale(150, m_nDpi));
}

void CMainFrame::OnDpiChanged(UINT dpi, const RECT* suggested) {
  const UINT old = m_nDpi;
  if (dpi == 0 || dpi == old) return;
  m_nDpi = dpi;
  m_wndToolBar.SetImageStrips(IDB_TOOLBAR, IDB_TOOLBAR_HOT, dpi);
  SetPaneWidths();
  m_dockBar.SetDpi(dpi);
  if (m_pListView && m_pListView->m_hWnd) {
    // The dialog font at the new resolution; the list lets go of the old
    // one before it is deleted.
    CRovErarodApp& app = GetApp();
    LOGFONTW lf{};
    if (app.m_fontDialog.IsValid() && ::GetObjectW(app.m_fontDialog, sizeof(lf), &lf)) {
      lf.lfHeight = -HbScale(12, dpi);
      CFont font(::CreateFontIndirectW(&lf));
      if (font.IsValid()) {
        m_pListView->SetFont(font);
        app.m_fontDialog = std::move(font);
      }
    }
    for (int column = 0; column < m_pListView->GetColumnCount(); ++column) {
      int width = static_cast<int>(m_pListView->SendMessage(LVM_GETCOLUMNWIDTH, column));
      m_pListView->SendMessage(LVM_SETCOLUMNWIDTH, column,
                               MAKELPARAM(::MulDiv(width, static_cast<int>(dpi),
                                                   static_cast<int>(old)), 0));
    }
  }
  if (suggested)
    ::SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  RecalcLayout();
  ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}
