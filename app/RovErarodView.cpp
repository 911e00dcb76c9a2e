#include "app/RovErarodView.h"

#include <ctime>

#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "device/DiskLoginDlg.h"
#include "resources/resource.h"

CRovErarodView::CRovErarodView(CRovErarodDoc* doc) : m_pDoc(doc) {
  OnCommand(ID_LOGIN, [this] {
    if (m_bLoggedIn)
      Logout();
    else
      Login();
  });
  OnUpdate(ID_LOGIN, [this](CCmdUI& ui) {
    ui.SetText(LoadResString(m_bLoggedIn ? IDS_LOGOUT : IDS_LOGIN));
    ui.Enable(m_bLoggedIn || m_device.UDLL_DeviceExist(m_hDevice) > 0);
  });
  OnUpdate(ID_CHANGE_PASSWORD, [this](CCmdUI& ui) { ui.Enable(m_bLoggedIn); });
}

CRovErarodView::~CRovErarodView() = default;

bool CRovErarodView::CreateView(HWND frame) {
  RECT rc{0, 0, 0, 0};
  return Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, rc, frame,
                0xE900 /* first pane of the frame */);
}

void CRovErarodView::OnInitialUpdate() {
  m_hDevice = m_device.UDLL_CreateCUSBDevice();

  if (HFONT font = GetApp().GetDialogFont()) SetFont(font);
  m_imagesSmall.Reset(::ImageList_Create(16, 16, ILC_COLORDDB, 1, 1));
  if (m_imagesSmall.IsValid()) {
    HICON folder = static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr),
                                                   MAKEINTRESOURCEA(IDI_FOLDER), IMAGE_ICON, 16,
                                                   16, LR_DEFAULTCOLOR));
    if (folder) {
      ::ImageList_AddIcon(m_imagesSmall, folder);
      ::DestroyIcon(folder);
    }
    SetImageList(m_imagesSmall, LVSIL_SMALL);
  }
  const struct { UINT title; int width; int fmt; } columns[] = {
      {IDS_COL_NAME, 200, LVCFMT_LEFT},  {IDS_COL_SIZE, 100, LVCFMT_RIGHT},
      {IDS_COL_PACKED, 100, LVCFMT_RIGHT}, {IDS_COL_TYPE, 200, LVCFMT_LEFT},
      {IDS_COL_DATE, 130, LVCFMT_LEFT},
  };
  int col = 0;
  for (const auto& c : columns) InsertColumn(col++, LoadResString(c.title), c.fmt, c.width);

  m_bLoggedIn = !GetApp().m_strDisk.empty();
  ShowClock();
  SetTimer(kClockTimer, 300);
}

void CRovErarodView::Login() {
  CDiskLoginDlg dlg(::GetParent(m_hWnd));
  if (dlg.DoModal() != IDOK) return;
  CRovErarodApp& app = GetApp();
  app.m_strDisk = dlg.GetDisk();
  app.m_strPassword = dlg.GetPassword();
  m_bLoggedIn = true;
}

void CRovErarodView::Logout() {
  m_bLoggedIn = false;
  GetApp().m_strPassword.clear();
  m_nSortColumn = 0;
  DeleteAllItems();
  SetStatusPane(1, "");
}

void CRovErarodView::SetStatusPane(int pane, const std::string& text) {
  if (CMainFrame* frame = GetApp().GetMainFrame()) frame->GetStatusBar().SetPaneText(pane, text);
}

std::string CRovErarodView::FormatClock(const SYSTEMTIME& local) {
  std::tm tm{};
  tm.tm_year = local.wYear - 1900;
  tm.tm_mon = local.wMonth - 1;
  tm.tm_mday = local.wDay;
  tm.tm_hour = local.wHour;
  tm.tm_min = local.wMinute;
  tm.tm_sec = local.wSecond;
  // %p is spelled out here so that the C library's locale cannot change it.
  char date[64];
  std::strftime(date, sizeof(date), "%Y/%m/%d", &tm);
  int hour12 = local.wHour % 12 == 0 ? 12 : local.wHour % 12;
  std::string text = FormatString("%s %s %02d:%02d", date, local.wHour < 12 ? "AM" : "PM",
                                  hour12, local.wMinute);
  size_t at = text.find("PM");
  if (at != std::string::npos)
    text.replace(at, 2, LoadResString(IDS_PM));
  else if ((at = text.find("AM")) != std::string::npos)
    text.replace(at, 2, LoadResString(IDS_AM));
  return text;
}

void CRovErarodView::ShowClock() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  SetStatusPane(2, FormatClock(now));
}

LRESULT CRovErarodView::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      if (wp == kClockTimer) {
        ShowClock();
        return 0;
      }
      break;
    case WM_DESTROY:
      KillTimer(kClockTimer);
      if (m_hDevice != 0) m_device.UDLL_DestroyCUSBDevice(m_hDevice);
      m_hDevice = 0;
      m_device.Release();
      break;
    default:
      break;
  }
  return CListCtrl::WindowProc(msg, wp, lp);
}
