// Transfers into the vault: shell drops, Paste, the clipboard watch that
// keeps the Paste command and the transfer mode up to date, and the transfer
// routine that brackets an add batch (progress dialog, write protection,
// recovery, rows, free space), whose bracket a put-back shares.
#include <windows.h>
#include <shellapi.h>

#include "browser/ProgressDlg.h"
#include "browser/ReplaceConfirmDlg.h"
#include "browser/RovErarodView.h"
#include "document/AddBatch.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "vault/VaultApi.h"
#include "resources/resource.h"

namespace {

const DWORD kDropEffectMove = 2;  // DROPEFFECT_MOVE

// Every path of a shell file list, at its full length, read as wide text
// (whichever form the list holds) and given back in UTF-8.
std::vector<std::string> DropPaths(HDROP drop) {
  std::vector<std::string> paths;
  if (!drop) return paths;
  UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    if (length == 0) continue;
    std::wstring path(length + 1, L'\0');
    if (::DragQueryFileW(drop, i, &path[0], length + 1) == 0) continue;
    path.resize(length);
    paths.push_back(fileio::Narrow(path));
  }
  return paths;
}

// Volume serial number and file index: the same pair is the same file,
// whatever the path says.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = ::CreateFileW(fileio::Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = ::GetFileInformationByHandle(h, info) != 0;
  ::CloseHandle(h);
  return ok;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  if (FileIdentity(a, &x) && FileIdentity(b, &y))
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
  return ::lstrcmpiW(fileio::Widen(a).c_str(), fileio::Widen(b).c_str()) == 0;
}

std::string ModulePath() {
  wchar_t path[MAX_PATH + 1] = {0};
  DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return (n > 0 && n <= MAX_PATH) ? fileio::Narrow(std::wstring(path, n)) : std::string();
}

// One line per source a batch left out: its path and why.
std::string SkippedList(const std::vector<SkippedSource>& skipped) {
  const size_t kMaxLines = 20;  // a box taller than the screen helps nobody
  std::string list;
  for (size_t i = 0; i < skipped.size() && i < kMaxLines; ++i) {
    const SkippedSource& s = skipped[i];
    UINT why = s.reason == SkipReason::NameLength  ? IDS_SKIP_NAME_LENGTH
               : s.reason == SkipReason::FileSize  ? IDS_SKIP_FILE_SIZE
               : s.reason == SkipReason::NotOpened ? IDS_SKIP_NOT_OPENED
                                                   : IDS_SKIP_NOT_FOUND;
    if (i > 0) list += "\n";
    list += s.path + "  (" + LoadResString(why) + ")";
  }
  if (skipped.size() > kMaxLines) list += FormatString("\n... (+%zu)", skipped.size() - kMaxLines);
  return list;
}

// The writer asks for the messages to be pumped before every write, and the
// batch before every file: for a batch of small files that is thousands of
// calls a second, each a trip to the window system. Every 15 ms keeps the
// window just as responsive.
DWORD g_lastPump = 0;
void PumpNowAndThen() {
  DWORD now = ::GetTickCount();
  if (now - g_lastPump < 15) return;
  g_lastPump = now;
  HbPumpMessages();
}

}  // namespace

void CRovErarodView::RegisterTransferCommands() {
  OnCommand(ID_EDIT_PASTE, [this] { OnPaste(); });
}

bool CRovErarodView::OnTransferMessage(UINT msg, WPARAM wp, LPARAM, LRESULT* result) {
  switch (msg) {
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wp));
      *result = 0;
      return true;
    case WM_CLIPBOARDUPDATE:
      OnClipboardChanged();
      return false;  // and on to the default processing
    case WM_DESTROY:
      if (m_bClipboardListener) ::RemoveClipboardFormatListener(m_hWnd);
      m_bClipboardListener = false;
      return false;
    default:
      return false;
  }
}

void CRovErarodView::AcceptDrops(bool accept) {
  if (!m_hWnd) return;
  if (!m_bClipboardListener) {
    m_bClipboardListener = ::AddClipboardFormatListener(m_hWnd) != 0;
  }
  ::DragAcceptFiles(m_hWnd, accept ? TRUE : FALSE);
  m_bAcceptingDrops = accept;
  if (accept) OnClipboardChanged();
}

bool CRovErarodView::CanPaste() const {
  HWND owner = ::GetClipboardOwner();
  return owner && owner != m_hWnd && !ClipboardHoldsOwnObject() &&
         ::IsClipboardFormatAvailable(CF_HDROP);
}

void CRovErarodView::OnClipboardChanged() {
  if (!m_bLoggedIn) return;
  m_dwTransferMode = 0;
  if (CanPaste() && ::OpenClipboard(m_hWnd)) {
    UINT format = ::RegisterClipboardFormatW(L"Preferred DropEffect");
    if (HANDLE data = ::GetClipboardData(format)) {
      if (::GlobalSize(data) >= sizeof(DWORD)) {
        if (const DWORD* effect = static_cast<const DWORD*>(::GlobalLock(data))) {
          m_dwTransferMode = *effect;
          ::GlobalUnlock(data);
        }
      }
    }
    ::CloseClipboard();
  }
  UpdateToolbar();
}

void CRovErarodView::OnDropFiles(HDROP drop) {
  std::vector<std::string> paths = DropPaths(drop);
  ::DragFinish(drop);
  if (!m_bLoggedIn || !m_bAcceptingDrops || IsBusy()) return;
  // A drop is always a copy, whatever a shell Cut left on the clipboard.
  TransferFiles(paths, false);
}

