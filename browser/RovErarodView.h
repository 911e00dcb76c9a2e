// The folder view: a report list of the current vault folder (Name, Size,
// Packed Size, Type, Date) over the portable vault model.  The view owns the
// model and the list control; what it adds is Win32 only: shell icons and
// type names, cell texts, the header arrows, colours, the timers that load
// and watch the vault, the device library around writes, the toolbar, the
// context menus and the login/logout command.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <ole2.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/DeviceLibrary.h"
#include "browser/TitleTip.h"
#include "browser/ViewHost.h"
#include "document/CopyPutBack.h"
#include "document/VaultModel.h"
#include "framework/ComRef.h"
#include "framework/Controls.h"
#include "framework/Handles.h"

class CRovErarodDoc;
class CProgressDlg;
class CVaultDataObject;
struct CWatcherShared;

class CRovErarodView : public CListCtrl {
public:
  explicit CRovErarodView(CRovErarodDoc* doc);
  ~CRovErarodView() override;

  // host: the window around the view (its parent frame), which outlives it.
  bool CreateView(HWND frame, CViewHost* host);
  // Device handle, list set-up, journal recovery, the two timers.
  void OnInitialUpdate();

  // --- Login state (the disk and password live in the application object).
  bool IsLoggedIn() const { return m_bLoggedIn; }
  // The Login command: logs out while logged in, else runs the Disk Login
  // dialog and binds to the chosen disk.
  void OnLoginCommand();
  // The view's side of a login that succeeded for disk ("E:") and password.
  void LoginTo(const std::string& disk, const std::string& password);
  void Logout();

  // --- Rows.
  // Reads the vault and shows the current folder; false when the vault
  // could not be opened (the rows stay as they were).
  bool LoadVaultList();
  // Enters sub-folder name (when not empty) and rebuilds the rows.
  void ShowFolder(const std::string& name);
  // Appends one row for a model row (the control learns the new count at
  // the end of a rebuild, or at once for a single row).
  int InsertRow(const Row& row);
  // Sorts the rows by the current column and direction.
  void SortRows();
  // A column header click (ignored while logged out).
  void OnColumnClick(int column);
  int GetSortColumn() const { return m_order.column; }
  bool IsSortAscending() const { return m_order.ascending; }
  bool IsResortPending() const { return m_bResortPending; }
  // A row is a folder exactly when its image index is 0.
  bool IsFolderRow(int row) const;
  std::string GetRowText(int row, int column) const;
  VaultEntry* GetRowEntry(int row) const;
  int GetRowImage(int row) const;

  // --- Commands.
  void OnUp();
  void OnNewFolder();
  void OnSelectAll();
  // Double-click: opens the first selected folder row.
  void OnOpenSelection();
  // Fills the selection list (vault paths, folders with a trailing "\") and
  // marks the entries; returns the number of selected rows.
  int CollectSelection();
  const std::vector<std::string>& GetSelectionList() const { return m_selection; }
  // Shows and hides the toolbar buttons for the current state: the host
  // asks back through OnUpdateCmdUI, which tells whether a button shows.
  void UpdateToolbar();
  // Whether the toolbar button of command id shows now; false for a
  // command that has no button.
  bool GetToolbarButtonShown(UINT id, bool* shown) const;
  // Whether something could be pasted: the clipboard has an owner that is
  // not this view, holds no data object of this view's, and offers a shell
  // file list (TransfersIn.cpp).
  bool CanPaste() const;
  // The context menu for the current state (sub-menu of menu 136 with the
  // items that apply); menu keeps it alive.  Null while logged out.
  HMENU PrepareContextMenu(CMenu* menu) const;
  // The Change Password command (ViewPassword.cpp).
  void OnChangePassword();

  // --- Title tips (ViewTitleTip.cpp).
  struct TitleTipCell {
    int row = -1, column = -1;
    RECT rect{0, 0, 0, 0};  // list client coordinates, top moved up by one
    int offset = 0;         // of the text from the cell's left edge
  };
  // The cell under a point of the list's client area (report mode only).
  bool FindTitleTipCell(POINT pt, TitleTipCell* cell) const;
  void OnListMouseMove(WPARAM keys, POINT pt);
  ZTitleTip& GetTitleTip() { return m_titleTip; }

  // --- Rename (ViewRename.cpp).
  // F2, the context menu's Rename and a slow second click start the label
  // edit of the one selected row; its end renames the entry (a folder with
  // everything below it) in the vault and rebuilds the rows.
  void OnRename();
  bool IsRenamePending() const { return m_bRenamePending; }
  // A rename's label edit is open, or its end waits to be handled (an edit
  // that went with its rows without an end no longer counts).
  bool IsRenameInProgress() const;

