// In-process tests of taking files out of the vault: Copy, Cut and drag
// hand the shell virtual files, read back here the way the shell reads them
// (descriptors, then the contents of every index, then the performed
// effect), in this process and in another one.
#include "TransfersOutFixture.h"

using namespace hbtest;
using namespace hbout;

namespace {

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
  std::vector<std::string> before = StoredNames(kVault);
  CVaultDataObject* own = m_view->GetClipboardObject();
  ASSERT_NE(nullptr, own);
  EXPECT_EQ(S_OK, DeliverEffect(own, DROPEFFECT_COPY));
  EXPECT_EQ(before, StoredNames(kVault));
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

// Names in several scripts come out exactly in the wide descriptor and in
// the ANSI code page in the narrow one, with their bytes; a Cut taken by
// the target takes exactly those entries out of the vault.
TEST_F(TransfersOutTest, NamesInAnyScriptComeOutExactlyByCopyAndCut) {
  const std::string folder = u8"Données", cjk = u8"日本語.txt", greek = u8"Ωmega.txt",
                    astral = u8"emoji😀.txt", accents = u8"naïve café.txt",
                    cyrillic = u8"Кириллица.txt";
  Build({{folder + "/", "", {}},
         {folder + "/" + cjk, Data(300, 1), Utc(2020, 1, 1, 0, 0)},
         {greek, Data(20, 2), Utc(2020, 1, 1, 0, 0)},
         {astral, Data(30, 3), Utc(2020, 1, 1, 0, 0)},
         {accents, Data(40, 4), Utc(2020, 1, 1, 0, 0)},
         {cyrillic, Data(50, 5), Utc(2020, 1, 1, 0, 0)}});
  Open(5);
  SelectOnly({folder.c_str(), greek.c_str(), astral.c_str(), accents.c_str()});
  Command(ID_EDIT_COPY);
  CComRef<IDataObject> data = Clipboard();
  ASSERT_TRUE(data);
  std::vector<Described> wide = ReadDescriptors(data.Get(), true);
  std::vector<Described> narrow = ReadDescriptors(data.Get(), false);
  std::vector<std::string> names = NamesOf(wide);
  std::vector<std::string> sortedNames = names;
  std::sort(sortedNames.begin(), sortedNames.end());
  EXPECT_EQ((std::vector<std::string>{folder, folder + "\\" + cjk, astral, accents, greek}),
            sortedNames);
  ASSERT_EQ(names.size(), narrow.size());
  const std::map<std::string, std::string> bytes = {
      {folder + "\\" + cjk, Data(300, 1)}, {greek, Data(20, 2)}, {astral, Data(30, 3)},
      {accents, Data(40, 4)}};
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(AnsiFromUtf8(names[i]), narrow[i].name) << i;
    if (names[i] != folder) EXPECT_EQ(bytes.at(names[i]), ReadContents(data.Get(), static_cast<LONG>(i)));
    if (names[i] != astral) continue;
    // The stream's own name is exact too.
    FORMATETC f{static_cast<CLIPFORMAT>(CVaultDataObject::FormatContents()), nullptr,
                DVASPECT_CONTENT, static_cast<LONG>(i), TYMED_ISTREAM};
    STGMEDIUM m{};
    ASSERT_EQ(S_OK, data->GetData(&f, &m));
    STATSTG st{};
    ASSERT_EQ(S_OK, m.pstm->Stat(&st, STATFLAG_DEFAULT));
    EXPECT_EQ(astral, fileio::Narrow(st.pwcsName));
    CoTaskMemFree(st.pwcsName);
    ReleaseStgMedium(&m);
  }
  data.Reset();

  SelectOnly({cyrillic.c_str(), astral.c_str()});
  Command(ID_EDIT_CUT);
  data = Clipboard();
  ASSERT_TRUE(data);
  names = NamesOf(ReadDescriptors(data.Get(), true));
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{astral, cyrillic}), names);
  for (LONG i = 0; i < 2; ++i) ReadContents(data.Get(), i);
  data.Reset();
  CVaultDataObject* own = m_view->GetClipboardObject();
  ASSERT_NE(nullptr, own);
  EXPECT_EQ(S_OK, DeliverEffect(own, DROPEFFECT_MOVE));
  std::vector<std::string> stored = StoredNames(kVault);
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ((std::vector<std::string>{folder + "/", folder + "/" + cjk, accents, greek}), stored);
  EXPECT_EQ(Data(20, 2), StoredData(greek));
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
  EXPECT_EQ((std::vector<std::string>{"note.txt", "empty.txt"}), StoredNames(kVault));
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
            StoredNames(kVault));
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
  std::vector<std::string> before = StoredNames(kVault);
  EXPECT_EQ(S_OK, Deliver(own, CVaultDataObject::FormatTargetClsid(), &recycleBin, sizeof(CLSID)));
  EXPECT_TRUE(own->IgnoresNextEffect());
  EXPECT_EQ(S_OK, DeliverEffect(own, DROPEFFECT_MOVE));
  EXPECT_FALSE(own->IgnoresNextEffect());
  EXPECT_EQ(before, StoredNames(kVault));
  // A target that copied, and the logical effect, change nothing either.
  DWORD move = DROPEFFECT_MOVE;
  EXPECT_EQ(S_OK, Deliver(own, CVaultDataObject::FormatLogicalPerformedEffect(), &move, 4));
  EXPECT_EQ(S_OK, DeliverEffect(own, DROPEFFECT_COPY));
  EXPECT_EQ(before, StoredNames(kVault));
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
            StoredNames(kVault));
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
  EXPECT_EQ(8u, StoredNames(kVault).size());  // a drag copies
  RevokeDragDrop(target);
  DestroyWindow(target);
}

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