void CRovErarodView::OnPaste() {
  if (IsBusy() || !::IsClipboardFormatAvailable(CF_HDROP)) return;
  // The list is copied out so that the clipboard is not held open (and
  // every other program kept from it) for the whole transfer.
  if (!::OpenClipboard(m_hWnd)) return;
  std::vector<std::string> paths = DropPaths(static_cast<HDROP>(::GetClipboardData(CF_HDROP)));
  DWORD sequence = ::GetClipboardSequenceNumber();
  ::CloseClipboard();
  const bool move = m_dwTransferMode == kDropEffectMove;
  TransferFiles(paths, move);
  // After a move the files are gone from where the clipboard says they
  // are; unless something new came meanwhile, it is emptied.
  if (move && ::OpenClipboard(m_hWnd)) {
    if (::GetClipboardSequenceNumber() == sequence) ::EmptyClipboard();
    ::CloseClipboard();
  }
}

AddBatchHooks CRovErarodView::BatchHooks() {
  AddBatchHooks hooks;
  hooks.askReplace = [this](const std::string& stored) { return AskReplace(stored); };
  hooks.freeSpace = [this](uint64_t* freeBytes) {
    // The volume is the vault path up to its first '\'.
    const std::string& vault = m_model.VaultPath();
    std::string root = vault.substr(0, vault.find('\\')) + "\\";
    ULARGE_INTEGER forCaller{}, total{}, totalFree{};
    if (!::GetDiskFreeSpaceExW(fileio::Widen(root).c_str(), &forCaller, &total, &totalFree)) return false;
    *freeBytes = forCaller.QuadPart;
    return true;
  };
  hooks.diskFull = [this] {
    ShowMessage(std::string(), IDS_ERROR_CAPTION, IDS_DISK_FULL, MB_ICONHAND, false);
  };
  hooks.loggedIn = [this] { return m_bLoggedIn; };
  hooks.disableCancel = [this] {
    if (m_progress) m_progress->DisableCancel();
  };
  hooks.hideProgress = [this] {
    if (m_progress) m_progress->ShowWindow(SW_HIDE);
  };
  hooks.sameFile = &SameFile;
  return hooks;
}

void CRovErarodView::RunAddWrite(const std::function<void()>& write) {
  const VaultHooks viewHooks = m_model.Hooks();
  VaultHooks transferHooks = viewHooks;
  transferHooks.pumpMessages = &PumpNowAndThen;
  transferHooks.sourceNotOpened = nullptr;  // in the one list at the end
  // A batch of small files stores hundreds of files a second, more than an
  // eye can follow and more than the window system can paint: the lines
  // show the file at hand every 15 ms (and at once after the replace
  // question hid the dialog). Files that take longer each show on their own.
  DWORD lastShown = 0;
  transferHooks.progressText = [this, &lastShown](const std::string& path, int messageId,
                                                  const std::string& secondPath) {
    if (!m_progress || !m_progress->m_hWnd) return;
    DWORD now = ::GetTickCount();
    if (::IsWindowVisible(m_progress->m_hWnd) && now - lastShown < 15) return;
    lastShown = now;
    m_progress->SetText(path, static_cast<UINT>(messageId), secondPath);
  };
  m_model.SetHooks(transferHooks);
  SetVaultMessagePump(&PumpNowAndThen);
  {
    CVaultModel::WriteBatch protection(m_model);  // lifted now, put back at the end
    RecoverVault();
    write();
  }
  SetVaultMessagePump(&HbPumpMessages);
  m_model.SetHooks(viewHooks);
}

void CRovErarodView::TransferFiles(const std::vector<std::string>& paths, bool move) {
  if (IsBusy()) return;
  CBusyScope busy(*this);
  HWND frame = FrameWindow();
  ::SetForegroundWindow(frame);

  ResetReplaceDecision();
  BeginProgress(IDS_ADD_FILE);

  AddBatchHooks hooks = BatchHooks();
  // Only the vault's own limits stop a batch (and are said at once); a file
  // that alone breaks one is in the list of skipped files at the end.
  hooks.limitReached = [this](const std::string& source, AddLimit limit) {
    UINT text = limit == AddLimit::NameLength ? IDS_LIMIT_NAME
                : limit == AddLimit::FileSize ? IDS_LIMIT_FILE
                                              : IDS_LIMIT_VAULT;
    ShowMessage(source, IDS_ERROR_CAPTION, text, MB_ICONHAND, true);
  };
  std::vector<SkippedSource> skipped;
  // Said once the rows show what did go in.
  std::string ownSkipped;
  hooks.ownFilesSkipped = [&ownSkipped](const std::string& first) { ownSkipped = first; };

  RunAddWrite([&] {
    CAddBatch batch(m_model, std::move(hooks), move);
    std::string program = ModulePath();
    std::string programFolder = program.substr(0, program.find_last_of('\\') + 1);
    batch.SetOwnFiles({m_model.VaultPath(), m_model.JournalPath(), m_model.DeleteJournalPathOf(),
                       program, programFolder + "udll.dll"});
    for (const std::string& path : paths) batch.AddPath(path, 0);  // a missing one is listed
    // Replacing can take entries out of the list: the rows keep only their texts.
    if (m_model.MarkedCount() > 0) DetachRowEntries();
    batch.UpdateMarkedEntries();
    batch.Finish();
    skipped = batch.Skipped();
  });
  ShowFolder(std::string());
  EndProgress();
  if (!skipped.empty()) {
    HbMessageBox(frame, FormatString(LoadResString(IDS_FILES_SKIPPED).c_str(), SkippedList(skipped).c_str()),
                 LoadResString(IDS_ERROR_CAPTION), MB_ICONHAND);
  }
  if (!ownSkipped.empty())
    ShowMessage(ownSkipped, IDS_INFORMATION, IDS_OWN_FILES_SKIPPED, MB_ICONINFORMATION, true);
  UpdateToolbar();
  ShowFreeSpace();
  ::SetForegroundWindow(frame);
}
