// hb-transfer-memory: measures the memory of copying one large entry out of
// the vault on disk E: the way the shell does it (Copy in the real view,
// the clipboard's "FileContents" read through its stream).
//   hb-transfer-memory make [MiB]   writes a vault holding big.bin of MiB
//                                   mebibytes (default 1024)
//   hb-transfer-memory copy [--other-process]
//                                   copies big.bin out and prints the bytes,
//                                   the time and the program's working set
//                                   (largest sample and the peak); with
//                                   --other-process a second process reads
//                                   the clipboard, as the shell would
//   hb-transfer-memory read         that second process
// Run "make" and "copy" as separate processes so that the peak belongs to
// the copy alone. A measurement, not a test.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "browser/VaultDataObject.h"
#include "vault/VaultApi.h"

namespace {

const char kVault[] = "E:\\diviz\\vfnest.vfo";

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

SIZE_T WorkingSet(SIZE_T* peak) {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof(c);
  GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof(c));
  if (peak) *peak = c.PeakWorkingSetSize;
  return c.WorkingSetSize;
}

// Text-like data that deflates to about a third: a little of everything.
void Fill(std::vector<char>* block, unsigned seed) {
  unsigned x = seed * 2654435761u + 1;
  static const char kWords[] = "vault entry folder file data journal record stream ";
  for (size_t i = 0; i < block->size(); ++i) {
    x = x * 1103515245u + 12345u;
    (*block)[i] = (x >> 29) == 0 ? static_cast<char>(x >> 16) : kWords[(i + (x >> 27)) % 51];
  }
}

int Make(unsigned mib) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string source = std::string(temp) + "hb_transfer_memory.bin";
  HANDLE f = CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  std::vector<char> block(1 << 20);
  for (unsigned i = 0; i < mib; ++i) {
    Fill(&block, i % 7);
    DWORD written = 0;
    WriteFile(f, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
  }
  CloseHandle(f);
  CreateDirectoryA("E:\\diviz", nullptr);
  DeleteFileA(kVault);
  DWORD start = GetTickCount();
  VaultHandle* w = OpenVaultWriter(kVault, 0, kVaultSourcePath, nullptr);
  if (!w) return 1;
  uint32_t rc = AddVaultEntry(w, "big.bin", source.c_str(), 0, kVaultSourcePath, nullptr, nullptr,
                              nullptr, nullptr);
  CloseVaultHandle(w);
  DeleteFileA(source.c_str());
  std::printf("vault with big.bin of %u MiB: result %u, %.1f s\n", mib, rc,
              (GetTickCount() - start) / 1000.0);
  return rc == 0 ? 0 : 1;
}

// Reads item 0 of the clipboard through its stream; false on failure.
bool ReadItem(unsigned long long* total, unsigned long long* size, SIZE_T* largest) {
  IDataObject* data = nullptr;
  if (FAILED(OleGetClipboard(&data))) return false;
  FORMATETC f{static_cast<CLIPFORMAT>(CVaultDataObject::FormatContents()), nullptr,
              DVASPECT_CONTENT, 0, TYMED_ISTREAM};
  STGMEDIUM m{};
  if (FAILED(data->GetData(&f, &m))) {
    data->Release();
    return false;
  }
  STATSTG st{};
  m.pstm->Stat(&st, STATFLAG_NONAME);
  *size = st.cbSize.QuadPart;
  std::vector<char> buffer(64 * 1024);
  *total = 0;
  for (;;) {
    ULONG got = 0;
    HRESULT hr = m.pstm->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &got);
    *total += got;
    if (largest && (*total >> 20) % 16 == 0) {
      SIZE_T now = WorkingSet(nullptr);
      if (now > *largest) *largest = now;
    }
    if (FAILED(hr) || got < buffer.size()) break;
  }
  ReleaseStgMedium(&m);
  data->Release();
  return true;
}

int Read() {
  OleInitialize(nullptr);
  unsigned long long total = 0, size = 0;
  bool ok = ReadItem(&total, &size, nullptr);
  std::printf("reader process: %llu of %llu bytes\n", total, size);
  OleUninitialize();
  return ok && total == size ? 0 : 1;
}

int Copy(bool otherProcess) {
  OleInitialize(nullptr);
  CRovErarodApp app;
  CRovErarodApp::RegisterFrameClass();
  app.m_strDisk = "E:";
  if (!app.CreateMainWindow()) return 1;
  CRovErarodView* view = app.GetMainFrame()->GetView();
  for (DWORD t = GetTickCount(); view->GetItemCount() < 1 && GetTickCount() - t < 30000;) {
    Pump();
    Sleep(20);
  }
  if (view->GetItemCount() < 1) return 1;
  LVITEMA it{};
  it.stateMask = it.state = LVIS_SELECTED;
  view->SendMessage(LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&it));
  SIZE_T before = WorkingSet(nullptr);
  view->OnCopy();

  unsigned long long total = 0, size = 0;
  SIZE_T largest = 0;
  DWORD start = GetTickCount();
  if (otherProcess) {
    char self[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string cmd = std::string("\"") + self + "\" read";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return 1;
    // Serve the reader's calls, sampling this process meanwhile.
    while (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
      Pump();
      SIZE_T now = WorkingSet(nullptr);
      if (now > largest) largest = now;
      MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 50, QS_ALLINPUT);
    }
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // The reader compared its byte count with the stream's size.
    if (code != 0) return 1;
  } else if (!ReadItem(&total, &size, &largest)) {
    return 1;
  }
  double seconds = (GetTickCount() - start) / 1000.0;
  SIZE_T peak = 0;
  WorkingSet(&peak);
  if (otherProcess)
    std::printf("copied in %.1f s by another process\n", seconds);
  else
    std::printf("copied %llu of %llu bytes in %.1f s (%.0f MB/s)\n", total, size, seconds,
                seconds > 0 ? total / 1048576.0 / seconds : 0.0);
  std::printf("working set: before Copy %.1f MB, largest during the copy %.1f MB, "
              "process peak %.1f MB\n",
              before / 1048576.0, largest / 1048576.0, peak / 1048576.0);
  app.m_pMainWnd = nullptr;
  DestroyWindow(app.GetMainFrame()->m_hWnd);
  OleUninitialize();
  return total == size ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "make") return Make(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1024);
  if (cmd == "copy") return Copy(argc > 2 && std::string(argv[2]) == "--other-process");
  if (cmd == "read") return Read();
  std::fprintf(stderr, "usage: hb-transfer-memory make [MiB] | copy [--other-process] | read\n");
  return 2;
}
