// Opening a vault file with its program: a writable copy in the opened
// copies' folder, the shell's default verb, and one watcher thread per copy
// that tells the view when the copy changes and when its program ends. The
// view decides what becomes of the copy (ViewPutBack.cpp); at start-up and
// teardown the folder is swept of every copy no one tracks.
#include "browser/RovErarodView.h"

#include <shellapi.h>

#include <atomic>

#include "browser/ViewMessages.h"
#include "document/OpenedCopies.h"
#include "resources/resource.h"
#include "vault/fileio/FileIo.h"

// What the view and its watchers share; it outlives whichever ends last.
struct CWatcherShared {
  std::atomic<int> count{0};
  std::atomic<bool> shuttingDown{false};
  CKernelHandle shutdownEvent;  // manual reset, set at teardown
};

namespace {

// What a save changes at the least: size or last write (or the file is
// missing for a moment while a program writes a new one in its place).
struct QuickStamp {
  bool present = false;
  DWORD sizeLow = 0, sizeHigh = 0;
  FILETIME written{};
  bool operator==(const QuickStamp& o) const {
    return present == o.present && sizeLow == o.sizeLow && sizeHigh == o.sizeHigh &&
           written.dwLowDateTime == o.written.dwLowDateTime && written.dwHighDateTime == o.written.dwHighDateTime;
  }
};

QuickStamp StampOf(const std::wstring& path) {
  QuickStamp s;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    s.present = true;
    s.sizeLow = data.nFileSizeLow;
    s.sizeHigh = data.nFileSizeHigh;
    s.written = data.ftLastWriteTime;
  }
  return s;
}

struct WatcherRecord {
  std::shared_ptr<CWatcherShared> shared;
  CKernelHandle process;  // may be null (the file went to a running program)
  CKernelHandle stop;     // this copy's own end (logout, or the view is done with it)
  HWND view = nullptr;
  UINT id = 0;
  std::string folder;
  std::string copyPath;
  QuickStamp made;  // taken before the program started on the copy
};

// The shell's flags: keep the process handle, no error UI of its own, and
// the environment strings of the path expanded.
const ULONG kOpenMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
static_assert(kOpenMask == 0x640, "open flags");

// Waits for the copy's program to end, for changes in the copies' folder
// (any copy's: the copy's own stamp tells whether it was this one), and
// once a second looks at the stamp anyway, in case a change notice was
// missed. Posts what it sees; never touches the copy. Ends when the view
// ends the copy, or at teardown.
DWORD WINAPI WatchCopy(LPVOID param) {
  std::unique_ptr<WatcherRecord> record(static_cast<WatcherRecord*>(param));
  CWatcherShared& shared = *record->shared;
  const std::wstring copy = fileio::Widen(record->copyPath);
  CChangeNotification change(::FindFirstChangeNotificationW(
      fileio::Widen(record->folder).c_str(), FALSE,
      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE));
  QuickStamp last = record->made;
  for (;;) {
    HANDLE waits[4] = {record->stop.Get(), shared.shutdownEvent.Get()};
    DWORD count = 2, processAt = MAXDWORD, changeAt = MAXDWORD;
    if (record->process.IsValid()) waits[processAt = count++] = record->process.Get();
    if (change.IsValid()) waits[changeAt = count++] = change.Get();
    const DWORD r = ::WaitForMultipleObjects(count, waits, FALSE, 1000);
    if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1 || shared.shuttingDown) break;
    if (r == WAIT_OBJECT_0 + processAt) {
      // The view ends the copy, unless the program handed the file on to
      // another that holds it now: then the watch goes on without a process.
      record->process.Reset();
      ::PostMessageW(record->view, WM_HB_COPY_EVENT, record->id, 1);
      continue;
    }
    if (r == WAIT_OBJECT_0 + changeAt && !::FindNextChangeNotification(change.Get())) {
      // The folder can no longer be watched: the stamp is looked at each second.
      change.Reset();
    } else if (r == WAIT_FAILED) {
      ::Sleep(1000);
    }
    const QuickStamp now = StampOf(copy);
    if (!(now == last)) {
      last = now;
      ::PostMessageW(record->view, WM_HB_COPY_EVENT, record->id, 0);
    }
  }
  record->process.Reset();
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
  // Whatever a run that ended without its teardown left behind (copies the
  // user chose to keep are in a folder of their own).
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
    // Copies still here were not settled by a logout or the exit (the
    // window went without either): a change nobody answered is kept, the
    // rest is wiped.
    while (!m_openedCopies.empty()) EndOpenedCopy(m_openedCopies.front().id);
    // Every watcher wakes at once; the bound only guards against a watcher
    // stuck in the file system.
    DWORD start = ::GetTickCount();
    while (m_watchers->count > 0 && ::GetTickCount() - start < 10000) ::Sleep(20);
    SweepOpenedCopies(m_strOpenedFolder, {});
    ::RemoveDirectoryW(fileio::Widen(m_strOpenedFolder).c_str());  // not while kept copies are below it
  }
  ForgetClipboardObject();
}

