// Tests of the real hollowbox.exe, started as a user would from disk E: of
// the test prefix, with the real device library it carries.  E:'s secure
// area is set with udll-admin.  Message boxes are answered through the
// HB_MSGBOX_LOG hook, windows are driven by messages.
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <fstream>

#include "GuiTestSupport.h"
#include "resources/dlg_changepassword.h"
#include "resources/dlg_disklogin.h"
#include "resources/resource.h"
#include "framework/WinApp.h"

using namespace hbtest;

namespace {

const char kPassword[] = "Open4Me";

std::string WinPath(const char* unixPath) {
  std::string p = std::string("Z:") + unixPath;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

// Runs a program and waits for it; returns its exit code (or -1).
int RunAndWait(const std::string& cmdLine, const char* cwd = nullptr, DWORD timeoutMs = 60000) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string cmd = cmdLine;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, cwd, &si, &pi))
    return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

int UdllAdmin(const std::string& args) {
  return RunAndWait("\"" + WinPath(HB_UDLL_ADMIN) + "\" " + args);
}

// Process ids of running hollowbox.exe processes with their image paths.
std::vector<std::pair<DWORD, std::string>> HollowboxProcesses() {
  std::vector<std::pair<DWORD, std::string>> out;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return out;
  PROCESSENTRY32 pe{};
  pe.dwSize = sizeof(pe);
  for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
    if (lstrcmpiW(pe.szExeFile, L"hollowbox.exe") != 0) continue;
    std::string image;
    if (HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.th32ProcessID)) {
      char buf[MAX_PATH] = {0};
      DWORD n = MAX_PATH;
      if (QueryFullProcessImageNameA(h, 0, buf, &n)) image.assign(buf, n);
      CloseHandle(h);
    }
    out.emplace_back(pe.th32ProcessID, image);
  }
  CloseHandle(snap);
  return out;
}

// The command line of another process, read from its process parameters.
std::wstring CommandLineOf(DWORD pid) {
  std::wstring result;
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!h) return result;
  typedef NTSTATUS(NTAPI * QueryFn)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION pbi{};
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS params{};
  SIZE_T got = 0;
  if (query && query(h, ProcessBasicInformation, &pbi, sizeof(pbi), nullptr) == 0 &&
      ReadProcessMemory(h, pbi.PebBaseAddress, &peb, sizeof(peb), &got) &&
      ReadProcessMemory(h, peb.ProcessParameters, &params, sizeof(params), &got)) {
    result.resize(params.CommandLine.Length / sizeof(wchar_t));
    ReadProcessMemory(h, params.CommandLine.Buffer, &result[0], params.CommandLine.Length, &got);
  }
  CloseHandle(h);
  return result;
}

HWND FindLoginDialog() { return FindWindowA("#32770", "Disk Login"); }
HWND FindPasswordDialog() { return FindWindowA("#32770", "Change Password"); }

// A text field ("password", "hint") of E:'s emulated secure area, as the
// device library stored it; "(none)" when the line is absent.
std::string SecureAreaField(const std::string& field) {
  std::ifstream in("E:\\.udll-secure", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, field.size() + 1, field + " ") != 0) continue;
    std::string hex = line.substr(field.size() + 1), text;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return text;
  }
  return "(none)";
}

// The list view of the main window (enabled exactly while logged in).
HWND FindList(HWND frame) { return FindWindowExA(frame, nullptr, "SysListView32", nullptr); }
HWND FindFrame() { return FindWindowA("DIVizClass", nullptr); }

class ProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(HollowboxProcesses().empty()) << "another hollowbox.exe is running";
    ASSERT_EQ(0, UdllAdmin(std::string("set E: --password ") + kPassword + " --hint \"seven letters\" --state 0"));
    // A temporary folder with blanks in its path, just for this test.
    m_temp = TempDir() + "hb app test " + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(m_temp.c_str(), nullptr);
    m_log = m_temp + "boxes.log";
    SetEnv("TEMP", m_temp);
    SetEnv("TMP", m_temp);
    SetEnv("HB_MSGBOX_LOG", m_log);
    SetEnv("HB_MSGBOX_ANSWER", "");
    m_copy = m_temp + "hollowbox.exe";
    m_library = m_temp + "udll.dll";
    // The program as it is found on the disk.
    ASSERT_TRUE(CopyFileA(WinPath(HB_APP_EXE).c_str(), "E:\\hollowbox.exe", FALSE));
  }

  void TearDown() override {
    // Whatever the test left, end it through its own windows.
    if (HWND d = FindLoginDialog()) PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    if (HWND f = FindFrame()) PostMessageA(f, WM_CLOSE, 0, 0);
    WaitFor([] { return HollowboxProcesses().empty(); });
    WaitFor([&] { return !FileExists(m_copy); });
    DeleteFileA(m_log.c_str());
    DeleteFileA((m_temp + "DelQV.bat").c_str());
    RemoveDirectoryA((m_temp + "udll.dll").c_str());
    RemoveDirectoryA(m_temp.c_str());
    DeleteFileA("E:\\hollowbox.exe");
    UdllAdmin("set E: --state 0");
  }

  // Starts E:\hollowbox.exe as a user would and waits for that first
  // process to end; returns its exit.
  bool StartFromDisk(const std::string& args = "") {
    std::string cmd = "E:\\hollowbox.exe" + (args.empty() ? "" : " " + args);
    return RunAndWait(cmd, "E:\\") >= 0;
  }

  HWND WaitForLoginDialog() {
    HWND d = nullptr;
    WaitFor([&] { return (d = FindLoginDialog()) != nullptr && IsWindowVisible(d); });
    return d;
  }

  void Login(HWND dlg, const char* password) {
    SendMessageA(GetDlgItem(dlg, IDC_LOGIN_PASSWORD), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password));
    PostMessageA(dlg, WM_COMMAND, IDOK, 0);
  }

  std::vector<LoggedBox> Boxes() const { return ReadBoxLog(m_log); }

  bool EndedAndCleanedUp() {
    return WaitFor([&] { return HollowboxProcesses().empty(); }) &&
           WaitFor([&] { return !FileExists(m_copy) && !FileExists(m_library); });
  }

  EnvGuard m_env{{"TEMP", "TMP", "HB_MSGBOX_LOG", "HB_MSGBOX_ANSWER"}};
  std::string m_temp, m_log, m_copy, m_library;
};

TEST_F(ProgramTest, ChangedPasswordAndHintAreStoredOnTheDiskAndOpenItNextTime) {
  const char kNew[] = "Fresh-Pass-0015";  // 15 characters
  ASSERT_TRUE(StartFromDisk());
  HWND dlg = WaitForLoginDialog();
  ASSERT_NE(nullptr, dlg);
  Login(dlg, kPassword);
  HWND frame = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (frame = FindFrame()) != nullptr && IsWindowVisible(frame); }));

  PostMessageA(frame, WM_COMMAND, ID_CHANGE_PASSWORD, 0);
  HWND change = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (change = FindPasswordDialog()) != nullptr && IsWindowVisible(change); }));
  for (int id : {IDC_NEWPW, IDC_NEWPW_CONFIRM})
    SendMessageA(GetDlgItem(change, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kNew));
  SendMessageA(GetDlgItem(change, IDC_NEWPW_HINT), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>("fresh and fifteen"));
  PostMessageA(change, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return FindPasswordDialog() == nullptr; }));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(kNew, SecureAreaField("password"));
  EXPECT_EQ("fresh and fifteen", SecureAreaField("hint"));

  // Log out and in again: the old password is wrong now, the new hint shows.
  PostMessageA(frame, WM_COMMAND, ID_LOGIN, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowEnabled(FindList(frame)); }));
  PostMessageA(frame, WM_COMMAND, ID_LOGIN, 0);
  dlg = WaitForLoginDialog();
  ASSERT_NE(nullptr, dlg);
  EXPECT_EQ("fresh and fifteen", WindowText(GetDlgItem(dlg, IDC_LOGIN_HINT)));
  Login(dlg, kPassword);
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1; }));
  EXPECT_EQ("Wrong Password !  Please try again.", Boxes()[0].text);
  EXPECT_TRUE(IsWindow(dlg));
  Login(dlg, kNew);
  ASSERT_TRUE(WaitFor([&] { return FindLoginDialog() == nullptr; }));
  EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(FindList(frame)) != FALSE; }));
  EXPECT_EQ(1u, Boxes().size());

  PostMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0);
  EXPECT_TRUE(EndedAndCleanedUp());
}