  // --- Delete (ViewDelete.cpp).
  // The Delete command: asks, then removes the selected rows' entries from
  // the vault with the progress dialog up, rebuilds the rows.
  void OnDelete();
  // Empties the clipboard when it holds this view's data object (a cut or
  // copy of this view put it there).
  void ReleaseClipboardObject();
  bool OwnsClipboardObject() const;

  // --- Transfers out (TransfersOut.cpp, OpenedFiles.cpp).
  // Copy and Cut: the selection goes on the clipboard as virtual files.
  void OnCopy() { PutOnClipboard(false); }
  void OnCut() { PutOnClipboard(true); }
  // The list's begin-drag: the selection is dragged out (always a copy).
  void OnBeginDrag();
  bool IsDraggingOut() const { return m_bDraggingOut; }
  // True while the clipboard holds the object of this view's last Copy or Cut.
  bool ClipboardHoldsOwnObject() const;
  CVaultDataObject* GetClipboardObject() const;
  // The data object's request for the data of a vault path: written into
  // target when one is given (*complete: every byte went), else a new
  // inflating stream in *created whose onComplete runs once it was read.
  // Fails unless vaultPath is the vault the view is logged in to.
  HRESULT ExtractToStream(const std::string& vaultPath, const std::string& path, IStream* target,
                          IStream** created, bool* complete, std::function<void()> onComplete);
  // The target reported what it did with the items: after a move the files
  // it took in full, and the cut folders whose files all went, leave the
  // vault; the clipboard is emptied.
  void OnTransferComplete(const std::string& vaultPath, DWORD effect,
                          const std::vector<std::string>& cutFolders,
                          const std::set<std::string>& moved);
  // Double-click on a file row: a writable copy opened with its program,
  // watched until the program ends (OpenedFiles.cpp); a changed copy is
  // offered back to the vault (ViewPutBack.cpp).
  void OpenFileRow(int row);
  // Copies opened and not yet ended.
  size_t GetOpenedCopyCount() const { return m_openedCopies.size(); }
  bool IsShuttingDown() const;
  // Before a logout or the exit: every copy whose changes are not in the
  // vault is asked about (Yes puts it back, No lets the changes go, Cancel,
  // when mayCancel, stops the logout or exit); then every copy ends. A copy
  // the vault cannot take any more is kept or deleted as the user says.
  // False when the user chose Cancel.
  bool SettleOpenedCopies(bool mayCancel);
  const std::string& GetOpenedCopiesFolder() const { return m_strOpenedFolder; }
  // --- Transfers into the vault (TransfersIn.cpp).
  // Drops from the shell, Paste (command 57637, Ctrl+V, Shift+Insert, the
  // context menu's Paste) and the clipboard watch.
  void OnPaste();
  void OnDropFiles(HDROP drop);
  // The transfer routine: every path (files and folder trees) into the
  // current folder with the progress dialog up; move deletes the sources.
  // Returns once the rows are rebuilt.
  void TransferFiles(const std::vector<std::string>& paths, bool move);
  // Shell drops are taken while a disk is logged in and the view is not
  // dragging its own items out.
  void AcceptDrops(bool accept);
  bool IsAcceptingDrops() const { return m_bAcceptingDrops; }
  // The clipboard's "Preferred DropEffect" as last read: 0, 1 copy, 2 move.
  DWORD GetTransferMode() const { return m_dwTransferMode; }
  void OnClipboardChanged();

  // --- Long operations (ViewLongOperation.cpp).
  // While a long operation pumps messages the view is busy: every command
  // is greyed and refused, navigation, sorting, the context menu and the
  // watch timer's work wait, and what must not be lost (closing the window,
  // the logout after the disk was pulled, the end of a new folder's or a
  // rename's name edit) is deferred until the view is idle again.  Scopes
  // nest.
  class CBusyScope {
  public:
    explicit CBusyScope(CRovErarodView& view);
    ~CBusyScope();
    CBusyScope(const CBusyScope&) = delete;
    CBusyScope& operator=(const CBusyScope&) = delete;

