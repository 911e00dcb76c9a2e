// Opened copies that were changed: the look after each save and at the end
// of the copy's program, the questions, putting the copy back through the
// add path, and the settling of every copy before a logout or the exit.
#include "browser/RovErarodView.h"

#include "browser/ViewMessages.h"
#include "document/OpenedCopies.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"
#include "resources/resource.h"
#include "vault/fileio/FileIo.h"

namespace {

// A save's writes come close together: the copy is looked at once it has
// been still this long.
const DWORD kSettleMs = 400;

// The copy is there and no program holds it open for writing: a program
// still writing it (or holding it as some editors do) keeps the look
// waiting, so that a half-written file is never asked about.
bool CopyIsQuiet(const std::string& path) {
  HANDLE h = ::CreateFileW(fileio::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

// The folder an entry path is in, as the user sees it ("\" for the top).
std::string FolderShown(const std::string& entryPath) {
  const std::string path = ToBackslashes(entryPath);
  const size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string("\\") : path.substr(0, slash);
}

}  // namespace

void CRovErarodView::OnCopyEvent(UINT id, bool ended) {
  OpenedCopy* copy = FindOpenedCopy(id);
  if (!copy) return;
  if (ended) {
    copy->ended = true;
  } else {
    copy->dirty = true;
    copy->lastChange = ::GetTickCount();
  }
  SetTimer(kCopyTimer, kCopyTimerMs);
}

void CRovErarodView::CheckOpenedCopies() {
  // An operation, a question, a name edit or a drag keeps the rows and the
  // vault in use: the timer comes back.
  if (IsBusy() || m_bNewFolderPending || IsRenameInProgress() || m_bDraggingOut) return;
  for (;;) {
    // One copy at a time: a question pumps messages, and the list may
    // change while it is up.
    UINT due = 0;
    bool ended = false, waiting = false;
    for (OpenedCopy& c : m_openedCopies) {
      if (c.ended && fileio::Exists(c.copyPath) && !CopyIsQuiet(c.copyPath)) {
        // The program that was started handed the file on to another (one
        // already running) that holds it open: the copy stays watched until
        // a logout or the exit.
        c.ended = false;
      }
      if (c.ended) {
        due = c.id;
        ended = true;
        break;
      }
      if (!c.dirty) continue;
      if (::GetTickCount() - c.lastChange < kSettleMs || !CopyIsQuiet(c.copyPath)) {
        waiting = true;
        continue;
      }
      c.dirty = false;
      due = c.id;
      break;
    }
    if (due == 0) {
      if (!waiting) KillTimer(kCopyTimer);
      return;
    }
    if (ended) {
      AskAboutCopy(due, CopyMoment::ProgramEnded);
      EndOpenedCopy(due);
    } else {
      AskAboutCopy(due, CopyMoment::Saved);
    }
    if (IsBusy() || !m_hWnd) return;
  }
}

CRovErarodView::CopyAnswer CRovErarodView::AskAboutCopy(UINT id, CopyMoment moment) {
  OpenedCopy* copy = FindOpenedCopy(id);
  uint32_t size = 0, crc = 0;
  if (!copy || copy->kept || !ReadFileStamp(copy->copyPath, &size, &crc)) return CopyAnswer::None;
  const bool leaving = moment == CopyMoment::Leaving || moment == CopyMoment::LeavingWithCancel;
  // Leaving, every change that is not in the vault counts, answered or not.
  if (leaving ? !copy->answers.Pending(size, crc) : !copy->answers.Asks(size, crc)) return CopyAnswer::None;

  CBusyScope busy(*this);
  const std::string name = LastComponent(copy->entryPath);
  if (!m_bLoggedIn || !m_model.VaultFileExists()) {
    // While the program runs the logout after the pulled disk settles it.
    if (moment == CopyMoment::Saved) return CopyAnswer::None;
    return KeepOrDeleteCopy(id);
  }
  const CopyState state = EntryStateSince(m_model.VaultPath(), copy->answers.base);
  const std::string text =
      state == CopyState::Changed
          ? FormatString(LoadResString(IDS_COPY_CHANGED).c_str(), name.c_str())
          : FormatString(LoadResString(IDS_COPY_ENTRY_GONE).c_str(), name.c_str(),
                         FolderShown(copy->entryPath).c_str());
  const UINT style = MB_ICONQUESTION | (moment == CopyMoment::LeavingWithCancel ? MB_YESNOCANCEL : MB_YESNO);
  const int answer = HbMessageBox(FrameWindow(), text, LoadResString(IDS_INFORMATION), style);
  if (!(copy = FindOpenedCopy(id))) return CopyAnswer::None;
  if (answer == IDCANCEL && moment == CopyMoment::LeavingWithCancel) return CopyAnswer::Cancel;
  if (answer != IDYES) {
    copy->answers.Answered(size, crc);
    return CopyAnswer::No;
  }
  EntryStamp stored;
  const PutBackResult result = PutCopyBack(*copy, state, &stored);
  if (!(copy = FindOpenedCopy(id))) return CopyAnswer::None;
  if (result == PutBackResult::Replaced || result == PutBackResult::Added) {
    copy->answers.PutBack(stored);
    return CopyAnswer::Yes;
  }
  if (moment == CopyMoment::Saved) {
    // Asked again at the next save or at the program's end.
    ShowMessage(name, IDS_ERROR_CAPTION, IDS_COPY_PUT_BACK_FAILED, MB_ICONHAND, true);
    return CopyAnswer::None;
  }
  return KeepOrDeleteCopy(id);
}

CRovErarodView::CopyAnswer CRovErarodView::KeepOrDeleteCopy(UINT id) {
  OpenedCopy* copy = FindOpenedCopy(id);
  if (!copy) return CopyAnswer::None;
  const std::string name = LastComponent(copy->entryPath);
  // Out of the copies' folder first, so that the place shown is where it stays.
  std::string kept = KeepCopy(copy->copyPath, m_strOpenedFolder, name);
  if (kept.empty()) kept = copy->copyPath;
  const std::string text = FormatString(LoadResString(IDS_COPY_KEEP).c_str(), name.c_str(), kept.c_str());
  const int answer = HbMessageBox(FrameWindow(), text, LoadResString(IDS_INFORMATION), MB_YESNO | MB_ICONEXCLAMATION);
  if (!(copy = FindOpenedCopy(id))) return CopyAnswer::None;
  copy->kept = true;  // answered: either way the end leaves it alone
  if (answer == IDYES) return CopyAnswer::Kept;
  WipeAndRemove(kept);
  if (kept != copy->copyPath) WipeAndRemove(copy->copyPath);
  return CopyAnswer::No;
}

PutBackResult CRovErarodView::PutCopyBack(const OpenedCopy& copy, CopyState state, EntryStamp* stored) {
  const std::string entry = copy.answers.base.storedPath;
  const std::string source = copy.copyPath;
  PutBackResult result = PutBackResult::Failed;
  BeginProgress(IDS_ADD_FILE);
  RunAddWrite([&] {
    // The list is read again: the vault may have changed under it (another
    // instance, the tool).
    DetachRowEntries();
    if (!m_model.LoadVaultList()) return;
    if (state == CopyState::EntryGone) {
      result = AddCopyAs(m_model, entry, source, stored);
    } else {
      AddBatchHooks hooks = BatchHooks();
      hooks.askReplace = nullptr;  // the put-back replaces without asking
      result = PutBackCopy(m_model, hooks, entry, source, stored);
    }
  });
  ShowFolder(std::string());
  EndProgress();
  UpdateToolbar();
  ShowFreeSpace();
  return result;
}

bool CRovErarodView::SettleOpenedCopies(bool mayCancel) {
  std::vector<UINT> ids;
  for (const OpenedCopy& c : m_openedCopies) ids.push_back(c.id);
  for (UINT id : ids) {
    if (AskAboutCopy(id, mayCancel ? CopyMoment::LeavingWithCancel : CopyMoment::Leaving) == CopyAnswer::Cancel)
      return false;
  }
  // Answered, each one: the copies go (a program may still hold one open;
  // its watcher ends all the same).
  while (!m_openedCopies.empty()) {
    OpenedCopy& c = m_openedCopies.front();
    uint32_t size = 0, crc = 0;
    if (!c.kept && ReadFileStamp(c.copyPath, &size, &crc)) c.answers.Answered(size, crc);
    EndOpenedCopy(c.id);
  }
  KillTimer(kCopyTimer);
  return true;
}
