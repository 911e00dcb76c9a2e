// CProgressDlg: the modeless progress dialog of long vault operations (adding
// and deleting).  Hidden until the first text; its bar cycles as an activity
// indicator; Cancel and Escape grey the button and raise the owner's cancel
// flag; Enter does nothing.
#pragma once

#include <string>

#include "browser/EllipsisStatic.h"
#include "framework/Dialog.h"

class CProgressDlg : public CDialog {
public:
  CProgressDlg();
  ~CProgressDlg() override;

  // String-table id of the caption (24 "Add File", 25 "Delete File"); set
  // before Create.
  void SetTitleId(UINT id) { m_nTitleId = id; }
  UINT GetTitleId() const { return m_nTitleId; }
  // Creates the dialog modeless and hidden, owned by owner.
  bool Create(HWND owner);
  // Remembers the owner's cancel flag and sets it to 0.
  void AttachCancelFlag(int* flag);
  // Shows the dialog and its two lines: the first is message id formatted
  // with the last part of path ('/' or '\\'; the message alone when that
  // part is empty), the second the folder part of secondPath (empty when
  // secondPath is).  Then dispatches every waiting message.
  void SetText(const std::string& path, UINT messageId, const std::string& secondPath);
  // Greys Cancel for a step that cannot stop.
  void DisableCancel();
  void Destroy() { DestroyWindow(); }

  // The two lines as SetText makes them (for the owner and the tests).
  static std::string FirstLine(const std::string& path, const std::string& message);
  static std::string SecondLine(const std::string& secondPath);

  static const UINT kTimerId = 1;
  static const UINT kTimerMs = 30;

protected:
  BOOL OnInitDialog() override;
  void OnOK() override {}  // Enter does nothing
  void OnCancel() override;
  bool OnDialogMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR* result) override;

private:
  void OnTimerTick();

  CEllipsisStatic m_line1;
  int* m_pCancelFlag = nullptr;
  UINT m_nTitleId = 0;
  bool m_bInTimerPump = false;
};