  private:
    CRovErarodView& m_view;
  };
  bool IsBusy() const { return m_nBusy > 0; }
  // Runs action now when the view is idle; otherwise once the last busy
  // scope has ended (from a posted message, never inside the operation).
  void RunWhenIdle(std::function<void()> action);
  size_t GetDeferredCount() const { return m_deferred.size(); }
  bool OnCmdMsg(UINT id) override;
  bool OnUpdateCmdUI(CCmdUI& ui) override;
  // The progress dialog of an operation: created hidden (its first text
  // shows it), titled with string titleId, the cancel flag attached and 0;
  // EndProgress destroys it.
  void BeginProgress(UINT titleId);
  void EndProgress();
  // A progress text of the running operation (see CProgressDlg::SetText);
  // ignored while there is no progress dialog.
  void ProgressText(const std::string& path, UINT messageId, const std::string& secondPath);
  CProgressDlg* GetProgressDialog() const { return m_progress.get(); }
  // The replace question for a file the vault holds already: with Replace
  // All decided it is not asked again; otherwise the progress dialog hides
  // (the next text shows it), the frame comes to the front and the answer
  // (0 Cancel, 1 Yes, 2 No, 3 Replace All) becomes the decision.
  int AskReplace(const std::string& vaultPath);
  // Every transfer starts with no decision (-1).
  void ResetReplaceDecision() { m_nReplaceDecision = -1; }
  int GetReplaceDecision() const { return m_nReplaceDecision; }
  // The cancel flag the progress dialog raises.
  int GetCancelFlag() const { return m_nCancel; }

  // --- Vault binding services.
  // Creates every directory along path (see the .cpp for the rules).
  static void CreateFolderChain(const std::string& path, bool includeLast);
  // A message box from string ids; with useName, the text's %s takes the
  // last component of name.  Returns the box's answer.
  int ShowMessage(const std::string& name, UINT captionId, UINT textId, UINT style,
                  bool useName);
  // query: 1 when the disk is write protected, else 0; otherwise sets the
  // protection to value.
  int DeviceWriteProtect(bool query, int value);
  // Flushes the disk twice (Windows 2000 only).
  void FlushDevice();
  // Free space of the logged-in disk into status pane 1.
  void ShowFreeSpace();
  // Puts the add journal back into the vault when needed.
  void RecoverVault();

  CVaultModel& GetModel() { return m_model; }
  const std::string& GetVaultPath() const { return m_model.VaultPath(); }
  const std::string& GetTempFolder() const { return m_strTempFolder; }

  // "%Y/%m/%d %p %I:%M" with the localised AM/PM words.
  static std::string FormatClock(const SYSTEMTIME& local);
  // Type lookup through the icon cache: image index (I_IMAGENONE when the
  // shell has no icon) and type name.
  int LookupType(const std::string& fileName, std::string* typeName);
  size_t GetIconCacheSize() const { return m_iconCache.size(); }

  static const UINT kWatchTimer = 1;
  static const UINT kLoadTimer = 2;
  static const UINT kTimerMs = 300;
  // Runs while an opened copy has a change or an end to look at.
  static const UINT kCopyTimer = 3;
  static const UINT kCopyTimerMs = 250;

protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;
  void PostNcDestroy() override { delete this; }

private:
  // One row of the list.  The control is virtual (LVS_OWNERDATA): it asks
  // for the cells of the rows it paints, so filling and sorting thousands of
  // rows costs no control calls per row.
  struct ListRow {
    std::string cells[5];
    int image = 0;
    VaultEntry* entry = nullptr;  // null for the new-folder row (and during a delete)
    bool newFolder = false;       // the row of a New Folder command not yet finished
  };

  struct IconRecord {
    std::string extension;  // upper case
    std::string typeName;
    int image;
  };

