// The folder view: set-up, timers, login, rows, sorting, drawing, browsing
// commands, the toolbar, context menus and the vault binding services.  New
// folders, renames, deletes and the busy guard of long operations have files
// of their own (ViewNewFolder.cpp, ViewRename.cpp, ViewDelete.cpp,
// ViewLongOperation.cpp).
#include "browser/RovErarodView.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "browser/ProgressDlg.h"
#include "browser/ViewMessages.h"
#include "device/DiskLoginDlg.h"
#include "document/VaultRecovery.h"
#include "framework/Dpi.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "resources/resource.h"
#include "vault/VaultApi.h"

namespace {

const char kVaultFile[] = "\\diviz\\vfnest.vfo";

// Names in the user's locale without regard to case. Names that differ only
// in case are then ordered by case, so that ASCII names keep the order that
// the plain locale comparison gave them.
int CompareNames(const std::string& a, const std::string& b) {
  const std::wstring wa = fileio::Widen(a), wb = fileio::Widen(b);
  const int na = static_cast<int>(wa.size()), nb = static_cast<int>(wb.size());
  int r = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wa.data(), na, wb.data(), nb);
  if (r == CSTR_EQUAL) r = ::CompareStringW(LOCALE_USER_DEFAULT, 0, wa.data(), na, wb.data(), nb);
  if (r == 0) return wa.compare(wb) < 0 ? -1 : wa.compare(wb) > 0 ? 1 : 0;  // cannot fail, but
  return r - CSTR_EQUAL;
}

std::string UpperAscii(const std::string& s) { return UpperCaseName(s); }

}  // namespace

CRovErarodView::CRovErarodView(CRovErarodDoc* doc) : m_pDoc(doc) {
  OnCommand(ID_LOGIN, [this] { OnLoginCommand(); });
  OnUpdate(ID_LOGIN, [this](CCmdUI& ui) {
    ui.SetText(LoadResString(m_bLoggedIn ? IDS_LOGOUT : IDS_LOGIN));
    ui.Enable(m_bLoggedIn || m_device.UDLL_DeviceExist(m_hDevice) > 0);
  });
  OnCommand(ID_CHANGE_PASSWORD, [this] { OnChangePassword(); });
  OnUpdate(ID_CHANGE_PASSWORD, [this](CCmdUI& ui) { ui.Enable(m_bLoggedIn); });

  OnCommand(ID_UP_FOLDER, [this] { OnUp(); });
  OnUpdate(ID_UP_FOLDER, [this](CCmdUI& ui) { ui.Enable(m_bLoggedIn && !m_model.AtRoot()); });
  OnCommand(ID_NEW_FOLDER, [this] { OnNewFolder(); });
  OnUpdate(ID_NEW_FOLDER, [this](CCmdUI& ui) {
    ui.Enable(m_bLoggedIn && m_hWnd && GetSelectedCount() == 0);
  });
  OnCommand(ID_DELETE_FILE, [this] { OnDelete(); });
  OnUpdate(ID_DELETE_FILE, [this](CCmdUI& ui) {
    ui.Enable(m_bLoggedIn && m_hWnd && GetSelectedCount() > 0 && !m_bNewFolderPending);
  });
  OnCommand(ID_RENAME, [this] { OnRename(); });
  OnUpdate(ID_RENAME, [this](CCmdUI& ui) {
    ui.Enable(m_bLoggedIn && m_hWnd && GetSelectedCount() == 1 && !m_bNewFolderPending);
  });
  OnCommand(ID_SELECT_ALL, [this] { OnSelectAll(); });
  OnUpdate(ID_SELECT_ALL, [this](CCmdUI& ui) { ui.Enable(m_bLoggedIn); });
  InitTransfersOut();  // Copy and Cut; copies a previous run left are removed
  RegisterTransferCommands();  // Paste and the clipboard watch
  m_order.compareText = &CompareNames;
  m_order.typeName = [this](const VaultEntry& e) -> std::string {
    std::string ext = UpperAscii(ExtensionOf(LastComponent(e.path)));
    for (const IconRecord& r : m_iconCache)
      if (r.extension == ext) return r.typeName;
    return std::string();
  };
}

