// Entry point of hollowbox.exe.
#include <windows.h>
#include <commctrl.h>

#include "app/RovErarodApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&icc);
  CRovErarodApp app;
  return app.WinMainEntry();
}
