// In-process tests of taking files out of the vault: Copy, Cut and drag
// hand the shell virtual files, read back here the way the shell reads them
// (descriptors, then the contents of every index, then the performed
// effect); opening a file with its program and the copies' clean-up. The
// vaults are written on disk E: of the test prefix; the device library
// beside the program is the scriptable fake.
//
// Wine 8's clipboard object answers SetData with E_NOTIMPL, so the effects
// a target reports are delivered to the program's own data object, which is
// what the shell's call reaches on Windows.
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
#include "app/MainFrm.h"
#include "app/RovErarodApp.h"
#include "browser/RovErarodView.h"
#include "browser/VaultDataObject.h"
#include "document/EntryReader.h"
#include "document/OpenedCopies.h"
#include "framework/ComRef.h"
#include "resources/resource.h"
#include "vault/VaultApi.h"

using namespace hbtest;

namespace {

const char kVault[] = "E:\\diviz\\vfnest.vfo";

FILETIME Utc(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
  SYSTEMTIME st{};
  st.wYear = y; st.wMonth = mo; st.wDay = d; st.wHour = h; st.wMinute = mi;
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

std::string Data(size_t n, int seed) {
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

std::vector<std::string> StoredNames() {
  std::vector<std::string> names;
  VaultHandle* h = OpenVaultReader(kVault, 0, kVaultSourcePath, nullptr);
  if (!h) return names;
  ZipEntryInfo info;
  int count = ReadEntryInfo(h, -1, &info) == 0 ? info.index : 0;
  for (int i = 0; i < count; ++i) {
    ZipEntryInfo e;
    if (ReadEntryInfo(h, i, &e) == 0) names.push_back(e.name);
  }
  CloseVaultHandle(h);
  return names;
}

std::string StoredData(const std::string& name) {
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

std::vector<Described> ReadDescriptors(IDataObject* data, bool wide) {
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
      char name[MAX_PATH * 2] = {0};
      WideCharToMultiByte(CP_ACP, 0, w->cFileName, -1, name, sizeof(name), nullptr, nullptr);
      d = {name, w->dwFlags, w->dwFileAttributes, w->nFileSizeLow,
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

std::vector<std::string> NamesOf(const std::vector<Described>& d) {
  std::vector<std::string> names;
  for (const Described& x : d) names.push_back(x.name);
  return names;
}

// The contents of item index through the stream the object hands out.
std::string ReadContents(IDataObject* data, LONG index, HRESULT* result = nullptr,
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

DWORD ReadEffect(IDataObject* data) {
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
HRESULT Deliver(IDataObject* data, UINT cf, const void* bytes, size_t n) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, n);
  std::memcpy(GlobalLock(h), bytes, n);
  GlobalUnlock(h);
  FORMATETC f{static_cast<CLIPFORMAT>(cf), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM m{};
  m.tymed = TYMED_HGLOBAL;
  m.hGlobal = h;
  return data->SetData(&f, &m, TRUE);
}

HRESULT DeliverEffect(IDataObject* data, DWORD effect) {
  return Deliver(data, CVaultDataObject::FormatPerformedEffect(), &effect, sizeof(effect));
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void ShowRowsOf(CRovErarodView* view, std::vector<std::string>* out) {
  out->clear();
  for (int i = 0; i < view->GetItemCount(); ++i) out->push_back(view->GetRowText(i, 0));
}

// FNV-1a of a byte string, to compare contents across processes.
unsigned long long Hash(const std::string& s) {
  unsigned long long h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

// Starts this test program running one disabled test; the child sees
// HB_OUT_RESULT.
HANDLE StartChild(const char* test, const std::string& resultFile) {
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

TEST_F(TransfersOutTest, CopyOfOneFileHandsOverExactlyThatFile) {
  MakeStandardVault();
  Open(4);
  ASSERT_EQ(0, RowOf("Docs"));
  Notify(NM_DBLCLK);  // nothing selected: nothing happens
  Select(0);
  Notify(NM_DBLCLK);
  ASSERT_EQ(3, m_view->GetItemCount());  // Sub, a.txt, a.txt.bak
  SelectOnly({"a.txt"});
  Command(ID_EDIT_COPY);
  ASSERT_TRUE(m_view->ClipboardHoldsOwnObject());

  CComRef<IDataObject> data = Clipboard();
  ASSERT_TRUE(data);
  for (bool wide : {false, true}) {
    std::vector<Described> d = ReadDescriptors(data.Get(), wide);
    ASSERT_EQ(1u, d.size()) << wide;
    EXPECT_EQ("a.txt", d[0].name);
    EXPECT_EQ(0x407Cu, d[0].flags);
    EXPECT_EQ(1000u, d[0].size);
    EXPECT_EQ(0u, d[0].attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(SameTime(Utc(2018, 5, 5, 8, 0), d[0].modified));
  }
  EXPECT_EQ(static_cast<DWORD>(DROPEFFECT_COPY), ReadEffect(data.Get()));
  EXPECT_EQ(Data(1000, 1), ReadContents(data.Get(), 0));
  HRESULT hr = S_OK;
  ReadContents(data.Get(), 1, &hr);
  EXPECT_TRUE(FAILED(hr));  // no second item

  // The copy was performed: the vault keeps everything.
  std::vector<std::string> before = StoredNames();
  CVaultDataObject* own = m_view->GetClipboardObject();
  ASSERT_NE(nullptr, own);
  EXPECT_EQ(S_OK, DeliverEffect(own, DROPEFFECT_COPY));
  EXPECT_EQ(before, StoredNames());
  EXPECT_TRUE(m_view->ClipboardHoldsOwnObject());
  EXPECT_EQ(3, m_view->GetItemCount());
}

std::vector<UINT> Enumerate(IEnumFORMATETC* e) {
  std::vector<UINT> out;
  FORMATETC f[2];
  ULONG got = 0;
  while (e->Next(2, f, &got) == S_OK || got > 0) {
    for (ULONG i = 0; i < got; ++i) out.push_back(f[i].cfFormat);
    if (got < 2) break;
  }
  return out;
}

TEST_F(TransfersOutTest, TheObjectNamesWhatItOffersAndWhatATargetMaySet) {
  MakeStandardVault();
  Open(4);
  SelectOnly({"b.txt"});
  Command(ID_EDIT_CUT);
  CVaultDataObject* own = m_view->GetClipboardObject();
  ASSERT_NE(nullptr, own);
  CComRef<IEnumFORMATETC> get, set, clone;
  ASSERT_EQ(S_OK, own->EnumFormatEtc(DATADIR_GET, get.Put()));
  const std::vector<UINT> offered = {
      CVaultDataObject::FormatDescriptorA(), CVaultDataObject::FormatDescriptorW(),
      CVaultDataObject::FormatContents(), CVaultDataObject::FormatPreferredEffect()};
  EXPECT_EQ(offered, Enumerate(get.Get()));
  EXPECT_EQ(S_OK, get->Reset());
  EXPECT_EQ(S_OK, get->Skip(3));
  ASSERT_EQ(S_OK, get->Clone(clone.Put()));
  EXPECT_EQ(std::vector<UINT>{CVaultDataObject::FormatPreferredEffect()}, Enumerate(clone.Get()));
  EXPECT_EQ(S_FALSE, get->Skip(5));
  ASSERT_EQ(S_OK, own->EnumFormatEtc(DATADIR_SET, set.Put()));
  EXPECT_EQ((std::vector<UINT>{CVaultDataObject::FormatLogicalPerformedEffect(),
                               CVaultDataObject::FormatPerformedEffect(),
                               CVaultDataObject::FormatTargetClsid()}),
            Enumerate(set.Get()));
  // A format a target sets that the object does not act on is kept and
  // offered back (the shell's drag helpers keep their state that way).
  UINT other = RegisterClipboardFormatA("HbTestTargetState");
  DWORD value = 42;
  EXPECT_EQ(S_OK, Deliver(own, other, &value, sizeof(value)));
  FORMATETC f{static_cast<CLIPFORMAT>(other), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_EQ(S_OK, own->QueryGetData(&f));
  STGMEDIUM m{};
  ASSERT_EQ(S_OK, own->GetData(&f, &m));
  EXPECT_EQ(42u, *static_cast<DWORD*>(GlobalLock(m.hGlobal)));
  GlobalUnlock(m.hGlobal);
  ReleaseStgMedium(&m);
  f.cfFormat = static_cast<CLIPFORMAT>(CVaultDataObject::FormatContents());
  f.tymed = TYMED_HGLOBAL;
  EXPECT_EQ(DV_E_TYMED, own->QueryGetData(&f));  // contents come as streams only
}

TEST_F(TransfersOutTest, AFolderTreeComesOutWithNamesRelativeToTheCurrentFolder) {
  MakeStandardVault();
  Open(4);
  Select(RowOf("Docs"));
  Notify(NM_DBLCLK);
  SelectOnly({"Sub", "a.txt.bak"});
  Command(ID_EDIT_COPY);
  CComRef<IDataObject> data = Clipboard();
  ASSERT_TRUE(data);
  std::vector<Described> d = ReadDescriptors(data.Get(), false);
  std::vector<std::string> names = NamesOf(d);
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"Sub", "Sub\\deep.bin", "a.txt.bak"}), names);
  for (size_t i = 0; i < d.size(); ++i) {
    if (d[i].name == "Sub") {
      EXPECT_NE(0u, d[i].attributes & FILE_ATTRIBUTE_DIRECTORY);
    } else {
      std::string expected = d[i].name == "a.txt.bak" ? Data(50, 2) : Data(70000, 3);
      // Any read size gives the same bytes, the large one included.
      EXPECT_EQ(expected, ReadContents(data.Get(), static_cast<LONG>(i), nullptr, 65536)) << i;
      EXPECT_EQ(expected.size(), d[i].size);
    }
  }
  // The whole selection at the root: every entry once.
  Command(ID_UP_FOLDER);
  Command(ID_SELECT_ALL);
  Command(ID_EDIT_COPY);
  data = Clipboard();
  names = NamesOf(ReadDescriptors(data.Get(), true));
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"Docs", "Docs\\Sub", "Docs\\Sub\\deep.bin", "Docs\\a.txt",
                                      "Docs\\a.txt.bak", "b.txt", "empty.txt", "note.txt"}),
            names);
}

TEST_F(TransfersOutTest, CutOfAFolderThenAPerformedMoveTakesItOutOfTheVault) {
  MakeStandardVault();
  Open(4);
  SelectOnly({"Docs", "b.txt"});
  Command(ID_EDIT_CUT);
  CComRef<IDataObject> data = Clipboard();
  ASSERT_TRUE(data);
  EXPECT_EQ(static_cast<DWORD>(DROPEFFECT_MOVE), ReadEffect(data.Get()));
  std::vector<Described> d = ReadDescriptors(data.Get(), false);
  ASSERT_EQ(6u, d.size());
  for (size_t i = 0; i < d.size(); ++i) ReadContents(data.Get(), static_cast<LONG>(i));
  data.Reset();

  CVaultDataObject* own = m_view->GetClipboardObject();
  ASSERT_NE(nullptr, own);
  EXPECT_EQ(S_OK, DeliverEffect(own, DROPEFFECT_MOVE));
  // The vault, not only the rows: Docs and everything under it are gone,
  // the rest is intact.
  EXPECT_EQ((std::vector<std::string>{"note.txt", "empty.txt"}), StoredNames());
  EXPECT_EQ("hello from the vault\r\n", StoredData("note.txt"));
  std::vector<std::string> rows;
  ShowRowsOf(m_view, &rows);
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ((std::vector<std::string>{"empty.txt", "note.txt"}), rows);
  EXPECT_FALSE(m_view->ClipboardHoldsOwnObject());
  EXPECT_EQ(nullptr, m_view->GetClipboardObject());
}

TEST_F(TransfersOutTest, AMoveKeepsWhatTheTargetNeverReadInFull) {
  MakeStandardVault();
  Open(4);
  SelectOnly({"Docs"});
  Command(ID_EDIT_CUT);
  CComRef<IDataObject> data = Clipboard();
  std::vector<Described> d = ReadDescriptors(data.Get(), false);
  // The target stops before deep.bin.
  for (size_t i = 0; i < d.size(); ++i)
    if (d[i].name != "Docs\\Sub\\deep.bin") ReadContents(data.Get(), static_cast<LONG>(i));
  data.Reset();
  EXPECT_EQ(S_OK, DeliverEffect(m_view->GetClipboardObject(), DROPEFFECT_MOVE));
  EXPECT_EQ((std::vector<std::string>{"Docs/", "Docs/Sub/", "Docs/Sub/deep.bin", "b.txt",
                                      "note.txt", "empty.txt"}),
            StoredNames());
  EXPECT_EQ(Data(70000, 3), StoredData("Docs/Sub/deep.bin"));
}

TEST_F(TransfersOutTest, AMoveIntoTheRecycleBinAndAPerformedCopyDeleteNothing) {
  MakeStandardVault();
  Open(4);
  SelectOnly({"b.txt"});
  Command(ID_EDIT_CUT);
  CComRef<IDataObject> data = Clipboard();
  EXPECT_EQ(Data(2000, 4), ReadContents(data.Get(), 0));
  CVaultDataObject* own = m_view->GetClipboardObject();
  const CLSID recycleBin = {0x645ff040, 0x5081, 0x101b,
                            {0x9f, 0x08, 0x00, 0xaa, 0x00, 0x2f, 0x95, 0x4e}};
  std::vector<std::string> before = StoredNames();
  EXPECT_EQ(S_OK, Deliver(own, CVaultDataObject::FormatTargetClsid(), &recycleBin, sizeof(CLSID)));
  EXPECT_TRUE(own->IgnoresNextEffect());
  EXPECT_EQ(S_OK, DeliverEffect(own, DROPEFFECT_MOVE));
  EXPECT_FALSE(own->IgnoresNextEffect());
  EXPECT_EQ(before, StoredNames());
  // A target that copied, and the logical effect, change nothing either.
  DWORD move = DROPEFFECT_MOVE;
  EXPECT_EQ(S_OK, Deliver(own, CVaultDataObject::FormatLogicalPerformedEffect(), &move, 4));
  EXPECT_EQ(S_OK, DeliverEffect(own, DROPEFFECT_COPY));
  EXPECT_EQ(before, StoredNames());
  EXPECT_TRUE(m_view->ClipboardHoldsOwnObject());
}

TEST_F(TransfersOutTest, AnEntryGoneFromTheVaultGivesAnEmptyStreamAndCallersStreamsAreFilled) {
  MakeStandardVault();
  Open(4);
  SelectOnly({"b.txt", "empty.txt"});
  Command(ID_EDIT_COPY);
  CComRef<IDataObject> data = Clipboard();
  std::vector<Described> d = ReadDescriptors(data.Get(), false);
  ASSERT_EQ(2u, d.size());
  LONG b = d[0].name == "b.txt" ? 0 : 1;

  // A stream of the caller's own is written into.
  CComRef<IStream> mine;
  ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, mine.Put()));
  FORMATETC f{static_cast<CLIPFORMAT>(CVaultDataObject::FormatContents()), nullptr,
              DVASPECT_CONTENT, b, TYMED_ISTREAM};
  STGMEDIUM m{};
  m.tymed = TYMED_ISTREAM;
  m.pstm = mine.Get();
  ASSERT_EQ(S_OK, m_view->GetClipboardObject()->GetDataHere(&f, &m));
  STATSTG st{};
  ASSERT_EQ(S_OK, mine->Stat(&st, STATFLAG_NONAME));
  EXPECT_EQ(2000u, st.cbSize.QuadPart);

  // The stream's own size and name.
  f.lindex = b;
  ASSERT_EQ(S_OK, m_view->GetClipboardObject()->GetData(&f, &m));
  ASSERT_EQ(S_OK, m.pstm->Stat(&st, STATFLAG_DEFAULT));
  EXPECT_EQ(2000u, st.cbSize.QuadPart);
  EXPECT_STREQ(L"b.txt", st.pwcsName);
  CoTaskMemFree(st.pwcsName);
  LARGE_INTEGER back;
  back.QuadPart = -10;
  ULARGE_INTEGER at{};
  EXPECT_EQ(S_OK, m.pstm->Seek(back, STREAM_SEEK_END, &at));
  EXPECT_EQ(1990u, at.QuadPart);
  char tail[20] = {0};
  ULONG got = 0;
  EXPECT_EQ(S_FALSE, m.pstm->Read(tail, sizeof(tail), &got));
  EXPECT_EQ(Data(2000, 4).substr(1990), std::string(tail, got));
  ReleaseStgMedium(&m);

  // The vault no longer holds b.txt: an empty stream, not a failure.
  DeleteFileA(kVault);
  Build({{"note.txt", "x", Utc(2021, 1, 1, 0, 0)}});
  HRESULT hr = E_FAIL;
  EXPECT_EQ("", ReadContents(data.Get(), b, &hr));
  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ("", ReadContents(data.Get(), 1 - b, &hr));  // the empty file
  EXPECT_EQ(S_OK, hr);
}

TEST_F(TransfersOutTest, CommandsNeedASelectionAndADiskAndTheToolbarOffersThem) {
  MakeStandardVault();
  Open(4);
  Select(-1, false);
  Command(ID_EDIT_COPY);
  EXPECT_EQ(nullptr, m_view->GetClipboardObject());
  SelectOnly({"b.txt"});
  m_view->UpdateToolbar();
  EXPECT_FALSE(m_frame->GetToolBar().IsButtonHidden(ID_EDIT_COPY));
  EXPECT_FALSE(m_frame->GetToolBar().IsButtonHidden(ID_EDIT_CUT));
  CCmdUI ui(ID_EDIT_CUT);
  EXPECT_TRUE(m_view->OnUpdateCmdUI(ui));
  EXPECT_TRUE(ui.m_bEnabled);
  // The accelerators reach the same commands.
  MSG msg{m_view->m_hWnd, WM_KEYDOWN, 'C', 0, 0, {0, 0}};
  BYTE keys[256] = {0};
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  EXPECT_TRUE(m_frame->PreTranslateMessage(&msg));
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  EXPECT_NE(nullptr, m_view->GetClipboardObject());
  EXPECT_EQ(CVaultDataObject::kCopy, m_view->GetClipboardObject()->GetMode());

  Command(ID_LOGIN);  // logout: nothing more goes out
  OleSetClipboard(nullptr);
  Command(ID_EDIT_CUT);
  EXPECT_FALSE(m_view->ClipboardHoldsOwnObject());
}

TEST_F(TransfersOutTest, AfterALoginToAnotherDiskTheItemsAreNotTakenFromItsVault) {
  MakeStandardVault();
  Open(4);
  SelectOnly({"b.txt"});
  Command(ID_EDIT_CUT);
  CComRef<IDataObject> data = Clipboard();
  // Disk F: has a b.txt of its own.
  const char kOther[] = "F:\\diviz\\vfnest.vfo";
  CreateDirectoryA("F:\\diviz", nullptr);
  VaultHandle* w = OpenVaultWriter(kOther, 0, kVaultSourcePath, nullptr);
  ASSERT_NE(nullptr, w);
  const std::string other = "the other disk's b.txt";
  ASSERT_EQ(0u, AddVaultEntry(w, "b.txt", other.data(), static_cast<uint32_t>(other.size()),
                              kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr));
  ASSERT_EQ(0u, CloseVaultHandle(w));
  Command(ID_LOGIN);  // logout
  HRESULT hr = S_OK;
  ReadContents(data.Get(), 0, &hr);
  EXPECT_TRUE(FAILED(hr));
  m_view->LoginTo("F:", "pw");
  ReadContents(data.Get(), 0, &hr);
  EXPECT_TRUE(FAILED(hr));  // not F:'s b.txt
  EXPECT_EQ(S_OK, DeliverEffect(m_view->GetClipboardObject(), DROPEFFECT_MOVE));
  CEntryReader r;
  EXPECT_TRUE(r.Open(kOther, "b.txt"));
  EXPECT_TRUE(r.Found());
  DeleteFileA(kOther);
  RemoveDirectoryA("F:\\diviz");
}

TEST_F(TransfersOutTest, DeleteEmptiesTheClipboardWhenItHoldsTheViewsItems) {
  MakeStandardVault();
  Open(4);
  SelectOnly({"b.txt"});
  Command(ID_EDIT_COPY);
  ASSERT_TRUE(m_view->ClipboardHoldsOwnObject());
  SelectOnly({"empty.txt"});
  SetEnv("HB_MSGBOX_ANSWER", "6");  // Yes to the question
  Command(ID_DELETE_FILE);
  EXPECT_FALSE(m_view->ClipboardHoldsOwnObject());
  EXPECT_FALSE(IsClipboardFormatAvailable(CVaultDataObject::FormatDescriptorA()));
  EXPECT_EQ((std::vector<std::string>{"Docs/", "Docs/a.txt", "Docs/a.txt.bak", "Docs/Sub/",
                                      "Docs/Sub/deep.bin", "b.txt", "note.txt"}),
            StoredNames());
  // Another program's clipboard content is left alone.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
  std::memcpy(GlobalLock(h), "abc", 4);
  GlobalUnlock(h);
  SetClipboardData(CF_TEXT, h);
  CloseClipboard();
  SelectOnly({"note.txt"});
  Command(ID_DELETE_FILE);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));
}

// A drop target of the test's own: takes what is dropped the way the
// desktop shell would and answers with a copy.
class TestDropTarget : public IDropTarget {
public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IDropTarget) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override {
    ++entered;
    *effect &= DROPEFFECT_COPY;
    return S_OK;
  }
  STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override {
    *effect &= DROPEFFECT_COPY;
    return S_OK;
  }
  STDMETHODIMP DragLeave() override { return S_OK; }
  STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    names = NamesOf(ReadDescriptors(data, true));
    for (size_t i = 0; i < names.size(); ++i) contents.push_back(ReadContents(data, static_cast<LONG>(i)));
    FORMATETC f{static_cast<CLIPFORMAT>(CVaultDataObject::FormatPreferredEffect()), nullptr,
                DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    offersPreferred = data->QueryGetData(&f) == S_OK;
    *effect = DROPEFFECT_COPY;
    return S_OK;
  }
  int entered = 0;
  bool offersPreferred = true;
  std::vector<std::string> names, contents;
};

void Input(DWORD flags, int x = 0, int y = 0) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  if (flags & MOUSEEVENTF_ABSOLUTE) {
    in.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
  }
  SendInput(1, &in, sizeof(in));
}