CRovErarodView::~CRovErarodView() { ShutDownTransfersOut(); }  // watchers, copies, clipboard

bool CRovErarodView::CreateView(HWND frame, CViewHost* host) {
  m_pHost = host;
  RECT rc{0, 0, 0, 0};
  // The view destroys its own image lists; the control must not (shared).
  return Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA |
                    LVS_SHAREIMAGELISTS, rc, frame, 0xE900 /* first pane of the frame */);
}

// --- Set-up and timers.

void CRovErarodView::OnInitialUpdate() {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (::GetVersionExW(&v))
    m_bWin2000 = v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion == 5 &&
                 v.dwMinorVersion == 0;
#pragma GCC diagnostic pop
  m_hDevice = m_device.UDLL_CreateCUSBDevice();

  m_texts.bytes = LoadResString(IDS_BYTES);
  m_texts.am = LoadResString(IDS_AM);
  m_texts.pm = LoadResString(IDS_PM);
  m_texts.folder = LoadResString(IDS_FOLDER);
  m_texts.freeSpace = LoadResString(IDS_FREE_SPACE);
  SetVaultHooks();
  SetVaultMessagePump(&HbPumpMessages);

  const std::string& disk = m_pHost->LoginDisk();
  if (disk.empty()) {
    m_model.SetVaultPath(std::string());
    m_bLoggedIn = false;
    AcceptDrops(false);
    ::EnableWindow(m_hWnd, FALSE);
  } else {
    m_bLoggedIn = true;
    AcceptDrops(true);
    BindVaultPath(disk);
    ShowFreeSpace();
  }

  UpdateToolbar();
  wchar_t temp[MAX_PATH + 1] = {0};
  DWORD n = ::GetTempPathW(MAX_PATH, temp);
  m_strTempFolder = (n > 0 && n <= MAX_PATH) ? fileio::Narrow(std::wstring(temp, n)) : std::string();
  m_titleTip.Create(m_hWnd);
  SetUpList();
  RecoverVault();
  ShowClock();
  SetTimer(kLoadTimer, kTimerMs);
  SetTimer(kWatchTimer, kTimerMs);
}

void CRovErarodView::SetUpList() {
  if (HFONT font = HbGetApp() ? HbGetApp()->GetDialogFont() : nullptr) SetFont(font);
  ModifyStyle(LVS_TYPEMASK, LVS_REPORT | LVS_SHOWSELALWAYS | LVS_EDITLABELS);

  const UINT dpi = HbGetWindowDpi(m_hWnd);
  const int icon = HbScale(16, dpi);
  m_imagesSmall.Reset(::ImageList_Create(icon, icon, ILC_COLORDDB, 1, 1));
  if (m_imagesSmall.IsValid()) {
    HICON folder = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                   MAKEINTRESOURCEW(IDI_FOLDER), IMAGE_ICON, icon,
                                                   icon, LR_DEFAULTCOLOR));
    if (folder) {
      ::ImageList_AddIcon(m_imagesSmall, folder);
      ::DestroyIcon(folder);
    }
    SetImageList(m_imagesSmall, LVSIL_SMALL);
  }

  if (GetColumnCount() == 0) {
    const struct { UINT title; int width; int fmt; } columns[] = {
        {IDS_COL_NAME, 200, LVCFMT_LEFT},    {IDS_COL_SIZE, 100, LVCFMT_RIGHT},
        {IDS_COL_PACKED, 100, LVCFMT_RIGHT}, {IDS_COL_TYPE, 200, LVCFMT_LEFT},
        {IDS_COL_DATE, 130, LVCFMT_LEFT},
    };
    int col = 0;
    for (const auto& c : columns)
      InsertColumn(col++, LoadResString(c.title), c.fmt, HbScale(c.width, dpi));
    // 130 pixels cut the date off with wider fonts and day-half words: the
    // Date column is at least as wide as the widest date text.
    SYSTEMTIME widest{};
    widest.wYear = 2000; widest.wMonth = 12; widest.wDay = 28; widest.wHour = 20;
    widest.wMinute = 58;
    std::wstring sample = fileio::Widen(FormatClock(widest));
    int textWidth = static_cast<int>(
        SendMessage(LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(sample.c_str())));
    const int dateWidth = textWidth + HbScale(16, dpi);
    if (dateWidth > HbScale(130, dpi)) SendMessage(LVM_SETCOLUMNWIDTH, 4, MAKELPARAM(dateWidth, 0));
  }

  HBITMAP arrows = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                     MAKEINTRESOURCEW(IDB_SORT_ARROWS),
                                                     IMAGE_BITMAP, 0, 0, 0));
  if (arrows) {
    m_imagesHeader.Reset(::ImageList_Create(12, 16, ILC_COLORDDB | ILC_MASK, 2, 1));
    if (m_imagesHeader.IsValid()) {
      ::ImageList_AddMasked(m_imagesHeader, arrows, RGB(255, 255, 255));
      ::SendMessageW(GetHeader(), HDM_SETIMAGELIST, 0,
                     reinterpret_cast<LPARAM>(m_imagesHeader.Get()));
    }
    ::DeleteObject(arrows);
  }
  if (m_bLoggedIn) SetSortArrow(m_order.column, true);
}

