#include "app/RovErarodApp.h"

#include <ole2.h>

#include "app/MainFrm.h"
#include "app/RovErarodDoc.h"
#include "device/DeviceLibrary.h"
#include "device/DiskLoginDlg.h"
#include "framework/Dpi.h"
#include "framework/MessageBox.h"
#include "resources/resource.h"
#include "vault/fileio/WideText.h"

const char CRovErarodApp::kRelaunchMarker[] = "FromAP";
const char CRovErarodApp::kFrameClass[] = "DIVizClass";

CRovErarodApp& GetApp() { return *static_cast<CRovErarodApp*>(HbGetApp()); }

size_t PathNameOffset(const std::string& path) {
  // In UTF-8 no byte of a multi-byte character is a '\\'.
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? 0 : slash + 1;
}

namespace {

std::string ModulePath() {
  wchar_t path[MAX_PATH] = {0};
  DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fileio::Narrow(std::wstring(path, n < MAX_PATH ? n : 0));
}

std::string TempPath() {
  wchar_t temp[MAX_PATH] = {0};
  DWORD n = ::GetTempPathW(MAX_PATH, temp);
  return fileio::Narrow(std::wstring(temp, n < MAX_PATH ? n : 0));
}

// The batch interpreter reads its script in the OEM code page: a path that
// code page cannot spell goes in its short (8.3) form, which it can.
std::string ScriptPath(const std::string& path) {
  std::wstring wide = fileio::Widen(path);
  BOOL lossy = FALSE;
  ::WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr,
                        &lossy);
  if (!lossy) return path;
  wchar_t shortPath[MAX_PATH * 2] = {0};
  DWORD n = ::GetShortPathNameW(wide.c_str(), shortPath, MAX_PATH * 2);
  return (n > 0 && n < MAX_PATH * 2) ? fileio::Narrow(std::wstring(shortPath, n)) : path;
}

}  // namespace

CRovErarodApp::CRovErarodApp() = default;
CRovErarodApp::~CRovErarodApp() = default;

int CRovErarodApp::ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                                  UINT style) {
  return HbMessageBox(owner, text, caption, style);
}

bool CRovErarodApp::RelaunchFromTemp() {
  std::string temp = TempPath();
  if (temp.empty()) return false;
  std::string own = ModulePath();
  if (own.empty()) return false;
  std::string target = temp + own.substr(PathNameOffset(own));
  // Fails harmlessly when a running copy holds the target: that one is started.
  ::CopyFileW(fileio::Widen(own).c_str(), fileio::Widen(target).c_str(), FALSE);

  // The path is quoted, so that a temporary folder with blanks reaches the
  // copy whole and the copy's command line is exactly the marker.
  std::wstring cmd = fileio::Widen("\"" + target + "\" " + kRelaunchMarker);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(fileio::Widen(target).c_str(), &cmd[0], nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &si, &pi))
    return false;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return true;
}

BOOL CRovErarodApp::InitInstance() {
  // 1. The dialog font: the menu font at 12 pixels.
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = 500;  // the size without iPaddedBorderWidth: accepted by every system
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, ncm.cbSize, &ncm, 0)) {
    LOGFONTW lf = ncm.lfMenuFont;
    lf.lfHeight = -HbScale(12, HbGetSystemDpi());  // 12 pixels at 96 DPI
    m_fontDialog.Reset(::CreateFontIndirectW(&lf));
  }
  // 2.
  ::OleInitialize(nullptr);

  // 3. Anything but exactly the marker: run from a copy in the temporary folder.
  if (m_strCmdLine != kRelaunchMarker) {
    RelaunchFromTemp();
    return FALSE;
  }
  // 4.
  m_bRelaunched = 1;

  // 5. One main window only.
  if (HWND other = ::FindWindowW(fileio::Widen(kFrameClass).c_str(), nullptr)) {
    if (::IsIconic(other)) ::ShowWindow(other, SW_RESTORE);
    ::SetForegroundWindow(other);
    return FALSE;
  }

  // 6. The device library beside this copy.
  std::string own = ModulePath();
  std::string library = own.substr(0, PathNameOffset(own)) + "udll.dll";
  ExtractResourceToFile(library.c_str(), IDR_UDLL, "UDLL");
  m_strDeviceLibraryPath = library;

  // 7., 8. First login.
  m_strDisk.clear();
  m_strPassword.clear();
  {
    CDiskLoginDlg dlg;
    if (dlg.DoModal() == IDOK) {
      m_strDisk = dlg.GetDisk();
      m_strPassword = dlg.GetPassword();
    }
  }
  // 9.
  if (m_strDisk.empty()) return FALSE;

  // 10.
  int refuse = 0;
  CheckSecurityArea(&refuse);
  if (refuse) {
    ShowMessageBox(nullptr, LoadResString(IDS_SECURITY_AREA), LoadResString(IDS_ERROR_CAPTION),
                   MB_ICONHAND);
    return FALSE;
  }

  // 11.-15.
  if (!RegisterFrameClass()) return FALSE;
  if (!CreateMainWindow()) return FALSE;
  m_pFrame->ShowWindow(SW_SHOW);
  m_pFrame->UpdateWindow();
  ::SetForegroundWindow(m_pFrame->m_hWnd);
  return TRUE;
}

bool CRovErarodApp::CreateMainWindow() {
  m_pDoc.reset(new CRovErarodDoc);
  m_pFrame.reset(new CMainFrame(m_pDoc.get()));
  m_pMainWnd = m_pFrame.get();
  if (!m_pFrame->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW)) {
    m_pMainWnd = nullptr;
    return false;
  }
  m_pFrame->InitialUpdate();
  return true;
}

bool CRovErarodApp::RegisterFrameClass() {
  HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  return CWnd::RegisterPlainClass(kFrameClass, CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS, icon,
                                  ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */),
                                  reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
}

