// Opening a vault file with its program: a read-only copy in the opened
// copies' folder, the shell's default verb, and one watcher thread per copy
// that wipes it when the program ends. At start-up and teardown the folder
// is swept of every copy no running watcher holds.
#include "browser/RovErarodView.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "document/OpenedCopies.h"
#include "resources/resource.h"
#include "vault/fileio/FileIo.h"

// What the view and its watchers share; it outlives whichever ends last.
struct CWatcherShared {
  std::atomic<int> count{0};
  std::atomic<bool> shuttingDown{false};
  CKernelHandle shutdownEvent;  // manual reset, set at teardown
  std::mutex lock;
  std::vector<std::string> held;  // copies of running watchers
};

namespace {

struct WatcherRecord {
  std::shared_ptr<CWatcherShared> shared;
  CKernelHandle process;  // may be null (the file went to a running program)
  HWND owner = nullptr;
  std::string copyPath;
};

// The shell's flags: keep the process handle, no error UI of its own, and
// the environment strings of the path expanded.
const ULONG kOpenMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
static_assert(kOpenMask == 0x640, "open flags");

DWORD WINAPI WatchCopy(LPVOID param) {
  std::unique_ptr<WatcherRecord> record(static_cast<WatcherRecord*>(param));
  CWatcherShared& shared = *record->shared;
  if (record->process.IsValid()) {
    HANDLE waits[2] = {record->process.Get(), shared.shutdownEvent.Get()};
    for (;;) {
      DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, 1000);
      if (r != WAIT_TIMEOUT || shared.shuttingDown) break;
    }
  } else {
    ::WaitForSingleObject(shared.shutdownEvent.Get(), INFINITE);
  }
  record->process.Reset();
  WipeAndRemove(record->copyPath);
  {
    std::lock_guard<std::mutex> guard(shared.lock);
    auto it = std::find(shared.held.begin(), shared.held.end(), record->copyPath);
    if (it != shared.held.end()) shared.held.erase(it);
  }
  std::shared_ptr<CWatcherShared> keep = record->shared;
  record.reset();
  --keep->count;
  return 0;
}

}  // namespace

void CRovErarodView::InitTransfersOut() {
  RegisterTransferOutCommands();
  m_watchers = std::make_shared<CWatcherShared>();
  m_watchers->shutdownEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  m_strOpenedFolder = OpenedCopiesFolder(fileio::TempFolder());
  // Whatever a run that ended without its teardown left behind.
  SweepOpenedCopies(m_strOpenedFolder, {});
}

void CRovErarodView::RegisterTransferOutCommands() {
  OnCommand(ID_EDIT_COPY, [this] { OnCopy(); });
  OnCommand(ID_EDIT_CUT, [this] { OnCut(); });
  auto selected = [this](CCmdUI& ui) {
    ui.Enable(m_bLoggedIn && m_hWnd && GetSelectedCount() > 0);
  };
  OnUpdate(ID_EDIT_COPY, selected);
  OnUpdate(ID_EDIT_CUT, selected);
}

void CRovErarodView::ShutDownTransfersOut() {
  if (m_watchers) {
    m_watchers->shuttingDown = true;
    if (m_watchers->shutdownEvent.IsValid()) ::SetEvent(m_watchers->shutdownEvent.Get());
    // Every watcher wakes at once; the bound only guards against a watcher
    // stuck in the file system.
    DWORD start = ::GetTickCount();
    while (m_watchers->count > 0 && ::GetTickCount() - start < 10000) ::Sleep(20);
    std::vector<std::string> held;
    {
      std::lock_guard<std::mutex> guard(m_watchers->lock);
      held = m_watchers->held;
    }
    SweepOpenedCopies(m_strOpenedFolder, held);
    if (held.empty()) ::RemoveDirectoryW(fileio::Widen(m_strOpenedFolder).c_str());
  }
  ForgetClipboardObject();
}

int CRovErarodView::GetWatcherCount() const { return m_watchers ? m_watchers->count.load() : 0; }

bool CRovErarodView::IsShuttingDown() const { return m_watchers && m_watchers->shuttingDown; }

void CRovErarodView::OpenFileRow(int row) {
  if (!m_bLoggedIn || IsBusy() || row < 0) return;
  std::string path = m_model.CurrentFolder() + GetRowText(row, 0);
  CollectSelection();
  m_model.ClearMarks();
  std::string copy;
  if (!ExtractToTemp(m_model.VaultPath(), path, m_strOpenedFolder, &copy)) return;
  OpenWithProgram(copy);
}

void CRovErarodView::OpenWithProgram(const std::string& copyPath) {
  const std::wstring wide = fileio::Widen(copyPath);  // the copy carries the entry's own name
  DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    ::SetFileAttributesW(wide.c_str(), attributes | FILE_ATTRIBUTE_READONLY);

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = kOpenMask;
  info.hwnd = m_hWnd;
  info.lpVerb = nullptr;
  info.lpFile = wide.c_str();
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExW(&info)) {
    // Nothing opened it: no message, the copy goes at once.
    WipeAndRemove(copyPath);
    return;
  }
  auto record = std::make_unique<WatcherRecord>();
  record->shared = m_watchers;
  record->process.Reset(info.hProcess);
  record->owner = m_hWnd;
  record->copyPath = copyPath;
  {
    std::lock_guard<std::mutex> guard(m_watchers->lock);
    m_watchers->held.push_back(copyPath);
  }
  // Counted before the thread runs, so that a teardown right now waits.
  ++m_watchers->count;
  CKernelHandle thread(::CreateThread(nullptr, 0, WatchCopy, record.get(), 0, nullptr));
  if (thread.IsValid()) {
    record.release();
    return;
  }
  --m_watchers->count;
  std::lock_guard<std::mutex> guard(m_watchers->lock);
  auto it = std::find(m_watchers->held.begin(), m_watchers->held.end(), copyPath);
  if (it != m_watchers->held.end()) m_watchers->held.erase(it);
  // The copy stays for the teardown's sweep: the program may have it open.
}