  void SetUpList();
  void SyncItemCount();
  void OnGetDispInfo(LVITEMW* item);
  void OnWatchTimer();
  void ShowClock();
  void SetStatusPane(int pane, const std::string& text);
  void BindVaultPath(const std::string& disk);
  void RebuildRows();
  void ClearRows();
  void SetSortArrow(int column, bool show);
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW* cd);
  BOOL OnEraseBackground(HDC dc);
  void OnContextMenu(POINT screen);
  void OnEndLabelEdit(const char* text);
  // The list asks whether the label edit of row may start.
  bool OnBeginLabelEdit(int row);
  void FinishRename();
  // Starts the label edit of row; text replaces the row's name in the edit
  // when given (an edit opened again after a refused name).
  void EditRowLabel(int row, const std::string* text);
  // The row whose name is name (exact), -1 when none.
  int FindRowByName(const std::string& name) const;
  void FinishNewFolder();
  // The row the New Folder command added (-1: none); rows move when they
  // are sorted or rebuilt, so it is looked up each time.
  int FindNewFolderRow() const;
  void RemoveRow(int row);
  void SetVaultHooks();
  // Commands and window messages of the transfers in (TransfersIn.cpp).
  void RegisterTransferCommands();
  bool OnTransferMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
  // Busy-time handling of a window message or a list notification; true
  // when it was dealt with here (ViewLongOperation.cpp).
  bool FilterWhileBusy(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
  bool FilterNotifyWhileBusy(UINT code, LRESULT* result);
  void RunDeferred();
  // The model's hooks for a write through the add path (progress texts,
  // message pump), the write protection lifted and the journal recovered
  // around write (TransfersIn.cpp).
  void RunAddWrite(const std::function<void()>& write);
  // What every add batch asks of the window (TransfersIn.cpp).
  AddBatchHooks BatchHooks();
  void RegisterTransferOutCommands();
  // Opened copies (OpenedFiles.cpp, ViewPutBack.cpp).
  struct OpenedCopy {
    UINT id = 0;
    std::string copyPath;
    std::string entryPath;  // its vault path (Docs\a.txt)
    CopyAnswers answers;
    bool dirty = false;     // changed since it was last looked at
    DWORD lastChange = 0;
    bool ended = false;     // its program has ended
    bool kept = false;      // the user keeps it outside the vault: never wiped
    CKernelHandle stop;     // ends its watcher
  };
  // When a copy is looked at: after a save, once its program ended, or
  // before a logout or the exit (with or without Cancel).
  enum class CopyMoment { Saved, ProgramEnded, Leaving, LeavingWithCancel };
  enum class CopyAnswer { None, Yes, No, Cancel, Kept };
  void OpenWithProgram(const std::string& copyPath, const std::string& entryPath, const EntryStamp& base);
  OpenedCopy* FindOpenedCopy(UINT id);
  void OnCopyEvent(UINT id, bool ended);
  void CheckOpenedCopies();
  CopyAnswer AskAboutCopy(UINT id, CopyMoment moment);
  CopyAnswer KeepOrDeleteCopy(UINT id);
  PutBackResult PutCopyBack(const OpenedCopy& copy, CopyState state, EntryStamp* stored);
  // Stops the copy's watcher and wipes the copy (unless kept or changed
  // without an answer, then it is kept); forgets it.
  void EndOpenedCopy(UINT id);
  // Start-up: removes copies a previous run left; teardown: ends the
  // watchers, removes what is left and lets go of the clipboard.
  void InitTransfersOut();
  void ShutDownTransfersOut();
  void PutOnClipboard(bool cut);
  // A data object for the selection (null when nothing is selected).
  CVaultDataObject* BuildDataObject(bool drag, bool cut);
  void ForgetClipboardObject();
  // Lets the rows forget their entries before an operation frees some.
  void DetachRowEntries();
  std::string DateCell(FileTime utc) const;
  bool SelectDeviceDrive();
  // The frame: owner of the view's dialogs and message boxes.
  HWND FrameWindow() const { return ::GetParent(m_hWnd); }

  CRovErarodDoc* m_pDoc;
  CViewHost* m_pHost = nullptr;
  CVaultModel m_model;
  ListTexts m_texts;
  SortOrder m_order;
  bool m_bResortPending = false;
  std::vector<ListRow> m_rows;
  std::vector<IconRecord> m_iconCache;
  CImageList m_imagesSmall;
  CImageList m_imagesHeader;
  COLORREF m_clrNameColumn = RGB(249, 249, 249);
  COLORREF m_clrOtherColumns = RGB(255, 255, 255);

  CDeviceLibrary m_device;
  UDLL_HANDLE m_hDevice = 0;
  bool m_bWin2000 = false;
  bool m_bLoggedIn = true;  // until the first show finds no disk
  std::string m_strTempFolder;
  std::vector<std::string> m_selection;

  // A New Folder row exists: from the command until its edit's end has
  // been handled.
  bool m_bNewFolderPending = false;
  bool m_bNewFolderNamed = false;
  std::string m_strNewFolderName;
  // A label edit of an existing row is open, or its end waits to be
  // handled: the row's vault path (A\b.txt; a folder's ends in a
  // backslash) and the text the edit ended with.
  bool m_bRenamePending = false;
  bool m_bRenameEnded = false;
  bool m_bRenameNamed = false;
  std::string m_strRenameFrom;
  std::string m_strRenameText;
  bool m_bToolbarUpdatePosted = false;
  ZTitleTip m_titleTip;

  int m_nBusy = 0;
  std::vector<std::function<void()>> m_deferred;
  bool m_bDeferredPosted = false;
  std::unique_ptr<CProgressDlg> m_progress;
  int m_nCancel = 0;

  // Transfers in.
  bool m_bAcceptingDrops = false;
  bool m_bClipboardListener = false;
  DWORD m_dwTransferMode = 0;
  int m_nReplaceDecision = -1;

  // Transfers out: the object of the last Copy or Cut (one reference held),
  // the drag in progress, the watchers of opened copies and their folder.
  CComRef<IDataObject> m_clipboardObject;
  bool m_bDraggingOut = false;
  std::shared_ptr<CWatcherShared> m_watchers;
  std::string m_strOpenedFolder;
  std::vector<OpenedCopy> m_openedCopies;
  UINT m_nNextCopyId = 1;
};
