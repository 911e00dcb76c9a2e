#include "framework/Dialog.h"

#include "framework/WinApp.h"

INT_PTR CDialog::DoModal() {
  HWND parent = m_hParent;
  if (!parent && HbGetApp()) parent = HbGetApp()->GetMainWnd();
  m_bModal = true;
  INT_PTR r = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId),
                                parent, &CDialog::StdDlgProc, reinterpret_cast<LPARAM>(this));
  m_bModal = false;
  return r;
}

bool CDialog::Create(HWND parent) {
  if (m_hWnd) return false;
  m_bModal = false;
  HWND h = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId),
                                parent, &CDialog::StdDlgProc, reinterpret_cast<LPARAM>(this));
  if (!h) return false;
  if (HbGetApp()) HbGetApp()->AddModeless(h);
  return true;
}

void CDialog::EndDialog(INT_PTR result) {
  if (!m_hWnd) return;
  if (m_bModal)
    ::EndDialog(m_hWnd, result);
  else
    ::DestroyWindow(m_hWnd);
}

std::string CDialog::GetItemText(int id) const {
  HWND h = GetDlgItem(id);
  if (!h) return std::string();
  int n = ::GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = ::GetWindowTextW(h, &s[0], n + 1);
  s.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return fileio::Narrow(s);
}

INT_PTR CALLBACK CDialog::StdDlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CDialog* pDlg = nullptr;
  if (msg == WM_INITDIALOG) {
    pDlg = reinterpret_cast<CDialog*>(lp);
    pDlg->Attach(hwnd);
  } else {
    pDlg = static_cast<CDialog*>(CWnd::FromHandle(hwnd));
  }
  if (!pDlg) return FALSE;
  INT_PTR r = pDlg->HandleDialogMessage(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    if (HbGetApp()) HbGetApp()->RemoveModeless(hwnd);
    pDlg->DetachAfterDestroy(hwnd);
    pDlg->PostNcDestroy();
  }
  return r;
}

INT_PTR CDialog::HandleDialogMessage(UINT msg, WPARAM wp, LPARAM lp) {
  INT_PTR result = 0;
  if (msg != WM_INITDIALOG && OnDialogMessage(msg, wp, lp, &result)) {
    ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
  }
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND: {
      UINT id = LOWORD(wp);
      UINT code = HIWORD(wp);
      HWND ctl = reinterpret_cast<HWND>(lp);
      if (id == IDOK && (code == BN_CLICKED || !ctl)) { OnOK(); return TRUE; }
      if (id == IDCANCEL && (code == BN_CLICKED || !ctl)) { OnCancel(); return TRUE; }
      return OnControlCommand(id, code, ctl) ? TRUE : FALSE;
    }
    default:
      return FALSE;
  }
}