void CRovErarodApp::CheckSecurityArea(int* refuse) {
  *refuse = 0;
  CDeviceLibrary library;
  UDLL_HANDLE handle = library.UDLL_CreateCUSBDevice();
  if (handle == 0) return;
  if (library.UDLL_DeviceExist(handle) != 0 &&
      library.SelectDiskDrive(handle, m_strDisk.c_str(), 0)) {
    if (library.UDLL_GetDeviceState(handle) & UDLL_STATE_UNSUPPORTED) *refuse = 1;
  }
  library.UDLL_DestroyCUSBDevice(handle);
  library.Release();
}

int CRovErarodApp::ExtractResourceToFile(const char* path, UINT id, const char* type) {
  HMODULE mod = ::GetModuleHandleW(nullptr);
  // The type is a name or, like the resource compiler's own, a number.
  const std::wstring typeName = IS_INTRESOURCE(type) ? std::wstring() : fileio::Widen(type);
  HRSRC res = ::FindResourceW(mod, MAKEINTRESOURCEW(id),
                              IS_INTRESOURCE(type) ? MAKEINTRESOURCEW(LOWORD(reinterpret_cast<ULONG_PTR>(type)))
                                                   : typeName.c_str());
  if (!res) return 0;
  DWORD size = ::SizeofResource(mod, res);
  if (size == 0) return 0;
  HGLOBAL loaded = ::LoadResource(mod, res);
  if (!loaded) return 0;
  const void* data = ::LockResource(loaded);
  if (!data) {
    ::FreeResource(loaded);
    return 0;
  }
  int result = 0;
  HANDLE file = ::CreateFileW(fileio::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    if (::WriteFile(file, data, size, &written, nullptr) && written == size) {
      ::CloseHandle(file);
      result = 1;
    } else {
      ::CloseHandle(file);
      ::DeleteFileW(fileio::Widen(path).c_str());
    }
  }
  ::FreeResource(loaded);
  return result;
}

bool CRovErarodApp::IsSameFolder(const std::string& a, const std::string& b) {
  auto canonical = [](std::string path) {
    std::wstring wide = fileio::Widen(path);
    wchar_t full[MAX_PATH * 2] = {0};
    DWORD n = ::GetFullPathNameW(wide.c_str(), MAX_PATH * 2, full, nullptr);
    if (n > 0 && n < MAX_PATH * 2) wide.assign(full, n);
    wchar_t longer[MAX_PATH * 2] = {0};
    n = ::GetLongPathNameW(wide.c_str(), longer, MAX_PATH * 2);
    if (n > 0 && n < MAX_PATH * 2) wide.assign(longer, n);
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    return wide;
  };
  if (a.empty() || b.empty()) return false;
  return lstrcmpiW(canonical(a).c_str(), canonical(b).c_str()) == 0;
}

std::string CRovErarodApp::SelfDeleteScriptText(const std::string& exe, const std::string& tempFolder,
                                                 const std::string& script) {
  size_t slash = PathNameOffset(exe);
  std::string folder = slash > 0 ? exe.substr(0, slash - 1) : std::string();
  std::string text = FormatString("@echo off\r\n:Repeat\r\ndel \"%s\"\r\nif exist \"%s\" goto Repeat\r\n",
                                  exe.c_str(), exe.c_str());
  // The folder goes when it is empty, but never the temporary folder itself,
  // which other programs rely on - whichever form (8.3 or long) either name
  // is in.
  if (!folder.empty() && !IsSameFolder(tempFolder, folder))
    text += FormatString("rmdir \"%s\"\r\n", folder.c_str());
  text += FormatString("del \"%s\"\r\n", script.c_str());
  return text;
}

void CRovErarodApp::WriteSelfDeleteScript() {
  std::string exe = ModulePath();
  size_t slash = PathNameOffset(exe);
  if (exe.empty() || slash == 0) return;
  std::string folder = exe.substr(0, slash - 1);
  std::string script = folder + "\\DelQV.bat";

  CFileHandle file(::CreateFileW(fileio::Widen(script).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) return;
  std::string text = SelfDeleteScriptText(ScriptPath(exe), ScriptPath(TempPath()),
                                          ScriptPath(script));
  // In the OEM code page, which is what the interpreter reads.
  std::wstring wide = fileio::Widen(text);
  int bytes = ::WideCharToMultiByte(CP_OEMCP, 0, wide.c_str(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string oem(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
  if (bytes > 0)
    ::WideCharToMultiByte(CP_OEMCP, 0, wide.c_str(), static_cast<int>(wide.size()), &oem[0], bytes,
                          nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(file, oem.data(), static_cast<DWORD>(oem.size()), &written, nullptr);
  file.Reset();

  // Quoted: a temporary folder with blanks must not split the script's path.
  std::wstring cmd = fileio::Widen("\"" + script + "\"");
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, nullptr, L"\\", &si, &pi))
    return;
  // Let this process finish before the script does real work.
  ::SetThreadPriority(pi.hThread, THREAD_PRIORITY_IDLE);
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  ::CloseHandle(pi.hProcess);
  ::ResumeThread(pi.hThread);
  ::CloseHandle(pi.hThread);
}

int CRovErarodApp::ExitInstance() {
  ::OleUninitialize();
  // The main window is gone; its view gave back the device library.
  m_pMainWnd = nullptr;
  m_pFrame.reset();
  m_pDoc.reset();
  if (!m_strDeviceLibraryPath.empty()) ::DeleteFileW(fileio::Widen(m_strDeviceLibraryPath).c_str());
  if (m_bRelaunched == 1) WriteSelfDeleteScript();
  m_fontDialog.Reset();
  return CWinApp::ExitInstance();
}
