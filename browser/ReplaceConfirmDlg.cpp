// CReplaceConfirmDlg: the modal replace question and its four answers.
#include "browser/ReplaceConfirmDlg.h"

#include "document/VaultModel.h"
#include "framework/WinApp.h"
#include "resources/dlg_replace.h"

CReplaceConfirmDlg::CReplaceConfirmDlg(HWND parent) : CDialog(IDD_REPLACE_CONFIRM, parent) {}

void CReplaceConfirmDlg::SetName(const std::string& vaultPath) {
  std::string path = ToBackslashes(vaultPath);
  const size_t slash = path.find_last_of('\\');  // UTF-8: never inside a character
  m_strFileName = slash == std::string::npos ? path : path.substr(slash + 1);
}

int CReplaceConfirmDlg::Run() {
  m_nResult = kCancel;
  DoModal();
  return m_nResult;
}

BOOL CReplaceConfirmDlg::OnInitDialog() {
  m_name.SubclassDlgItem(m_hWnd, IDC_REPLACE_NAME);
  if (HFONT font = HbGetApp() ? HbGetApp()->GetDialogFont() : nullptr) {
    for (int id : {IDC_REPLACE_TEXT1, IDC_REPLACE_TEXT2, IDC_REPLACE_NAME, IDOK, IDCANCEL,
                   IDC_REPLACE_ALL, IDC_REPLACE_NO})
      SetItemFont(id, font);
    SetFont(font);
  }
  m_name.SetText("\"" + m_strFileName + "\"");
  return TRUE;
}

bool CReplaceConfirmDlg::OnControlCommand(UINT id, UINT code, HWND) {
  if (code != BN_CLICKED) return false;
  if (id == IDC_REPLACE_NO) {
    Close(kNo);
    return true;
  }
  if (id == IDC_REPLACE_ALL) {
    Close(kReplaceAll);
    return true;
  }
  return false;
}

void CReplaceConfirmDlg::Close(int result) {
  m_nResult = result;
  EndDialog(result);
}