TEST_F(TransfersOutTest, DraggingOutHandsTheItemsToTheDropTargetAsACopy) {
  MakeStandardVault();
  Open(4);
  m_frame->ShowWindow(SW_SHOW);
  SetWindowPos(m_frame->m_hWnd, HWND_TOP, 0, 0, 600, 400, SWP_SHOWWINDOW);
  // A window of a plain class: a static control is transparent to the
  // hit test that finds the window under the mouse.
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "HbTestDropTarget";
  RegisterClassA(&wc);
  HWND target = CreateWindowExA(WS_EX_TOPMOST, "HbTestDropTarget", "drop here", WS_POPUP | WS_VISIBLE, 700,
                                100, 300, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, target);
  TestDropTarget drop;
  ASSERT_EQ(S_OK, RegisterDragDrop(target, &drop));
  WaitFor([] { return false; }, 300);  // let both windows show
  SelectOnly({"Docs"});
  DragAcceptFiles(m_view->m_hWnd, TRUE);

  // The button goes down (over the target, where nothing takes the mouse)
  // before the drag begins; a helper thread moves the mouse about the target
  // and lets go while the drag loop runs.
  Input(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 720, 120);
  Input(MOUSEEVENTF_LEFTDOWN);
  WaitFor([] { return false; }, 200);
  bool acceptedDuring = true;
  CRovErarodView* view = m_view;
  HANDLE mover = CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
    std::unique_ptr<std::pair<CRovErarodView*, bool*>> flag(
        static_cast<std::pair<CRovErarodView*, bool*>*>(p));
    Sleep(300);
    for (int i = 1; i <= 10; ++i) {
      Input(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 720 + i * 20, 120 + i * 15);
      Sleep(60);
    }
    *flag->second = (GetWindowLongPtrA(flag->first->m_hWnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
    Sleep(200);
    Input(MOUSEEVENTF_LEFTUP);
    return 0;
  }, new std::pair<CRovErarodView*, bool*>(view, &acceptedDuring), 0, nullptr);
  Notify(LVN_BEGINDRAG);  // returns when the drag loop ends
  WaitForSingleObject(mover, 10000);
  CloseHandle(mover);

  EXPECT_FALSE(acceptedDuring);  // no drops on the view during its own drag
  EXPECT_NE(0, GetWindowLongPtrA(m_view->m_hWnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  EXPECT_FALSE(m_view->IsDraggingOut());
  EXPECT_GE(drop.entered, 1);
  std::vector<std::string> names = drop.names;
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"Docs", "Docs\\Sub", "Docs\\Sub\\deep.bin", "Docs\\a.txt",
                                      "Docs\\a.txt.bak"}),
            names);
  for (size_t i = 0; i < drop.names.size(); ++i) {
    if (drop.names[i] == "Docs\\a.txt") {
      EXPECT_EQ(Data(1000, 1), drop.contents[i]);
    }
  }
  EXPECT_FALSE(drop.offersPreferred);  // a drag object names no preferred effect
  EXPECT_EQ(8u, StoredNames().size());  // a drag copies
  RevokeDragDrop(target);
  DestroyWindow(target);
}