TEST_F(ProgramTest, PasswordChangedBehindTheProgramsBackIsRefusedAndSaidSo) {
  ASSERT_TRUE(StartFromDisk());
  HWND dlg = WaitForLoginDialog();
  ASSERT_NE(nullptr, dlg);
  Login(dlg, kPassword);
  HWND frame = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (frame = FindFrame()) != nullptr && IsWindowVisible(frame); }));
  // Another tool changes the password: the one typed at login is stale.
  ASSERT_EQ(0, UdllAdmin("set E: --password Elsewhere1"));

  PostMessageA(frame, WM_COMMAND, ID_CHANGE_PASSWORD, 0);
  HWND change = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (change = FindPasswordDialog()) != nullptr && IsWindowVisible(change); }));
  for (int id : {IDC_NEWPW, IDC_NEWPW_CONFIRM})
    SendMessageA(GetDlgItem(change, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Mine2"));
  PostMessageA(change, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1; }));
  EXPECT_EQ("The password was not changed. Check the disk and try again.", Boxes()[0].text);
  EXPECT_EQ("Error Message", Boxes()[0].caption);
  EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), Boxes()[0].style);
  EXPECT_TRUE(IsWindow(change));  // open for another try
  EXPECT_EQ("Elsewhere1", SecureAreaField("password"));
  PostMessageA(change, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitFor([&] { return FindPasswordDialog() == nullptr; }));
  PostMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0);
  EXPECT_TRUE(EndedAndCleanedUp());
}

TEST_F(ProgramTest, RelaunchesFromTempLogsInShowsTheFrameAndCleansUpAtExit) {
  ASSERT_TRUE(StartFromDisk());
  HWND dlg = WaitForLoginDialog();
  ASSERT_NE(nullptr, dlg);

  // Exactly one process runs: the copy in the temporary folder, whose
  // command line after its (quoted) path is exactly the marker.
  auto procs = HollowboxProcesses();
  ASSERT_EQ(1u, procs.size());
  EXPECT_EQ(0, lstrcmpiA(procs[0].second.c_str(), m_copy.c_str())) << procs[0].second;
  std::wstring cmd = CommandLineOf(procs[0].first);
  std::string narrow(cmd.begin(), cmd.end());
  EXPECT_EQ("FromAP", CWinApp::CommandTail(narrow.c_str())) << narrow;
  EXPECT_TRUE(FileExists(m_library));  // the device library beside the copy

  EXPECT_EQ("seven letters", WindowText(GetDlgItem(dlg, IDC_LOGIN_HINT)));
  Login(dlg, kPassword);
  HWND frame = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (frame = FindFrame()) != nullptr && IsWindowVisible(frame); }));
  EXPECT_EQ("Hollowbox (Version:3.2.1.72)", WindowText(frame));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(FileExists(m_library));

  PostMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0);
  EXPECT_TRUE(EndedAndCleanedUp());
  EXPECT_TRUE(WaitFor([&] { return !FileExists(m_temp + "DelQV.bat"); }));  // the script goes too
  EXPECT_TRUE(DirExists(m_temp));  // the temporary folder itself stays
}

TEST_F(ProgramTest, CommandLinesOtherThanTheExactMarkerRelaunch) {
  for (const char* args : {"fromap", "FromAP extra"}) {
    ASSERT_TRUE(StartFromDisk(args));
    HWND dlg = WaitForLoginDialog();
    ASSERT_NE(nullptr, dlg) << args;
    auto procs = HollowboxProcesses();
    ASSERT_EQ(1u, procs.size()) << args;
    EXPECT_EQ(0, lstrcmpiA(procs[0].second.c_str(), m_copy.c_str())) << args;
    PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(EndedAndCleanedUp()) << args;
    EXPECT_TRUE(Boxes().empty());
  }
}

