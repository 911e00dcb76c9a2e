// hb-dialog-preview: shows the progress or the replace dialog, or one of the
// questions about a changed opened file, with sample texts until it is
// closed or the given seconds have passed (for looking at them in each
// language; scripts/dialog-screens takes the pictures).
//
//   hb-dialog-preview progress-delete|progress-add|replace|copy-changed|
//                     copy-entry-gone|copy-keep [seconds]
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>

#include "browser/ProgressDlg.h"
#include "browser/ReplaceConfirmDlg.h"
#include "framework/WinApp.h"
#include "framework/Wnd.h"
#include "vault/fileio/WideText.h"
#include "resources/resource.h"

namespace {

class CPreviewApp : public CWinApp {};

// Names in several scripts (UTF-8), as they come from the shell.
const char kLongName[] =
    u8"Holiday pictures 2023/Très long dossier/写真 Ωμέγα — a file name much too long to be shown whole 😀.jpg";

void RunFor(DWORD ms) {
  DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < ms) {
    HbPumpMessages();
    ::Sleep(20);
  }
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  CPreviewApp app;
  std::string what = argc > 1 ? argv[1] : "progress-delete";
  DWORD ms = static_cast<DWORD>(argc > 2 ? std::atoi(argv[2]) * 1000 : 10000);

  if (what.compare(0, 5, "copy-") == 0) {
    // A message box closes on No (every one of these has it).
    ::SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR, DWORD) {
      HWND box = ::FindWindowA("#32770", nullptr);
      if (box) ::PostMessageA(box, WM_COMMAND, IDNO, 0);
    });
    const char* name = u8"Отчёт 北部地区 2024.docx";
    std::string text;
    UINT style = MB_ICONQUESTION | MB_YESNO;
    if (what == "copy-changed") {
      text = FormatString(LoadResString(IDS_COPY_CHANGED).c_str(), name);
      style = MB_ICONQUESTION | MB_YESNOCANCEL;
    } else if (what == "copy-entry-gone") {
      text = FormatString(LoadResString(IDS_COPY_ENTRY_GONE).c_str(), name, u8"Reports\\2024");
    } else {
      text = FormatString(LoadResString(IDS_COPY_KEEP).c_str(), name,
                          (std::string("C:\\users\\me\\Temp\\hbopened\\Kept\\") + name).c_str());
      style = MB_ICONEXCLAMATION | MB_YESNO;
    }
    ::MessageBoxW(nullptr, fileio::Widen(text).c_str(), fileio::Widen(LoadResString(IDS_INFORMATION)).c_str(), style);
    return 0;
  }
  if (what == "replace") {
    // Closes itself after the time is up.
    ::SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR, DWORD) {
      HWND dlg = ::FindWindowA("#32770", nullptr);
      if (dlg) ::PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
    });
    CReplaceConfirmDlg dlg;
    dlg.SetName(u8"Reports/2024/Отчёт по северному региону — 北部地区季度报告, final version.docx");
    dlg.Run();
    return 0;
  }
  CProgressDlg dlg;
  bool add = what == "progress-add";
  dlg.SetTitleId(add ? IDS_ADD_FILE : IDS_DELETE_TITLE);
  if (!dlg.Create(nullptr)) return 1;
  if (add)
    dlg.SetText(kLongName, IDS_COPY_FILE, "C:\\Users\\me\\Pictures\\Holiday\\beach.jpg");
  else
    dlg.SetText(kLongName, IDS_DELETING_FILE, "");
  RunFor(ms);
  return 0;
}