// --- Opening with the associated program.

// Wine's prefix knows notepad's command but not the .txt extension.
void AssociateTxtWithNotepad() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, ".txt", 0, nullptr, 0, KEY_WRITE,
                      nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("txtfile"), 8);
    RegCloseKey(key);
  }
}

struct NotepadFind {
  DWORD pid = 0;
  HWND hwnd = nullptr;
};
BOOL CALLBACK FindNotepadProc(HWND hwnd, LPARAM lp) {
  char cls[64] = {0};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (lstrcmpiA(cls, "Notepad") == 0 && IsWindowVisible(hwnd)) {
    auto* f = reinterpret_cast<NotepadFind*>(lp);
    f->hwnd = hwnd;
    GetWindowThreadProcessId(hwnd, &f->pid);
    return FALSE;
  }
  return TRUE;
}
NotepadFind FindNotepad() {
  NotepadFind f;
  EnumWindows(FindNotepadProc, reinterpret_cast<LPARAM>(&f));
  return f;
}

std::vector<std::string> CopiesIn(const std::string& folder) {
  std::vector<std::string> out;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(folder + fd.cFileName);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return out;
}

void KillNotepads() {
  for (int i = 0; i < 5; ++i) {
    NotepadFind f = FindNotepad();
    if (!f.hwnd) return;
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, f.pid);
    if (p) {
      TerminateProcess(p, 0);
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
    }
  }
}