void CRovErarodView::OnWatchTimer() {
  // The vault is gone (disk pulled, file deleted, or logged out): empty list.
  if (m_model.EntryCount() > 0 && !m_model.VaultFileExists()) {
    m_model.ClearCurrentFolder();
    ClearRows();
    m_model.FreeEntries();
    RebuildRows();
    UpdateToolbar();
  }
  if (m_bResortPending && !m_bNewFolderPending && !IsRenameInProgress()) {
    m_bResortPending = false;
    SortRows();
    UpdateToolbar();
  }
  ShowClock();
}

std::string CRovErarodView::FormatClock(const SYSTEMTIME& local) {
  std::tm tm{};
  tm.tm_year = local.wYear - 1900;
  tm.tm_mon = local.wMonth - 1;
  tm.tm_mday = local.wDay;
  // %p and %I are spelled out here so that the C library's locale cannot
  // change them.
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

void CRovErarodView::SetStatusPane(int pane, const std::string& text) {
  m_pHost->SetStatusText(pane, text);
}

// --- Login and logout.

void CRovErarodView::BindVaultPath(const std::string& disk) {
  std::string path = FormatString("%s%s", disk.c_str(), kVaultFile);
  m_model.SetVaultPath(path);
  CreateFolderChain(path, false);
}

void CRovErarodView::OnLoginCommand() {
  if (m_bLoggedIn) {
    // Changed copies of opened files are asked about first; Cancel stays.
    if (SettleOpenedCopies(true)) Logout();
    return;
  }
  CDiskLoginDlg dlg(FrameWindow());
  if (dlg.DoModal() != IDOK) return;
  LoginTo(dlg.GetDisk(), dlg.GetPassword());
}

void CRovErarodView::LoginTo(const std::string& disk, const std::string& password) {
  HCURSOR old = ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514) /* IDC_WAIT */));
  m_pHost->LoginDisk() = disk;
  m_pHost->LoginPassword() = password;
  BindVaultPath(disk);
  m_bLoggedIn = true;
  AcceptDrops(true);
  RecoverVault();
  LoadVaultList();
  UpdateToolbar();
  ShowFreeSpace();
  ::EnableWindow(m_hWnd, TRUE);
  SetSortArrow(m_order.column, true);
  ::SetCursor(old);
}

