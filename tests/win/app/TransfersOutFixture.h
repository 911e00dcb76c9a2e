// What the tests of taking files out share: test vaults on disk E:, the
// shell's side of reading a data object (descriptors, contents, effects),
// child processes of the test program, and the fixture around the real
// frame and view.
//
// Wine 8's clipboard object answers SetData with E_NOTIMPL, so the effects
// a target reports are delivered to the program's own data object, which is
// what the shell's call reaches on Windows.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "StoredEntries.h"
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "browser/VaultDataObject.h"
#include "document/EntryReader.h"
#include "document/OpenedCopies.h"
#include "framework/ComRef.h"
#include "resources/resource.h"
#include "vault/VaultApi.h"

namespace hbout {

using namespace hbtest;

const char kVault[] = "E:\\diviz\\vfnest.vfo";

inline FILETIME Utc(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
  SYSTEMTIME st{};
  st.wYear = y; st.wMonth = mo; st.wDay = d; st.wHour = h; st.wMinute = mi;
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

inline std::string Data(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 31 + seed * 7 + i / 97) % 26);
  return s;
}

// One entry of a test vault: a folder (name ends in "/") or a file with its
// data and modified time.
struct Source {
  std::string name;
  std::string data;
  FILETIME modified{};
};

inline std::string StoredData(const std::string& name) {
  CEntryReader r;
  if (!r.Open(kVault, name)) return "<no vault>";
  std::string out(static_cast<size_t>(r.Size()), '\0');
  if (!out.empty() && r.Read(&out[0], out.size()) != static_cast<long>(out.size())) return "<bad>";
  return out;
}

// What a descriptor says about one item.
struct Described {
  std::string name;
  DWORD flags, attributes, size;
  FILETIME created, accessed, modified;
};