TEST_F(TransfersOutTest, DoubleClickOpensAReadOnlyCopyInNotepadThatGoesWhenNotepadCloses) {
  AssociateTxtWithNotepad();
  KillNotepads();
  MakeStandardVault();
  Open(4);
  const std::string folder = m_view->GetOpenedCopiesFolder();
  EXPECT_EQ(TempDir() + "hbopened\\", folder);
  EXPECT_TRUE(CopiesIn(folder).empty());
  SelectOnly({"note.txt"});
  Notify(NM_DBLCLK);
  std::vector<std::string> copies = CopiesIn(folder);
  ASSERT_EQ(1u, copies.size());
  EXPECT_NE(0u, GetFileAttributesA(copies[0].c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(".txt", copies[0].substr(copies[0].size() - 4));
  EXPECT_EQ(1, m_view->GetWatcherCount());
  NotepadFind np;
  ASSERT_TRUE(WaitFor([&] { return (np = FindNotepad()).hwnd != nullptr; }, 20000));
  // The copy holds the entry's bytes while notepad shows it.
  HANDLE f = CreateFileA(copies[0].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  char buf[64] = {0};
  DWORD got = 0;
  ReadFile(f, buf, sizeof(buf), &got, nullptr);
  CloseHandle(f);
  EXPECT_EQ("hello from the vault\r\n", std::string(buf, got));

  // The watcher wakes on the program's end (no polling to wait out).
  PostMessageA(np.hwnd, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return m_view->GetWatcherCount() == 0; }, 30000));
  EXPECT_TRUE(CopiesIn(folder).empty());
  KillNotepads();
}

TEST_F(TransfersOutTest, ClosingTheProgramWhileTheFilesProgramRunsEndsTheWatcherAtOnce) {
  AssociateTxtWithNotepad();
  KillNotepads();
  MakeStandardVault();
  Open(4);
  const std::string folder = m_view->GetOpenedCopiesFolder();
  SelectOnly({"note.txt"});
  Notify(NM_DBLCLK);
  ASSERT_EQ(1u, CopiesIn(folder).size());
  ASSERT_TRUE(WaitFor([&] { return FindNotepad().hwnd != nullptr; }, 20000));
  EXPECT_EQ(1, m_view->GetWatcherCount());
  // The view's teardown wakes its watchers and waits for them; a copy still
  // held by a watcher would be spared by the final sweep, so its absence
  // right after the window is gone shows the watcher has ended.
  m_app.m_pMainWnd = nullptr;
  DestroyWindow(m_frame->m_hWnd);
  EXPECT_TRUE(CopiesIn(folder).empty());
  EXPECT_TRUE(FindNotepad().hwnd != nullptr);  // the program itself stays
  KillNotepads();
}

TEST_F(TransfersOutTest, AFileNothingOpensIsRemovedAtOnce) {
  Build({{"strange.zzqq", "data", Utc(2021, 1, 1, 0, 0)}});
  Open(1);
  SelectOnly({"strange.zzqq"});
  Notify(NM_DBLCLK);
  EXPECT_EQ(0, m_view->GetWatcherCount());
  EXPECT_TRUE(CopiesIn(m_view->GetOpenedCopiesFolder()).empty());
}

// A copy left by an instance that was killed while its file was open is
// gone once the program starts again.
TEST_F(TransfersOutTest, ACopyLeftByAKilledInstanceIsGoneAfterTheNextStart) {
  AssociateTxtWithNotepad();
  KillNotepads();
  MakeStandardVault();
  // The other instance: this test program, opening note.txt and then
  // waiting to be killed.
  HANDLE child = StartChild("DISABLED_OpenAndWait", "");
  ASSERT_NE(nullptr, child);
  const std::string folder = OpenedCopiesFolder(TempDir());
  bool opened = WaitFor([&] { return !CopiesIn(folder).empty() && FindNotepad().hwnd; }, 60000);
  TerminateProcess(child, 9);
  WaitForSingleObject(child, 10000);
  CloseHandle(child);
  ASSERT_TRUE(opened);
  std::vector<std::string> left = CopiesIn(folder);
  ASSERT_EQ(1u, left.size());  // the killed instance could not clean up

  Open(4);  // the next start
  EXPECT_TRUE(CopiesIn(folder).empty());
  KillNotepads();
}

// Another process reads the clipboard the way the shell does: the streams
// travel between the processes.
TEST_F(TransfersOutTest, AnotherProcessReadsTheCopiedFilesThroughTheClipboard) {
  MakeStandardVault();
  Open(4);
  SelectOnly({"Docs", "b.txt"});
  Command(ID_EDIT_COPY);
  std::string result = TempDir() + "hb_out_child_" + std::to_string(GetCurrentProcessId()) + ".txt";
  DeleteFileA(result.c_str());
  HANDLE child = StartChild("DISABLED_ReadClipboard", result);
  ASSERT_NE(nullptr, child);
  // This process serves the requests while it waits.
  bool ended = WaitFor([&] { return WaitForSingleObject(child, 0) == WAIT_OBJECT_0; }, 120000);
  if (!ended) TerminateProcess(child, 9);
  CloseHandle(child);
  ASSERT_TRUE(ended);
  std::vector<std::string> lines;
  {
    HANDLE f = CreateFileA(result.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    char buf[4096] = {0};
    DWORD got = 0;
    ReadFile(f, buf, sizeof(buf) - 1, &got, nullptr);
    CloseHandle(f);
    DeleteFileA(result.c_str());
    std::string text(buf, got);
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
      lines.push_back(text.substr(at, nl - at));
  }
  auto line = [](const std::string& name, const std::string& data) {
    return name + "\t" + std::to_string(data.size()) + "\t" + std::to_string(Hash(data));
  };
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ((std::vector<std::string>{line("Docs", ""), line("Docs\\Sub", ""),
                                      line("Docs\\Sub\\deep.bin", Data(70000, 3)),
                                      line("Docs\\a.txt", Data(1000, 1)),
                                      line("Docs\\a.txt.bak", Data(50, 2)),
                                      line("b.txt", Data(2000, 4))}),
            lines);
}

TEST(TransfersOutChild, DISABLED_ReadClipboard) {
  char path[MAX_PATH] = {0};
  ASSERT_GT(GetEnvironmentVariableA("HB_OUT_RESULT", path, MAX_PATH), 0u);
  CComRef<IDataObject> data;
  ASSERT_EQ(S_OK, OleGetClipboard(data.Put()));
  std::string out;
  std::vector<Described> d = ReadDescriptors(data.Get(), true);
  for (size_t i = 0; i < d.size(); ++i) {
    std::string bytes;
    if (!(d[i].attributes & FILE_ATTRIBUTE_DIRECTORY))
      bytes = ReadContents(data.Get(), static_cast<LONG>(i), nullptr, 30000);
    out += d[i].name + "\t" + std::to_string(bytes.size()) + "\t" + std::to_string(Hash(bytes)) + "\n";
  }
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  CloseHandle(f);
}

TEST(TransfersOutChild, DISABLED_OpenAndWait) {
  CRovErarodApp app;
  ASSERT_TRUE(CRovErarodApp::RegisterFrameClass());
  app.m_strDisk = "E:";
  ASSERT_TRUE(app.CreateMainWindow());
  CRovErarodView* view = app.GetMainFrame()->GetView();
  ASSERT_TRUE(WaitFor([&] { return view->GetItemCount() == 4; }));
  for (int i = 0; i < view->GetItemCount(); ++i) {
    if (view->GetRowText(i, 0) == "note.txt") view->OpenFileRow(i);
  }
  WaitFor([] { return false; }, 120000);  // until killed
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  OleInitialize(nullptr);
  ::testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  OleUninitialize();
  return rc;
}