void CRovErarodView::Logout() {
  // Opened copies belong to this login: none outlives it unanswered.
  SettleOpenedCopies(false);
  m_model.SetVaultPath(std::string());
  m_pHost->LoginPassword().clear();
  m_bLoggedIn = false;
  AcceptDrops(false);
  UpdateToolbar();
  SetStatusPane(1, std::string());
  ::EnableWindow(m_hWnd, FALSE);
  SetSortArrow(m_order.column, false);
  m_order.column = 0;
  // The rows go at the next tick of the watch timer: the vault path is empty.
}

// --- Rows.

void CRovErarodView::ClearRows() {
  DeleteAllItems();  // also forgets the selection
  m_rows.clear();
  m_bNewFolderPending = false;
}

void CRovErarodView::SyncItemCount() {
  SendMessage(LVM_SETITEMCOUNT, m_rows.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  Invalidate();
}

void CRovErarodView::OnGetDispInfo(LVITEMW* item) {
  if (item->iItem < 0 || static_cast<size_t>(item->iItem) >= m_rows.size()) return;
  const ListRow& row = m_rows[static_cast<size_t>(item->iItem)];
  if ((item->mask & LVIF_TEXT) && item->pszText && item->cchTextMax > 0) {
    const std::string& text =
        item->iSubItem >= 0 && item->iSubItem < 5 ? row.cells[item->iSubItem] : std::string();
    lstrcpynW(item->pszText, fileio::Widen(text).c_str(), item->cchTextMax);
  }
  if (item->mask & LVIF_IMAGE) item->iImage = row.image;
  if (item->mask & LVIF_PARAM) item->lParam = reinterpret_cast<LPARAM>(row.entry);
}

bool CRovErarodView::LoadVaultList() {
  if (!m_model.LoadVaultList()) return false;
  RebuildRows();
  return true;
}

void CRovErarodView::ShowFolder(const std::string& name) {
  m_model.EnterFolder(name);
  RebuildRows();
}

// With HB_VIEW_TIMING set, each rebuild prints where its time went to
// standard error (for measurements; hb-view-timing shows it).
void CRovErarodView::RebuildRows() {
  LARGE_INTEGER t[5];
  ::QueryPerformanceCounter(&t[0]);
  SendMessage(WM_SETREDRAW, FALSE);
  ClearRows();
  ::QueryPerformanceCounter(&t[1]);
  std::vector<Row> rows = m_model.BuildRows();
  ::QueryPerformanceCounter(&t[2]);
  m_rows.reserve(rows.size());
  for (const Row& row : rows) InsertRow(row);
  ::QueryPerformanceCounter(&t[3]);
  SortRows();
  ::QueryPerformanceCounter(&t[4]);
  SendMessage(WM_SETREDRAW, TRUE);
  SyncItemCount();
  if (::GetEnvironmentVariableW(L"HB_VIEW_TIMING", nullptr, 0)) {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    auto ms = [&](int a, int b) { return 1000.0 * (t[b].QuadPart - t[a].QuadPart) / f.QuadPart; };
    std::fprintf(stderr, "rows %zu: clear %.1f, model %.1f, insert %.1f, sort %.1f ms\n",
                 rows.size(), ms(0, 1), ms(1, 2), ms(2, 3), ms(3, 4));
  }
}

std::string CRovErarodView::DateCell(FileTime utc) const {
  FILETIME u, local;
  u.dwLowDateTime = static_cast<DWORD>(utc);
  u.dwHighDateTime = static_cast<DWORD>(utc >> 32);
  if (!::FileTimeToLocalFileTime(&u, &local)) return std::string();
  FileTime l = (static_cast<FileTime>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
  return FormatListDate(l, m_texts);
}

int CRovErarodView::InsertRow(const Row& row) {
  const VaultEntry* e = row.entry;
  std::string typeName;
  int image = 0;
  if (row.isFolder)
    typeName = m_texts.folder;
  else
    image = LookupType(row.displayName, &typeName);
  ListRow r;
  r.cells[0] = row.displayName;
  r.image = image;
  r.entry = row.entry;
  if (e) {
    r.cells[1] = FormatSizeCell(e->size, m_texts);
    r.cells[2] = FormatSizeCell(e->packedSize, m_texts);
    r.cells[3] = typeName;
    if (!e->implied) r.cells[4] = DateCell(e->modified);
  }
  m_rows.push_back(std::move(r));
  return static_cast<int>(m_rows.size()) - 1;
}

int CRovErarodView::LookupType(const std::string& fileName, std::string* typeName) {
  std::string ext = ExtensionOf(fileName);
  std::string upper = UpperAscii(ext);
  for (const IconRecord& r : m_iconCache) {
    if (r.extension == upper) {
      if (typeName) *typeName = r.typeName;
      return r.image;
    }
  }
  SHFILEINFOW info{};
  std::wstring probe = fileio::Widen("." + ext);
  ::SHGetFileInfoW(probe.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                   SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME | SHGFI_ICON | SHGFI_SMALLICON);
  const std::string shellType = fileio::Narrow(info.szTypeName);
  if (typeName) *typeName = shellType;
  if (!info.hIcon) return I_IMAGENONE;  // never 0: that is the folder image
  int image = -1;
  if (m_imagesSmall.IsValid()) image = ::ImageList_AddIcon(m_imagesSmall, info.hIcon);
  ::DestroyIcon(info.hIcon);
  if (image < 0) return I_IMAGENONE;
  m_iconCache.push_back(IconRecord{upper, shellType, image});
  return image;
}

void CRovErarodView::SortRows() {
  if (m_rows.empty()) return;
  // The control keeps the selection by index: carry it over by row.
  std::vector<bool> selected(m_rows.size(), false);
  bool any = false;
  for (int i = -1; (i = static_cast<int>(SendMessage(LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0;) {
    if (static_cast<size_t>(i) < selected.size()) selected[static_cast<size_t>(i)] = any = true;
  }
  std::vector<size_t> order(m_rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  // A named folder row whose vault write failed has no entry: it sorts as
  // a folder without name.
  VaultEntry none;
  none.attributes = kEntryFolder;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const VaultEntry* ea = m_rows[a].entry;
    const VaultEntry* eb = m_rows[b].entry;
    return CompareEntries(ea ? *ea : none, eb ? *eb : none, m_order) < 0;
  });
  std::vector<ListRow> sorted;
  sorted.reserve(m_rows.size());
  for (size_t i : order) sorted.push_back(std::move(m_rows[i]));
  m_rows.swap(sorted);
  if (any) {
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    LVITEMW on{};
    on.stateMask = LVIS_SELECTED;
    on.state = LVIS_SELECTED;
    for (size_t n = 0; n < order.size(); ++n)
      if (selected[order[n]]) SendMessage(LVM_SETITEMSTATE, n, reinterpret_cast<LPARAM>(&on));
  }
  Invalidate();
}

void CRovErarodView::SetSortArrow(int column, bool show) {
  HWND header = GetHeader();
  if (!header) return;
  HDITEMW item{};
  item.mask = HDI_FORMAT;
  if (!::SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item))) return;
  item.mask = HDI_FORMAT | HDI_IMAGE;
  item.fmt |= HDF_BITMAP_ON_RIGHT;
  if (show) {
    item.fmt |= HDF_IMAGE;
    item.iImage = m_order.ascending ? 0 : 1;
  } else {
    item.fmt &= ~HDF_IMAGE;
    item.iImage = 0;
  }
  ::SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item));
}

