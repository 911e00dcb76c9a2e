// hb-drive: drives a running hollowbox.exe from outside, for the run script
// and the screenshots.  Windows are found by class and control ids, never by
// their (translated) titles.
//
//   hb-drive wait-login [seconds]   waits for the Disk Login dialog
//   hb-drive login PASSWORD         types PASSWORD into it and presses Login
//   hb-drive wait-frame [seconds]   waits for the main window
//   hb-drive close                  closes the main window
//   hb-drive cancel                 cancels the Disk Login dialog
//   hb-drive sort COLUMN            clicks the list's column header COLUMN (0-4)
//   hb-drive command ID             sends menu command ID to the main window
//   hb-drive wait-password [seconds] waits for the Change Password dialog
//   hb-drive hover ROW              moves the mouse onto the name of list row ROW
// With HB_DRIVE_DESKTOP set, the windows are looked for on that desktop (a
// Wine virtual desktop started with "explorer /desktop=NAME,WxH").
// Exit status 0 when done, 1 when the window did not turn up.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "resources/dlg_changepassword.h"
#include "resources/dlg_disklogin.h"

namespace {

BOOL CALLBACK FindLogin(HWND hwnd, LPARAM lp) {
  char cls[32] = {0};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(hwnd) &&
      GetDlgItem(hwnd, IDC_LOGIN_PASSWORD) && GetDlgItem(hwnd, IDC_LOGIN_DISK)) {
    *reinterpret_cast<HWND*>(lp) = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND LoginDialog() {
  HWND found = nullptr;
  EnumWindows(FindLogin, reinterpret_cast<LPARAM>(&found));
  return found;
}

BOOL CALLBACK FindPassword(HWND hwnd, LPARAM lp) {
  char cls[32] = {0};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(hwnd) &&
      GetDlgItem(hwnd, IDC_NEWPW_CONFIRM)) {
    *reinterpret_cast<HWND*>(lp) = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND PasswordDialog() {
  HWND found = nullptr;
  EnumWindows(FindPassword, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND Frame() {
  HWND h = FindWindowA("DIVizClass", nullptr);
  return h && IsWindowVisible(h) ? h : nullptr;
}

HWND WaitFor(HWND (*find)(), int seconds) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND h = find()) return h;
    if (GetTickCount() - start > static_cast<DWORD>(seconds) * 1000) return nullptr;
    Sleep(100);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: hb-drive wait-login|login PASSWORD|wait-frame|close|cancel\n");
    return 2;
  }
  std::string cmd = argv[1];
  int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
  if (seconds <= 0) seconds = 60;
  char desktop[128] = {0};
  DWORD n = GetEnvironmentVariableA("HB_DRIVE_DESKTOP", desktop, sizeof(desktop));
  if (n > 0 && n < sizeof(desktop)) {
    // The desktop may still be coming up.
    DWORD start = GetTickCount();
    HDESK d = nullptr;
    while (!(d = OpenDesktopA(desktop, 0, FALSE, GENERIC_ALL)) &&
           GetTickCount() - start < static_cast<DWORD>(seconds) * 1000)
      Sleep(100);
    if (!d || !SetThreadDesktop(d)) {
      std::fprintf(stderr, "hb-drive: cannot use desktop %s\n", desktop);
      return 1;
    }
  }
  if (cmd == "wait-login") return WaitFor(LoginDialog, seconds) ? 0 : 1;
  if (cmd == "wait-frame") return WaitFor(Frame, seconds) ? 0 : 1;
  if (cmd == "login" && argc > 2) {
    HWND dlg = WaitFor(LoginDialog, 60);
    if (!dlg) return 1;
    SendMessageA(GetDlgItem(dlg, IDC_LOGIN_PASSWORD), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(argv[2]));
    PostMessageA(dlg, WM_COMMAND, IDOK, 0);
    return 0;
  }
  if (cmd == "cancel") {
    HWND dlg = LoginDialog();
    if (!dlg) return 1;
    PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
  if (cmd == "sort" && argc > 2) {
    HWND f = Frame();
    HWND list = f ? FindWindowExA(f, nullptr, "SysListView32", nullptr) : nullptr;
    HWND header = list ? FindWindowExA(list, nullptr, "SysHeader32", nullptr) : nullptr;
    if (!header) return 1;
    // Header rectangles live in the other process: walk the visible header
    // and click the middle of column COLUMN by its widths.
    int column = std::atoi(argv[2]);
    int x = 0;
    for (int c = 0; c <= column; ++c) {
      int w = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0));
      if (c == column) x += w / 2; else x += w;
    }
    LPARAM at = MAKELPARAM(x, 5);
    SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(header, WM_LBUTTONUP, 0, at);
    return 0;
  }
  if (cmd == "wait-password") return WaitFor(PasswordDialog, seconds) ? 0 : 1;
  if (cmd == "command" && argc > 2) {
    HWND f = Frame();
    if (!f) return 1;
    PostMessageA(f, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[2])), 0);
    return 0;
  }
  if (cmd == "hover" && argc > 2) {
    HWND f = Frame();
    HWND list = f ? FindWindowExA(f, nullptr, "SysListView32", nullptr) : nullptr;
    HWND header = list ? FindWindowExA(list, nullptr, "SysHeader32", nullptr) : nullptr;
    if (!header) return 1;
    // Row height from the list's own estimate of one and two rows.
    auto viewHeight = [list](int rows) {
      return HIWORD(SendMessageA(list, LVM_APPROXIMATEVIEWRECT, rows, MAKELPARAM(-1, -1)));
    };
    int rowHeight = viewHeight(2) - viewHeight(1);
    RECT hr{};
    GetWindowRect(header, &hr);
    POINT p{static_cast<LONG>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0) / 2),
            (hr.bottom - hr.top) + rowHeight * std::atoi(argv[2]) + rowHeight / 2};
    ClientToScreen(list, &p);
    for (int dx : {3, 0}) {  // two moves: the list sees the mouse arrive
      INPUT in{};
      in.type = INPUT_MOUSE;
      in.mi.dx = MulDiv(p.x + dx, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
      in.mi.dy = MulDiv(p.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
      in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
      SendInput(1, &in, sizeof(in));
      Sleep(200);
    }
    return 0;
  }
  if (cmd == "close") {
    HWND f = Frame();
    if (!f) return 1;
    PostMessageA(f, WM_CLOSE, 0, 0);
    return 0;
  }
  std::fprintf(stderr, "hb-drive: unknown command %s\n", cmd.c_str());
  return 2;
}
