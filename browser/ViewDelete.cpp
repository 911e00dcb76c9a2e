// The folder view's Delete command: the question, the progress dialog, the
// model's in-place delete and the rebuilt rows.
#include "browser/RovErarodView.h"

#include "resources/resource.h"

void CRovErarodView::OnDelete() {
  // A new folder's row has no entry to delete yet.
  if (!m_bLoggedIn || IsBusy() || m_bNewFolderPending) return;
  // From the question on: the rows, the marks and the window stay as they
  // are until the rows have been rebuilt.
  CBusyScope busy(*this);
  int count = CollectSelection();
  if (count == 0) return;

  // One file: its name in the question; a folder or several rows: the
  // general question.
  UINT textId = IDS_DELETE_SELECTION;
  bool useName = false;
  if (count == 1) {
    std::string path = ToBackslashes(m_selection[0]);
    if (!path.empty() && path.back() != '\\') {
      textId = IDS_DELETE_FILE;
      useName = true;
    }
  }
  if (ShowMessage(m_selection[0], IDS_INFORMATION, textId, MB_YESNO | MB_DEFBUTTON2, useName) !=
      IDYES) {
    m_model.ClearMarks();
    return;
  }

  BeginProgress(IDS_DELETE_TITLE);
  ReleaseClipboardObject();
  // The model frees the deleted entries while it still pumps messages: the
  // rows keep their texts for painting, not the pointers.
  DetachRowEntries();
  m_model.DelZipFromFile(true);
  ShowFolder(std::string());
  UpdateToolbar();
  EndProgress();
  ShowFreeSpace();
}

// No command of this view puts a data object on the clipboard yet (Copy and
// Cut come with the transfers out); when one does, this says whether the
// clipboard still holds it.
bool CRovErarodView::OwnsClipboardObject() const { return false; }

void CRovErarodView::ReleaseClipboardObject() {
  if (!OwnsClipboardObject()) return;
  if (::OpenClipboard(m_hWnd)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }
}