void CRovErarodView::OnColumnClick(int column) {
  // A new folder's row stays where its name is being edited.
  if (!m_bLoggedIn || m_bNewFolderPending || column < 0 || column > 4) return;
  m_order.ascending = !(column == m_order.column && m_order.ascending);
  SetSortArrow(m_order.column, false);
  m_order.column = column;
  SortRows();
  SetSortArrow(column, true);
}

bool CRovErarodView::IsFolderRow(int row) const { return GetRowImage(row) == 0; }

int CRovErarodView::GetRowImage(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return -1;
  return m_rows[static_cast<size_t>(row)].image;
}

VaultEntry* CRovErarodView::GetRowEntry(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return nullptr;
  return m_rows[static_cast<size_t>(row)].entry;
}

std::string CRovErarodView::GetRowText(int row, int column) const {
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || column < 0 || column > 4)
    return std::string();
  return m_rows[static_cast<size_t>(row)].cells[column];
}

// --- Drawing.

// Each notification goes through the frame and costs about 0.15 ms under
// Wine (window property look-ups are server calls), so the list is asked for
// one per row, not one per cell.  A row that is not selected gets its Name cell's
// background painted here, and its texts drawn without a background over
// it and over the list's white: the same pixels as a per-cell text
// background.  A selected row keeps the per-cell colours, so that the
// control's selection colours mix with them as they always did.
LRESULT CRovErarodView::OnCustomDraw(NMLVCUSTOMDRAW* cd) {
  switch (cd->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      if (cd->nmcd.uItemState & (CDIS_SELECTED | CDIS_FOCUS)) return CDRF_NOTIFYSUBITEMDRAW;
      // The control fills its icon and label boxes with the text background.
      int item = static_cast<int>(cd->nmcd.dwItemSpec);
      RECT icon{LVIR_ICON, 0, 0, 0}, label{LVIR_LABEL, 0, 0, 0};
      COLORREF old = ::SetBkColor(cd->nmcd.hdc, m_clrNameColumn);
      if (SendMessage(LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&icon)))
        ::ExtTextOutW(cd->nmcd.hdc, 0, 0, ETO_OPAQUE, &icon, nullptr, 0, nullptr);
      if (SendMessage(LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&label)))
        ::ExtTextOutW(cd->nmcd.hdc, 0, 0, ETO_OPAQUE, &label, nullptr, 0, nullptr);
      ::SetBkColor(cd->nmcd.hdc, old);
      cd->clrText = RGB(0, 0, 0);
      cd->clrTextBk = CLR_NONE;
      return CDRF_DODEFAULT;
    }
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
      cd->clrText = RGB(0, 0, 0);
      cd->clrTextBk = cd->iSubItem == 0 ? m_clrNameColumn : m_clrOtherColumns;
      return CDRF_DODEFAULT;
    default:
      return CDRF_DODEFAULT;
  }
}