TEST_F(ProgramTest, SecondStartBringsTheRunningWindowForward) {
  ASSERT_TRUE(StartFromDisk());
  HWND dlg = WaitForLoginDialog();
  ASSERT_NE(nullptr, dlg);
  Login(dlg, kPassword);
  HWND frame = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (frame = FindFrame()) != nullptr && IsWindowVisible(frame); }));
  DWORD firstPid = 0;
  GetWindowThreadProcessId(frame, &firstPid);

  ASSERT_TRUE(StartFromDisk());
  // The second copy ends by itself without a dialog of its own.
  EXPECT_TRUE(WaitFor([&] { return HollowboxProcesses().size() == 1; }));
  EXPECT_EQ(nullptr, FindLoginDialog());
  EXPECT_EQ(frame, FindFrame());
  EXPECT_EQ(frame, GetForegroundWindow());
  auto procs = HollowboxProcesses();
  ASSERT_EQ(1u, procs.size());
  EXPECT_EQ(firstPid, procs[0].first);

  PostMessageA(frame, WM_CLOSE, 0, 0);
  EXPECT_TRUE(EndedAndCleanedUp());
}

TEST_F(ProgramTest, WrongPasswordsShowMessage31AndKeepTheDialog) {
  ASSERT_TRUE(StartFromDisk());
  HWND dlg = WaitForLoginDialog();
  ASSERT_NE(nullptr, dlg);
  Login(dlg, "open4me");  // differs in case only
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 1; }));
  Login(dlg, "wrong");
  ASSERT_TRUE(WaitFor([&] { return Boxes().size() == 2; }));
  EXPECT_TRUE(IsWindow(dlg));
  EXPECT_EQ(nullptr, FindFrame());
  for (const auto& b : Boxes()) {
    EXPECT_EQ("Wrong Password !  Please try again.", b.text);
    EXPECT_EQ("Error Message", b.caption);
    EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), b.style);
  }
  // Cancel ends the program silently.
  PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(EndedAndCleanedUp());
  EXPECT_EQ(2u, Boxes().size());
  EXPECT_EQ(nullptr, FindFrame());
}

TEST_F(ProgramTest, DiskWithoutPasswordOpensWithAnEmptyField) {
  ASSERT_EQ(0, UdllAdmin("set E: --no-password --no-hint"));
  ASSERT_TRUE(StartFromDisk());
  HWND dlg = WaitForLoginDialog();
  ASSERT_NE(nullptr, dlg);
  EXPECT_EQ("", WindowText(GetDlgItem(dlg, IDC_LOGIN_HINT)));
  Login(dlg, "");
  HWND frame = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (frame = FindFrame()) != nullptr && IsWindowVisible(frame); }));
  EXPECT_TRUE(Boxes().empty());
  PostMessageA(frame, WM_CLOSE, 0, 0);
  EXPECT_TRUE(EndedAndCleanedUp());
}

TEST_F(ProgramTest, SecurityAreaStateIsRefusedWithMessage353) {
  ASSERT_EQ(0, UdllAdmin("set E: --state 2"));
  ASSERT_TRUE(StartFromDisk());
  HWND dlg = WaitForLoginDialog();
  ASSERT_NE(nullptr, dlg);
  Login(dlg, kPassword);
  EXPECT_TRUE(EndedAndCleanedUp());
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("This function is not supported because there is a security area in USB disk!",
            boxes[0].text);
  EXPECT_EQ("Error Message", boxes[0].caption);
  EXPECT_EQ(static_cast<unsigned>(MB_ICONHAND), boxes[0].style);
  EXPECT_EQ(nullptr, FindFrame());
}

TEST_F(ProgramTest, WithoutItsDeviceLibraryTheProgramEndsSilently) {
  // A folder where udll.dll would go: the library cannot be written.
  ASSERT_TRUE(CreateDirectoryA(m_library.c_str(), nullptr));
  ASSERT_TRUE(StartFromDisk());
  EXPECT_TRUE(WaitFor([&] { return HollowboxProcesses().empty(); }));
  EXPECT_TRUE(WaitFor([&] { return !FileExists(m_copy); }));
  EXPECT_EQ(nullptr, FindLoginDialog());
  EXPECT_EQ(nullptr, FindFrame());
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
