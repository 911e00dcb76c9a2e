// Dialogs from .rc templates, modal (DoModal) or modeless (Create).
#pragma once

#include "framework/Wnd.h"

class CDialog : public CWnd {
public:
  explicit CDialog(UINT templateId, HWND parent = nullptr)
      : m_nTemplateId(templateId), m_hParent(parent) {}

  // Runs the dialog modally; returns IDOK, IDCANCEL or what EndDialog was
  // given, or -1 when the template could not be used.  Without a parent the
  // application's main window (if any) owns the dialog.
  INT_PTR DoModal();
  // Creates the dialog modeless; it takes part in the application's
  // dialog-message handling (Tab, Enter, Escape) until it is destroyed.
  bool Create(HWND parent);
  void EndDialog(INT_PTR result);
  bool IsModal() const { return m_bModal; }

  std::string GetItemText(int id) const;
  void SetItemText(int id, const std::string& text) const {
    ::SetDlgItemTextW(m_hWnd, id, fileio::Widen(text).c_str());
  }
  void SetItemFont(int id, HFONT font) const {
    ::SendDlgItemMessageW(m_hWnd, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  LRESULT SendItemMessage(int id, UINT msg, WPARAM wp = 0, LPARAM lp = 0) const {
    return ::SendDlgItemMessageW(m_hWnd, id, msg, wp, lp);
  }
  void GotoDlgCtrl(int id) const { ::SetFocus(GetDlgItem(id)); }

protected:
  // Return false when the focus was set here.
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // WM_COMMAND other than IDOK/IDCANCEL; return true when handled.
  virtual bool OnControlCommand(UINT id, UINT code, HWND ctl) { return false; }
  // Dialog messages before the default handling; return true with *result
  // set to stop it.  WM_INITDIALOG and WM_COMMAND are handled by the base.
  virtual bool OnDialogMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR* result) { return false; }
  // Called when the dialog window is gone (modeless dialogs may delete
  // themselves here).
  void PostNcDestroy() override {}

private:
  static INT_PTR CALLBACK StdDlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR HandleDialogMessage(UINT msg, WPARAM wp, LPARAM lp);

  UINT m_nTemplateId;
  HWND m_hParent;
  bool m_bModal = false;
};