BOOL CRovErarodView::OnEraseBackground(HDC dc) {
  RECT rc = GetClientRect();
  int nameWidth = static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, 0));
  RECT left = rc, right = rc;
  left.right = rc.left + nameWidth < rc.right ? rc.left + nameWidth : rc.right;
  right.left = left.right;
  HBRUSH name = ::CreateSolidBrush(m_clrNameColumn);
  HBRUSH other = ::CreateSolidBrush(m_clrOtherColumns);
  ::FillRect(dc, &left, name);
  ::FillRect(dc, &right, other);
  ::DeleteObject(name);
  ::DeleteObject(other);
  return FALSE;
}

// --- Commands.

void CRovErarodView::OnOpenSelection() {
  for (int row = -1;
       (row = static_cast<int>(SendMessage(LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0;) {
    if (IsFolderRow(row)) {
      ShowFolder(GetRowText(row, 0));
      UpdateToolbar();
      return;  // the rebuilt list has no selection
    }
    OpenFileRow(row);  // a read-only copy opened with its program
  }
}

void CRovErarodView::OnUp() {
  if (m_model.AtRoot()) return;
  m_model.Up();
  RebuildRows();
  UpdateToolbar();
}

void CRovErarodView::OnSelectAll() {
  if (!m_bLoggedIn) return;
  LVITEMW it{};
  it.stateMask = LVIS_SELECTED;
  it.state = LVIS_SELECTED;
  SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&it));
  UpdateToolbar();
}

int CRovErarodView::CollectSelection() {
  m_model.ClearMarks();
  m_selection.clear();
  int count = 0;
  for (int row = -1;
       (row = static_cast<int>(SendMessage(LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0;) {
    ++count;
    std::string path = m_model.CurrentFolder() + GetRowText(row, 0);
    bool folder = IsFolderRow(row);
    m_model.MarkEntry(path, folder ? kEntryFolder : 0, std::string());
    if (folder) path += '\\';
    m_selection.push_back(path);
  }
  return count;
}

void CRovErarodView::UpdateToolbar() { m_pHost->RefreshToolbar(); }

bool CRovErarodView::GetToolbarButtonShown(UINT id, bool* shown) const {
  bool selected = m_bLoggedIn && m_hWnd && GetSelectedCount() > 0;
  switch (id) {
    case ID_UP_FOLDER: *shown = m_bLoggedIn && !m_model.AtRoot(); return true;
    case ID_EDIT_COPY:
    case ID_EDIT_CUT:
    case ID_DELETE_FILE: *shown = selected; return true;
    case ID_NEW_FOLDER: *shown = m_bLoggedIn && !selected; return true;
    case ID_EDIT_PASTE: *shown = m_bLoggedIn && !selected && CanPaste(); return true;
    default: return false;
  }
}

HMENU CRovErarodView::PrepareContextMenu(CMenu* menu) const {
  if (!m_bLoggedIn) return nullptr;
  menu->Reset(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_CONTEXT_MENU)));
  if (!menu->IsValid()) return nullptr;
  bool selection = GetSelectedCount() > 0;
  HMENU popup = ::GetSubMenu(*menu, selection ? 0 : 1);
  if (popup && !selection && !CanPaste()) {
    // New Folder, separator, Paste: keep New Folder only.
    ::DeleteMenu(popup, ID_EDIT_PASTE, MF_BYCOMMAND);
    int n = ::GetMenuItemCount(popup);
    if (n > 0 && (::GetMenuState(popup, static_cast<UINT>(n - 1), MF_BYPOSITION) & MF_SEPARATOR))
      ::DeleteMenu(popup, static_cast<UINT>(n - 1), MF_BYPOSITION);
  }
  return popup;
}

void CRovErarodView::OnContextMenu(POINT screen) {
  CMenu menu;
  HMENU popup = PrepareContextMenu(&menu);
  if (!popup) return;
  if (screen.x == -1 && screen.y == -1) ::GetCursorPos(&screen);
  HWND owner = FrameWindow();
  ::SetForegroundWindow(owner);
  // The frame owns the menu: its items get their state from the command
  // handlers and their commands come back through the frame to this view.
  ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, owner, nullptr);
}

// --- Vault binding services.

int CRovErarodView::ShowMessage(const std::string& name, UINT captionId, UINT textId, UINT style,
                                bool useName) {
  std::string text = LoadResString(textId);
  if (useName) {
    std::string shortName = LastComponent(name);
    // The table's text is trusted as a format with one %s; the name is not.
    text = FormatString(text.c_str(), shortName.c_str());
  }
  HWND owner = FrameWindow();
  return HbMessageBox(owner, text, LoadResString(captionId), style);
}

// --- Messages.

bool CRovErarodView::OnReflect(UINT msg, WPARAM, LPARAM lp, LRESULT* result) {
  if (msg != WM_NOTIFY) return false;
  auto* hdr = reinterpret_cast<NMHDR*>(lp);
  if (FilterNotifyWhileBusy(hdr->code, result)) return true;
  switch (hdr->code) {
    case LVN_COLUMNCLICK:
      OnColumnClick(reinterpret_cast<NMLISTVIEW*>(lp)->iSubItem);
      *result = 0;
      return true;
    case NM_CUSTOMDRAW:
      *result = OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(lp));
      return true;
    case NM_CLICK:
      m_titleTip.NoteClick();
      UpdateToolbar();
      *result = 0;
      return true;
    case NM_DBLCLK:
      m_titleTip.NoteClick();
      OnOpenSelection();
      *result = 0;
      return true;
    case LVN_BEGINDRAG: OnBeginDrag(); *result = 0; return true;
    case LVN_ITEMCHANGED: {
      auto* nm = reinterpret_cast<NMLISTVIEW*>(lp);
      if ((nm->uChanged & LVIF_STATE) &&
          ((nm->uOldState ^ nm->uNewState) & LVIS_SELECTED) && !m_bToolbarUpdatePosted) {
        m_bToolbarUpdatePosted = true;
        PostMessage(WM_HB_SELECTION_CHANGED);
      }
      *result = 0;
      return true;
    }
    case LVN_GETDISPINFOW:  // a Unicode list under a Unicode parent asks only this way
      OnGetDispInfo(&reinterpret_cast<NMLVDISPINFOW*>(lp)->item);
      *result = 0;
      return true;
    case LVN_ODSTATECHANGED:
      if (!m_bToolbarUpdatePosted) {
        m_bToolbarUpdatePosted = true;
        PostMessage(WM_HB_SELECTION_CHANGED);
      }
      *result = 0;
      return true;
    case LVN_BEGINLABELEDITW:  // TRUE refuses the edit
      *result = OnBeginLabelEdit(reinterpret_cast<NMLVDISPINFOW*>(lp)->item.iItem) ? FALSE : TRUE;
      return true;
    case LVN_ENDLABELEDITW: {
      const wchar_t* w = reinterpret_cast<NMLVDISPINFOW*>(lp)->item.pszText;
      if (!w) {
        OnEndLabelEdit(nullptr);
      } else {
        const std::string text = fileio::Narrow(w);
        OnEndLabelEdit(text.c_str());
      }
      *result = FALSE;  // the rows take the name once the vault has it
      return true;
    }
    default:
      return false;
  }
}