bool CRovErarodView::IsShuttingDown() const { return m_watchers && m_watchers->shuttingDown; }

void CRovErarodView::OpenFileRow(int row) {
  if (!m_bLoggedIn || IsBusy() || row < 0) return;
  std::string path = m_model.CurrentFolder() + GetRowText(row, 0);
  CollectSelection();
  m_model.ClearMarks();
  EntryStamp base;
  std::string copy;
  if (!ReadEntryStamp(m_model.VaultPath(), path, &base) ||
      !ExtractToTemp(m_model.VaultPath(), path, m_strOpenedFolder, &copy))
    return;
  OpenWithProgram(copy, path, base);
}

void CRovErarodView::OpenWithProgram(const std::string& copyPath, const std::string& entryPath,
                                     const EntryStamp& base) {
  const std::wstring wide = fileio::Widen(copyPath);
  const QuickStamp made = StampOf(wide);
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
  OpenedCopy copy;
  copy.id = m_nNextCopyId++;
  copy.copyPath = copyPath;
  copy.entryPath = entryPath;
  copy.answers.base = base;
  copy.stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));

  auto record = std::make_unique<WatcherRecord>();
  record->shared = m_watchers;
  record->process.Reset(info.hProcess);
  HANDLE stop = nullptr;
  if (copy.stop.IsValid())
    ::DuplicateHandle(::GetCurrentProcess(), copy.stop.Get(), ::GetCurrentProcess(), &stop, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
  record->stop.Reset(stop);
  record->view = m_hWnd;
  record->id = copy.id;
  record->folder = m_strOpenedFolder;
  record->copyPath = copyPath;
  record->made = made;
  // The copy is tracked even without a watcher: a logout or the exit
  // still looks at it.
  m_openedCopies.push_back(std::move(copy));
  if (!record->stop.IsValid()) return;
  // Counted before the thread runs, so that a teardown right now waits.
  ++m_watchers->count;
  CKernelHandle thread(::CreateThread(nullptr, 0, WatchCopy, record.get(), 0, nullptr));
  if (thread.IsValid()) {
    record.release();
    return;
  }
  --m_watchers->count;
}

CRovErarodView::OpenedCopy* CRovErarodView::FindOpenedCopy(UINT id) {
  for (OpenedCopy& c : m_openedCopies)
    if (c.id == id) return &c;
  return nullptr;
}

void CRovErarodView::EndOpenedCopy(UINT id) {
  OpenedCopy* copy = FindOpenedCopy(id);
  if (!copy) return;
  if (copy->stop.IsValid()) ::SetEvent(copy->stop.Get());
  if (!copy->kept) {
    uint32_t size = 0, crc = 0;
    if (ReadFileStamp(copy->copyPath, &size, &crc) && copy->answers.Asks(size, crc))
      KeepCopy(copy->copyPath, m_strOpenedFolder, LastComponent(copy->entryPath));  // never lost unasked
    else
      WipeAndRemove(copy->copyPath);
  }
  for (auto it = m_openedCopies.begin(); it != m_openedCopies.end(); ++it) {
    if (it->id == id) {
      m_openedCopies.erase(it);
      break;
    }
  }
}
