// CReplaceConfirmDlg: the modal "Confirm File Replace" question asked for a
// file that the vault holds already.  Yes (and Enter) answers 1, No 2,
// Replace All 3, Cancel (and Escape) 0.
#pragma once

#include <string>

#include "browser/EllipsisStatic.h"
#include "framework/Dialog.h"

class CReplaceConfirmDlg : public CDialog {
public:
  enum Result { kCancel = 0, kYes = 1, kNo = 2, kReplaceAll = 3 };

  explicit CReplaceConfirmDlg(HWND parent = nullptr);

  // The existing file's vault path ('/' or '\\'); its last part is shown.
  void SetName(const std::string& vaultPath);
  const std::string& GetFileName() const { return m_strFileName; }
  // Runs the dialog modally; the answer (0 when the dialog could not run).
  int Run();
  int GetResult() const { return m_nResult; }

protected:
  BOOL OnInitDialog() override;
  void OnOK() override { Close(kYes); }
  void OnCancel() override { Close(kCancel); }
  bool OnControlCommand(UINT id, UINT code, HWND ctl) override;

private:
  void Close(int result);

  CEllipsisStatic m_name;
  std::string m_strFileName;
  int m_nResult = kCancel;
};
