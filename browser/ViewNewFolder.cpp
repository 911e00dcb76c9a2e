// The folder view's New Folder command: the nameless row, its label edit and
// the folder's write into the vault once the name is known.
#include "browser/RovErarodView.h"

#include "browser/ViewMessages.h"
#include "resources/resource.h"

void CRovErarodView::OnNewFolder() {
  if (!m_bLoggedIn || m_bNewFolderPending || GetSelectedCount() > 0) return;
  ListRow fresh;  // empty name, image 0, no entry yet
  fresh.newFolder = true;
  m_rows.push_back(std::move(fresh));
  int row = static_cast<int>(m_rows.size()) - 1;
  SyncItemCount();
  m_bNewFolderPending = true;
  m_bNewFolderNamed = false;
  m_strNewFolderName.clear();
  ::SetFocus(m_hWnd);
  SendMessage(LVM_ENSUREVISIBLE, row, FALSE);
  SendMessage(LVM_EDITLABELW, row);
}

void CRovErarodView::OnEndLabelEdit(const char* text) {
  // Label editing stays on: a slow second click renames a row.
  if (m_bRenamePending && !m_bNewFolderPending) {
    m_bRenameEnded = true;
    m_bRenameNamed = text != nullptr;
    m_strRenameText = text ? text : "";
    PostMessage(WM_HB_RENAME_DONE);
    return;
  }
  if (!m_bNewFolderPending) return;
  m_bNewFolderNamed = text != nullptr;
  m_strNewFolderName = text ? text : "";
  // The list still works on the edit: finish once the notification is over.
  PostMessage(WM_HB_NEW_FOLDER_DONE);
}

int CRovErarodView::FindNewFolderRow() const {
  for (size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i].newFolder) return static_cast<int>(i);
  return -1;
}

void CRovErarodView::RemoveRow(int row) {
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return;
  SendMessage(LVM_DELETEITEM, row);
  m_rows.erase(m_rows.begin() + row);
  SyncItemCount();
}

void CRovErarodView::FinishNewFolder() {
  if (!m_bNewFolderPending) return;
  // The vault write pumps messages: nothing may move or drop the rows, or
  // close the window, until the folder is in.
  CBusyScope busy(*this);
  int result = 0;  // 1 written, 0 name taken, -1 name not usable
  VaultEntry* created = nullptr;
  if (m_bNewFolderNamed) {
    CreateFolderChain(m_model.VaultPath(), false);
    result = m_model.CreateNewFolder(m_strNewFolderName, &created);
  }
  if (result == 1) {
    int row = FindNewFolderRow();  // looked up again after the pump
    if (row >= 0) {
      ListRow& r = m_rows[static_cast<size_t>(row)];
      r.newFolder = false;
      r.cells[0] = m_strNewFolderName;
      if (created) {
        r.cells[3] = m_texts.folder;
        r.cells[4] = DateCell(created->modified);
        r.entry = created;
      }
      SendMessage(LVM_REDRAWITEMS, row, row);
    }
    m_bNewFolderPending = false;
    m_bResortPending = true;
  } else {
    // An abandoned edit and a taken name say "already exist"; a name the
    // vault cannot hold ("a/b", "..") says so instead.
    UINT text = result < 0 ? IDS_FOLDER_NAME_INVALID : IDS_FOLDER_EXISTS;
    ShowMessage(std::string(), IDS_ERROR_CAPTION, text, MB_ICONHAND, false);
    RemoveRow(FindNewFolderRow());
    m_bNewFolderPending = false;
  }
  UpdateToolbar();
}