LRESULT CRovErarodView::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT filtered = 0;
  if (FilterWhileBusy(msg, wp, lp, &filtered) || OnTransferMessage(msg, wp, lp, &filtered))
    return filtered;
  if (msg == WM_LBUTTONDOWN && m_titleTip.CompletesDoubleClick(m_hWnd, lp, ::GetMessageTime()))
    msg = WM_LBUTTONDBLCLK;
  switch (msg) {
    case WM_TIMER:
      if (wp == kLoadTimer) {
        KillTimer(kLoadTimer);
        LoadVaultList();
        OnWatchTimer();
        return 0;
      }
      if (wp == kWatchTimer) {
        OnWatchTimer();
        return 0;
      }
      if (wp == kCopyTimer) {
        CheckOpenedCopies();
        return 0;
      }
      break;
    case WM_HB_COPY_EVENT:
      OnCopyEvent(static_cast<UINT>(wp), lp != 0);
      return 0;
    case WM_ERASEBKGND:
      return OnEraseBackground(reinterpret_cast<HDC>(wp));
    case WM_MOUSEMOVE:
      OnListMouseMove(wp, POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
      break;
    case WM_CONTEXTMENU:
      OnContextMenu(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
      return 0;
    case WM_HB_NEW_FOLDER_DONE:
      FinishNewFolder();
      return 0;
    case WM_HB_RENAME_DONE:
      FinishRename();
      return 0;
    case WM_HB_SELECTION_CHANGED:
      m_bToolbarUpdatePosted = false;
      UpdateToolbar();
      return 0;
    case WM_DESTROY:
      KillTimer(kLoadTimer);
      KillTimer(kWatchTimer);
      KillTimer(kCopyTimer);
      SetVaultMessagePump(nullptr);
      // The rows point into the entry list: they go first.
      ClearRows();
      m_model.FreeEntries();
      if (m_hDevice != 0) m_device.UDLL_DestroyCUSBDevice(m_hDevice);
      m_hDevice = 0;
      m_device.Release();
      break;
    default:
      break;
  }
  return CListCtrl::WindowProc(msg, wp, lp);
}
