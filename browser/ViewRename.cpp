// The folder view's Rename: the label edit of an existing row (F2, the
// context menu, a slow second click), the checks of the new name, the
// model's in-place rename and the rebuilt rows.
#include "browser/RovErarodView.h"

#include "browser/ViewMessages.h"
#include "document/EntryRename.h"
#include "resources/resource.h"

bool CRovErarodView::IsRenameInProgress() const {
  return m_bRenamePending && (m_bRenameEnded || SendMessage(LVM_GETEDITCONTROL) != 0);
}

void CRovErarodView::OnRename() {
  if (!m_bLoggedIn || IsBusy() || m_bNewFolderPending || IsRenameInProgress()) return;
  if (GetSelectedCount() != 1) return;
  int row = static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0) return;
  EditRowLabel(row, nullptr);
}

void CRovErarodView::EditRowLabel(int row, const std::string* text) {
  ::SetFocus(m_hWnd);
  SendMessage(LVM_ENSUREVISIBLE, row, FALSE);
  HWND edit = reinterpret_cast<HWND>(SendMessage(LVM_EDITLABELW, row));
  if (!edit || !text) return;
  ::SetWindowTextW(edit, fileio::Widen(*text).c_str());
  ::SendMessageW(edit, EM_SETSEL, 0, -1);
}

bool CRovErarodView::OnBeginLabelEdit(int row) {
  // The new folder's own edit.
  if (m_bNewFolderPending) return row == FindNewFolderRow();
  // The list edits one label at a time: a rename whose edit never ended
  // (its rows went) gives way; one whose end is queued does not.
  if (!m_bLoggedIn || IsBusy() || (m_bRenamePending && m_bRenameEnded)) return false;
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || GetSelectedCount() != 1) return false;
  if (!(SendMessage(LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED)) return false;
  m_strRenameFrom = m_model.CurrentFolder() + m_rows[static_cast<size_t>(row)].cells[0];
  if (IsFolderRow(row)) m_strRenameFrom += '\\';
  m_bRenamePending = true;
  m_bRenameEnded = false;
  m_bRenameNamed = false;
  m_strRenameText.clear();
  return true;
}

int CRovErarodView::FindRowByName(const std::string& name) const {
  for (size_t i = 0; i < m_rows.size(); ++i)
    if (!m_rows[i].newFolder && m_rows[i].cells[0] == name) return static_cast<int>(i);
  return -1;
}

void CRovErarodView::FinishRename() {
  if (!m_bRenamePending) return;
  m_bRenamePending = false;
  if (!m_bRenameNamed || !m_bLoggedIn) return;  // Esc, or logged out meanwhile
  const std::string text = m_strRenameText;
  std::string from = m_strRenameFrom;
  const bool folder = !from.empty() && from.back() == '\\';
  if (folder) from.pop_back();
  const size_t slash = from.find_last_of('\\');
  const std::string oldName = slash == std::string::npos ? from : from.substr(slash + 1);
  if (text == oldName) return;  // nothing changed: no write

  CVaultModel::RenameResult result = CVaultModel::RenameResult::Unusable;
  if (renaming::IsUsableLeafName(text)) {
    // The write pumps messages: nothing may move or drop the rows, or close
    // the window, until the rows show the new names.
    CBusyScope busy(*this);
    HCURSOR old = ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514) /* IDC_WAIT */));
    // Entries keep their place in the list (only offsets and names change),
    // but the rows are rebuilt from the model afterwards anyway.
    DetachRowEntries();
    result = m_model.RenameEntry(from, text);
    if (result == CVaultModel::RenameResult::Renamed) {
      // A Copy or Cut on the clipboard names the entries by their old paths.
      ReleaseClipboardObject();
    }
    ShowFolder(std::string());
    ::SetCursor(old);
  }

  switch (result) {
    case CVaultModel::RenameResult::Renamed: {
      int row = FindRowByName(text);
      if (row >= 0) {
        LVITEMW on{};
        on.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        on.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessage(LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&on));
        SendMessage(LVM_SETSELECTIONMARK, 0, row);
        SendMessage(LVM_ENSUREVISIBLE, row, FALSE);
      }
      ShowFreeSpace();
      break;
    }
    case CVaultModel::RenameResult::Unusable:
    case CVaultModel::RenameResult::Taken: {
      // The edit opens again on the row with what was typed.
      if (result == CVaultModel::RenameResult::Unusable)
        ShowMessage(std::string(), IDS_ERROR_CAPTION, IDS_FOLDER_NAME_INVALID, MB_ICONHAND, false);
      else
        ShowMessage(text, IDS_ERROR_CAPTION, IDS_RENAME_TAKEN, MB_ICONHAND, true);
      int row = FindRowByName(oldName);
      if (row >= 0 && m_bLoggedIn && !IsBusy() && !m_bNewFolderPending && !IsRenameInProgress()) {
        LVITEMW none{};
        none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        LVITEMW on{};
        on.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        on.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessage(LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&on));
        EditRowLabel(row, &text);
      }
      break;
    }
    case CVaultModel::RenameResult::NotFound:
      break;  // the vault changed meanwhile: the rebuilt rows show what it holds
    case CVaultModel::RenameResult::Failed:
      ShowMessage(std::string(), IDS_ERROR_CAPTION, IDS_RENAME_FAILED, MB_ICONHAND, false);
      break;
  }
  UpdateToolbar();
}
