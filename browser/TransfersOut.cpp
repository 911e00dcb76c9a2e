// The folder view's transfers out of the vault: Copy and Cut onto the
// clipboard, dragging out, the data of an item on request, and the end of a
// move, when what the target took in full leaves the vault.
#include "browser/RovErarodView.h"

#include <shellapi.h>

#include "browser/VaultDataObject.h"
#include "browser/VaultStream.h"
#include "document/TransferOut.h"
#include "resources/resource.h"

CVaultDataObject* CRovErarodView::BuildDataObject(bool drag, bool cut) {
  if (!m_bLoggedIn || IsBusy() || !m_hWnd) return nullptr;
  if (CollectSelection() == 0) return nullptr;
  std::vector<std::string> cutFolders;
  std::vector<TransferItem> items = CollectTransferItems(m_model, m_selection, &cutFolders);
  if (items.empty()) return nullptr;
  HWND owner = FrameWindow();
  CVaultDataObject* object = CVaultDataObject::Create(
      owner, drag, cut ? CVaultDataObject::kCut : CVaultDataObject::kCopy);
  object->SetItems(m_model.VaultPath(), std::move(items), std::move(cutFolders));
  return object;
}

void CRovErarodView::PutOnClipboard(bool cut) {
  CComRef<IDataObject> object(BuildDataObject(false, cut));
  if (!object) return;
  if (FAILED(::OleSetClipboard(object.Get()))) return;
  m_clipboardObject = std::move(object);
  UpdateToolbar();
}

CVaultDataObject* CRovErarodView::GetClipboardObject() const {
  return static_cast<CVaultDataObject*>(m_clipboardObject.Get());
}

bool CRovErarodView::ClipboardHoldsOwnObject() const {
  return m_clipboardObject && ::OleIsCurrentClipboard(m_clipboardObject.Get()) == S_OK;
}

// The Delete command's names for the same questions.
bool CRovErarodView::OwnsClipboardObject() const { return ClipboardHoldsOwnObject(); }
void CRovErarodView::ReleaseClipboardObject() { ForgetClipboardObject(); }

void CRovErarodView::ForgetClipboardObject() {
  if (ClipboardHoldsOwnObject()) ::OleSetClipboard(nullptr);
  m_clipboardObject.Reset();
}

void CRovErarodView::OnBeginDrag() {
  if (m_bDraggingOut) return;
  CComRef<IDataObject> object(BuildDataObject(true, false));
  if (!object) return;
  // The drag loop pumps messages: nothing may change the rows meanwhile.
  CBusyScope busy(*this);
  // The view takes no drop of its own items.
  const bool accepting = IsAcceptingDrops();
  if (accepting) AcceptDrops(false);
  m_bDraggingOut = true;
  CComRef<IDropSource> source(new CDropSource);
  DWORD effect = DROPEFFECT_NONE;
  ::DoDragDrop(object.Get(), source.Get(), DROPEFFECT_COPY, &effect);
  m_bDraggingOut = false;
  if (accepting && m_hWnd) AcceptDrops(true);
}

HRESULT CRovErarodView::ExtractToStream(const std::string& vaultPath, const std::string& path,
                                        IStream* target, IStream** created, bool* complete,
                                        std::function<void()> onComplete) {
  bool done = false;
  if (complete) *complete = false;
  if (created) *created = nullptr;
  // After a logout, or a login to another disk, the data cannot be had:
  // the target hears of the failure instead of getting an empty file or
  // another vault's entry of that name.
  if (!m_bLoggedIn || m_model.VaultPath().empty() || vaultPath != m_model.VaultPath())
    return E_FAIL;
  if (target) {
    HRESULT hr = CVaultStream::WriteEntryInto(m_model.VaultPath(), path, target, &done);
    if (complete) *complete = done;
    return hr;
  }
  if (!created) return E_POINTER;
  return CVaultStream::Create(m_model.VaultPath(), path, std::move(onComplete), created);
}

void CRovErarodView::OnTransferComplete(const std::string& vaultPath, DWORD effect,
                                        const std::vector<std::string>& cutFolders,
                                        const std::set<std::string>& moved) {
  if (IsBusy()) {
    // Marks and rows belong to the running operation: the move waits.
    RunWhenIdle([this, vaultPath, effect, cutFolders, moved] {
      OnTransferComplete(vaultPath, effect, cutFolders, moved);
    });
    return;
  }
  m_model.ClearMarks();
  // Only a move takes items out of the vault, and only out of the vault
  // they came from; a target that copied leaves them where they are.
  if (moved.empty() || !(effect & DROPEFFECT_MOVE) || !m_bLoggedIn ||
      vaultPath != m_model.VaultPath())
    return;
  ForgetClipboardObject();
  CBusyScope busy(*this);
  if (MarkMovedEntries(m_model, cutFolders, moved) == 0) return;
  m_nCancel = 0;
  DetachRowEntries();
  m_model.DelZipFromFile(true);
  ShowFolder(std::string());
  UpdateToolbar();
  ShowFreeSpace();
}