inline std::vector<Described> ReadDescriptors(IDataObject* data, bool wide) {
  std::vector<Described> out;
  FORMATETC f{static_cast<CLIPFORMAT>(wide ? CVaultDataObject::FormatDescriptorW()
                                           : CVaultDataObject::FormatDescriptorA()),
              nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM m{};
  if (FAILED(data->GetData(&f, &m))) return out;
  const BYTE* p = static_cast<const BYTE*>(GlobalLock(m.hGlobal));
  UINT n = *reinterpret_cast<const UINT*>(p);
  for (UINT i = 0; i < n; ++i) {
    Described d;
    if (wide) {
      const auto* w = reinterpret_cast<const FILEDESCRIPTORW*>(p + sizeof(UINT)) + i;
      d = {fileio::Narrow(w->cFileName), w->dwFlags, w->dwFileAttributes, w->nFileSizeLow,
           w->ftCreationTime, w->ftLastAccessTime, w->ftLastWriteTime};
    } else {
      const auto* a = reinterpret_cast<const FILEDESCRIPTORA*>(p + sizeof(UINT)) + i;
      d = {a->cFileName, a->dwFlags, a->dwFileAttributes, a->nFileSizeLow,
           a->ftCreationTime, a->ftLastAccessTime, a->ftLastWriteTime};
    }
    out.push_back(d);
  }
  GlobalUnlock(m.hGlobal);
  ReleaseStgMedium(&m);
  return out;
}

inline std::vector<std::string> NamesOf(const std::vector<Described>& d) {
  std::vector<std::string> names;
  for (const Described& x : d) names.push_back(x.name);
  return names;
}

// The contents of item index through the stream the object hands out.
inline std::string ReadContents(IDataObject* data, LONG index, HRESULT* result = nullptr,
                         ULONG chunk = 4096) {
  FORMATETC f{static_cast<CLIPFORMAT>(CVaultDataObject::FormatContents()), nullptr,
              DVASPECT_CONTENT, index, TYMED_ISTREAM};
  STGMEDIUM m{};
  HRESULT hr = data->GetData(&f, &m);
  if (result) *result = hr;
  if (FAILED(hr)) return "<failed>";
  std::string out;
  std::vector<char> buf(chunk);
  for (;;) {
    ULONG got = 0;
    hr = m.pstm->Read(buf.data(), chunk, &got);
    out.append(buf.data(), got);
    if (FAILED(hr)) {
      out += "<read error>";
      break;
    }
    if (got < chunk) break;
  }
  ReleaseStgMedium(&m);
  return out;
}

inline DWORD ReadEffect(IDataObject* data) {
  FORMATETC f{static_cast<CLIPFORMAT>(CVaultDataObject::FormatPreferredEffect()), nullptr,
              DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM m{};
  if (FAILED(data->GetData(&f, &m))) return 0xFFFFFFFF;
  DWORD v = *static_cast<DWORD*>(GlobalLock(m.hGlobal));
  GlobalUnlock(m.hGlobal);
  ReleaseStgMedium(&m);
  return v;
}

// What a drop target sends back: the medium is handed over.
inline HRESULT Deliver(IDataObject* data, UINT cf, const void* bytes, size_t n) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, n);
  std::memcpy(GlobalLock(h), bytes, n);
  GlobalUnlock(h);
  FORMATETC f{static_cast<CLIPFORMAT>(cf), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM m{};
  m.tymed = TYMED_HGLOBAL;
  m.hGlobal = h;
  return data->SetData(&f, &m, TRUE);
}

inline HRESULT DeliverEffect(IDataObject* data, DWORD effect) {
  return Deliver(data, CVaultDataObject::FormatPerformedEffect(), &effect, sizeof(effect));
}

inline bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

inline void ShowRowsOf(CRovErarodView* view, std::vector<std::string>* out) {
  out->clear();
  for (int i = 0; i < view->GetItemCount(); ++i) out->push_back(view->GetRowText(i, 0));
}

// FNV-1a of a byte string, to compare contents across processes.
inline unsigned long long Hash(const std::string& s) {
  unsigned long long h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

// Starts this test program running one disabled test; the child sees
// HB_OUT_RESULT.
inline HANDLE StartChild(const char* test, const std::string& resultFile) {
  char self[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string cmd = std::string("\"") + self + "\" --gtest_also_run_disabled_tests " +
                    "--gtest_filter=TransfersOutChild." + test;
  SetEnv("HB_OUT_RESULT", resultFile);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  BOOL ok = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnv("HB_OUT_RESULT", "");
  if (!ok) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

class TransfersOutTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pid = std::to_string(GetCurrentProcessId());
    m_src = TempDir() + "hb_out_src_" + pid;
    SetEnv("HB_MSGBOX_LOG", TempDir() + "hb_out_boxes_" + pid + ".log");
    SetEnv("HB_MSGBOX_ANSWER", "");
    SetEnv("HB_FAKE_DRIVES", "");
    SetEnv("HB_FAKE_DEVICE", "");
    SetEnv("HB_FAKE_STATE", "");
    DeleteFileA(kVault);
    ASSERT_TRUE(CRovErarodApp::RegisterFrameClass());
  }

  void TearDown() override {
    m_app.m_pMainWnd = nullptr;
    if (m_frame && m_frame->m_hWnd) DestroyWindow(m_frame->m_hWnd);
    OleSetClipboard(nullptr);
    DeleteFileA(kVault);
    RemoveDirectoryA("E:\\diviz");
    for (const std::string& f : m_files) DeleteFileA(f.c_str());
    RemoveDirectoryA(m_src.c_str());
  }

  // Docs/ (a.txt, a.txt.bak, Sub/deep.bin), b.txt, note.txt, empty.txt.
  void MakeStandardVault() {
    Build({{"Docs/", "", {}},
           {"Docs/a.txt", Data(1000, 1), Utc(2018, 5, 5, 8, 0)},
           {"Docs/a.txt.bak", Data(50, 2), Utc(2018, 5, 5, 9, 0)},
           {"Docs/Sub/", "", {}},
           {"Docs/Sub/deep.bin", Data(70000, 3), Utc(2018, 5, 6, 8, 0)},
           {"b.txt", Data(2000, 4), Utc(2020, 1, 1, 15, 30)},
           {"note.txt", "hello from the vault\r\n", Utc(2021, 2, 3, 4, 5)},
           {"empty.txt", "", Utc(2019, 9, 9, 23, 59)}});
  }

  void Build(const std::vector<Source>& entries) {
    CreateDirectoryA("E:\\diviz", nullptr);
    CreateDirectoryA(m_src.c_str(), nullptr);
    VaultHandle* w = OpenVaultWriter(kVault, 0, kVaultSourcePath, nullptr);
    ASSERT_NE(nullptr, w);
    int n = 0;
    for (const Source& s : entries) {
      uint32_t rc;
      if (!s.name.empty() && s.name.back() == '/') {
        rc = AddVaultEntry(w, s.name.c_str(), nullptr, 0, kVaultSourceFolder, nullptr, nullptr,
                           nullptr, nullptr);
      } else {
        std::string file = m_src + "\\f" + std::to_string(n++);
        HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD written = 0;
        if (!s.data.empty()) WriteFile(h, s.data.data(), static_cast<DWORD>(s.data.size()), &written, nullptr);
        SetFileTime(h, &s.modified, &s.modified, &s.modified);
        CloseHandle(h);
        m_files.push_back(file);
        rc = AddVaultEntry(w, s.name.c_str(), file.c_str(), 0, kVaultSourcePath, nullptr, nullptr,
                           nullptr, nullptr);
      }
      ASSERT_EQ(0u, rc) << s.name;
    }
    ASSERT_EQ(0u, CloseVaultHandle(w));
  }

  void Open(int rows) {
    m_app.m_strDisk = "E:";
    m_app.m_strPassword = "pw";
    ASSERT_TRUE(m_app.CreateMainWindow());
    m_frame = m_app.GetMainFrame();
    m_view = m_frame->GetView();
    ASSERT_NE(nullptr, m_view);
    ASSERT_TRUE(WaitFor([&] { return m_view->GetItemCount() == rows; }))
        << m_view->GetItemCount() << " rows";
  }

  int RowOf(const std::string& name) {
    for (int i = 0; i < m_view->GetItemCount(); ++i)
      if (m_view->GetRowText(i, 0) == name) return i;
    return -1;
  }
  void Select(int row, bool on = true) {
    LVITEMA it{};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = on ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
    m_view->SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&it));
  }
  void SelectOnly(std::initializer_list<const char*> names) {
    Select(-1, false);
    for (const char* n : names) Select(RowOf(n));
  }
  void Command(UINT id) { m_frame->SendMessage(WM_COMMAND, id, 0); }
  void Notify(UINT code) {
    NMLISTVIEW nm{};
    nm.hdr.hwndFrom = m_view->m_hWnd;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(m_view->m_hWnd));
    nm.hdr.code = code;
    nm.iItem = -1;
    m_frame->SendMessage(WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
  }
  // What the shell gets from the clipboard.
  CComRef<IDataObject> Clipboard() {
    CComRef<IDataObject> data;
    EXPECT_EQ(S_OK, OleGetClipboard(data.Put()));
    return data;
  }

  EnvGuard m_env{{"HB_MSGBOX_LOG", "HB_MSGBOX_ANSWER", "HB_FAKE_DRIVES", "HB_FAKE_DEVICE",
                  "HB_FAKE_STATE"}};
  CRovErarodApp m_app;
  CMainFrame* m_frame = nullptr;
  CRovErarodView* m_view = nullptr;
  std::string m_src;
  std::vector<std::string> m_files;
};

}  // namespace hbout
