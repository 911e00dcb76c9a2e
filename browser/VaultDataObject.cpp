// The shell data object of Copy, Cut and drag: descriptors, contents as
// inflating streams, the target's reports; its enumerator and drop source.
#include "browser/VaultDataObject.h"

#include <shlobj.h>

#include <cstring>

#include "browser/ViewHost.h"
#include "framework/Wnd.h"
#include "framework/ComRef.h"

namespace {

// The class of the shell's Recycle Bin: a move there must not delete.
const CLSID kRecycleBinClsid = {0x645ff040, 0x5081, 0x101b,
                                {0x9f, 0x08, 0x00, 0xaa, 0x00, 0x2f, 0x95, 0x4e}};

const DWORD kDescriptorFlags = FD_ATTRIBUTES | FD_CREATETIME | FD_ACCESSTIME | FD_WRITESTIME |
                               FD_FILESIZE | FD_PROGRESSUI;

UINT Register(const wchar_t* name) { return ::RegisterClipboardFormatW(name); }

FORMATETC Format(UINT cf, DWORD tymed, LONG index = -1) {
  FORMATETC f{};
  f.cfFormat = static_cast<CLIPFORMAT>(cf);
  f.ptd = nullptr;
  f.dwAspect = DVASPECT_CONTENT;
  f.lindex = index;
  f.tymed = tymed;
  return f;
}

FILETIME ToFileTime(FileTime t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

HGLOBAL CopyGlobal(HGLOBAL source) {
  SIZE_T size = ::GlobalSize(source);
  HGLOBAL copy = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, size ? size : 1);
  if (!copy) return nullptr;
  const void* from = ::GlobalLock(source);
  void* to = ::GlobalLock(copy);
  if (from && to && size) std::memcpy(to, from, size);
  if (to) ::GlobalUnlock(copy);
  if (from) ::GlobalUnlock(source);
  return copy;
}

HGLOBAL DwordGlobal(DWORD value) {
  HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, sizeof(DWORD));
  if (!h) return nullptr;
  if (void* p = ::GlobalLock(h)) {
    std::memcpy(p, &value, sizeof(value));
    ::GlobalUnlock(h);
  }
  return h;
}

// The route through the owning window, while that window lives.
CTransferRoute* RouteOf(HWND owner) {
  return owner && ::IsWindow(owner) ? dynamic_cast<CTransferRoute*>(CWnd::FromHandle(owner))
                                    : nullptr;
}

}  // namespace

UINT CVaultDataObject::FormatDescriptorA() { static UINT cf = Register(L"FileGroupDescriptor"); return cf; }
UINT CVaultDataObject::FormatDescriptorW() { static UINT cf = Register(L"FileGroupDescriptorW"); return cf; }
UINT CVaultDataObject::FormatContents() { static UINT cf = Register(L"FileContents"); return cf; }
UINT CVaultDataObject::FormatPreferredEffect() {
  static UINT cf = Register(L"Preferred DropEffect");
  return cf;
}
UINT CVaultDataObject::FormatPerformedEffect() {
  static UINT cf = Register(L"Performed DropEffect");
  return cf;
}
UINT CVaultDataObject::FormatLogicalPerformedEffect() {
  static UINT cf = Register(L"Logical Performed DropEffect");
  return cf;
}
UINT CVaultDataObject::FormatTargetClsid() { static UINT cf = Register(L"TargetCLSID"); return cf; }

CVaultDataObject::CVaultDataObject(HWND owner, bool drag, Mode mode)
    : m_owner(owner), m_drag(drag), m_mode(drag ? kCopy : mode) {}

CVaultDataObject::~CVaultDataObject() {
  for (auto& s : m_stored) ::GlobalFree(s.second);
}

CVaultDataObject* CVaultDataObject::Create(HWND owner, bool drag, Mode mode) {
  return new CVaultDataObject(owner, drag, mode);
}

void CVaultDataObject::SetItems(const std::string& vaultPath, std::vector<TransferItem> items,
                                std::vector<std::string> cutFolders) {
  m_vaultPath = vaultPath;
  m_items = std::move(items);
  m_cutFolders = std::move(cutFolders);
  m_moved.clear();
}

void CVaultDataObject::RecordMoved(const std::string& path) {
  if (m_mode == kCut) m_moved.insert(path);
}

HGLOBAL CVaultDataObject::BuildDescriptor(bool wide) const {
  const size_t n = m_items.size();
  const size_t one = wide ? sizeof(FILEDESCRIPTORW) : sizeof(FILEDESCRIPTORA);
  HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, sizeof(UINT) + one * n);
  if (!h) return nullptr;
  auto* block = static_cast<BYTE*>(::GlobalLock(h));
  if (!block) {
    ::GlobalFree(h);
    return nullptr;
  }
  *reinterpret_cast<UINT*>(block) = static_cast<UINT>(n);
  for (size_t i = 0; i < n; ++i) {
    const TransferItem& item = m_items[i];
    // The fields up to the name are the same in both layouts.
    auto* d = reinterpret_cast<FILEDESCRIPTORA*>(block + sizeof(UINT) + one * i);
    d->dwFlags = kDescriptorFlags;
    // A folder shown only for the entries under it has no times of its own.
    if (!item.created && !item.accessed && !item.modified)
      d->dwFlags &= ~static_cast<DWORD>(FD_CREATETIME | FD_ACCESSTIME | FD_WRITESTIME);
    d->dwFileAttributes = item.attributes;
    d->ftCreationTime = ToFileTime(item.created);
    d->ftLastAccessTime = ToFileTime(item.accessed);
    d->ftLastWriteTime = ToFileTime(item.modified);
    d->nFileSizeHigh = 0;
    d->nFileSizeLow = item.size;
    if (wide) {
      // The exact name: what targets that know both descriptors take.
      auto* w = reinterpret_cast<FILEDESCRIPTORW*>(d);
      lstrcpynW(w->cFileName, fileio::Widen(item.relativeName).c_str(), MAX_PATH);
    } else {
      // The narrow descriptor is defined in the ANSI code page; a character
      // it cannot spell comes out as its default character.
      lstrcpynA(d->cFileName, AnsiFromUtf8(item.relativeName).c_str(), MAX_PATH);
    }
  }
  ::GlobalUnlock(h);
  return h;
}

std::vector<FORMATETC> CVaultDataObject::OfferedFormats() const {
  std::vector<FORMATETC> formats = {
      Format(FormatDescriptorA(), TYMED_HGLOBAL),
      Format(FormatDescriptorW(), TYMED_HGLOBAL),
      Format(FormatContents(), TYMED_ISTREAM),
  };
  if (!m_drag) formats.push_back(Format(FormatPreferredEffect(), TYMED_HGLOBAL));
  for (const auto& s : m_stored) formats.push_back(s.first);
  return formats;
}

// --- IUnknown.

STDMETHODIMP CVaultDataObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDataObject) {
    *out = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CVaultDataObject::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) CVaultDataObject::Release() {
  LONG n = InterlockedDecrement(&m_refs);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

// --- IDataObject.

HRESULT CVaultDataObject::RenderContents(const FORMATETC& format, STGMEDIUM* medium, bool here) {
  if (format.lindex < 0 || static_cast<size_t>(format.lindex) >= m_items.size())
    return DV_E_LINDEX;
  if (!(format.tymed & TYMED_ISTREAM)) return DV_E_TYMED;
  CTransferRoute* frame = RouteOf(m_owner);
  if (!frame) return E_UNEXPECTED;
  const std::string path = m_items[static_cast<size_t>(format.lindex)].path;
  // A file counts as moved once the target has had every byte of it.
  CComRef<CVaultDataObject> self = CComRef<CVaultDataObject>::Share(this);
  auto moved = [self, path] { self->RecordMoved(path); };

  if (here) {
    if (medium->tymed != TYMED_ISTREAM || !medium->pstm) return DV_E_TYMED;
    bool complete = false;
    HRESULT hr = frame->ExtractToStream(m_vaultPath, path, medium->pstm, nullptr, &complete);
    if (FAILED(hr)) return hr;
    if (complete) moved();
    LARGE_INTEGER zero{};
    medium->pstm->Seek(zero, STREAM_SEEK_SET, nullptr);
    return S_OK;
  }
  IStream* stream = nullptr;
  HRESULT hr = frame->ExtractToStream(m_vaultPath, path, nullptr, &stream, nullptr, moved);
  if (FAILED(hr)) return hr;
  medium->tymed = TYMED_ISTREAM;
  medium->pstm = stream;
  medium->pUnkForRelease = nullptr;
  return S_OK;
}

STDMETHODIMP CVaultDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
  if (!format || !medium) return E_INVALIDARG;
  ZeroMemory(medium, sizeof(*medium));
  if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  const UINT cf = format->cfFormat;
  if (cf == FormatContents()) return RenderContents(*format, medium, false);
  HGLOBAL h = nullptr;
  if (cf == FormatDescriptorA() || cf == FormatDescriptorW()) {
    if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    h = BuildDescriptor(cf == FormatDescriptorW());
  } else if (cf == FormatPreferredEffect() && !m_drag) {
    if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    h = DwordGlobal(m_mode == kCut ? DROPEFFECT_MOVE : DROPEFFECT_COPY);
  } else {
    for (const auto& s : m_stored) {
      if (s.first.cfFormat == cf && (format->tymed & TYMED_HGLOBAL)) {
        h = CopyGlobal(s.second);
        break;
      }
    }
    if (!h) return DV_E_FORMATETC;
  }
  if (!h) return E_OUTOFMEMORY;
  medium->tymed = TYMED_HGLOBAL;
  medium->hGlobal = h;
  medium->pUnkForRelease = nullptr;
  return S_OK;
}

STDMETHODIMP CVaultDataObject::GetDataHere(FORMATETC* format, STGMEDIUM* medium) {
  if (!format || !medium) return E_INVALIDARG;
  if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (format->cfFormat != FormatContents()) return DV_E_FORMATETC;
  return RenderContents(*format, medium, true);
}

STDMETHODIMP CVaultDataObject::QueryGetData(FORMATETC* format) {
  if (!format) return E_INVALIDARG;
  if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  for (const FORMATETC& f : OfferedFormats()) {
    if (f.cfFormat != format->cfFormat) continue;
    return (f.tymed & format->tymed) ? S_OK : DV_E_TYMED;
  }
  return DV_E_FORMATETC;
}

STDMETHODIMP CVaultDataObject::GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) {
  if (!out) return E_INVALIDARG;
  if (in) *out = *in;
  out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP CVaultDataObject::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) {
  if (!format || !medium) return E_INVALIDARG;
  if (medium->tymed != TYMED_HGLOBAL || !medium->hGlobal) return DV_E_TYMED;
  const UINT cf = format->cfFormat;
  // Read what is needed, then let go of the medium before acting on it.
  DWORD effect = 0;
  bool haveEffect = false;
  bool recycleBin = false;
  bool isClsid = cf == FormatTargetClsid();
  HGLOBAL kept = nullptr;
  SIZE_T size = ::GlobalSize(medium->hGlobal);
  if (const void* p = ::GlobalLock(medium->hGlobal)) {
    if (cf == FormatPerformedEffect() && size >= sizeof(DWORD)) {
      std::memcpy(&effect, p, sizeof(effect));
      haveEffect = true;
    } else if (isClsid && size >= sizeof(CLSID)) {
      recycleBin = std::memcmp(p, &kRecycleBinClsid, sizeof(CLSID)) == 0;
    }
    ::GlobalUnlock(medium->hGlobal);
  }
  if (cf != FormatPerformedEffect() && cf != FormatLogicalPerformedEffect() && !isClsid) {
    kept = CopyGlobal(medium->hGlobal);
    if (!kept) return E_OUTOFMEMORY;
  }
  if (release) ::ReleaseStgMedium(medium);

  if (kept) {
    for (auto it = m_stored.begin(); it != m_stored.end(); ++it) {
      if (it->first.cfFormat == cf) {
        ::GlobalFree(it->second);
        m_stored.erase(it);
        break;
      }
    }
    m_stored.emplace_back(Format(cf, TYMED_HGLOBAL), kept);
    return S_OK;
  }
  if (isClsid) {
    if (recycleBin) m_ignoreNextEffect = true;
    return S_OK;
  }
  if (haveEffect) {
    bool ignore = m_ignoreNextEffect;
    m_ignoreNextEffect = false;
    if (!ignore) OnPerformedEffect(effect);
  }
  return S_OK;
}

void CVaultDataObject::OnPerformedEffect(DWORD effect) {
  CTransferRoute* frame = RouteOf(m_owner);
  if (!frame) return;
  // The object may lose its last outside reference while the view works.
  CComRef<CVaultDataObject> self = CComRef<CVaultDataObject>::Share(this);
  frame->OnTransferComplete(m_vaultPath, effect, m_cutFolders, m_moved);
}

STDMETHODIMP CVaultDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
  if (!out) return E_POINTER;
  if (direction == DATADIR_GET) {
    *out = new CFormatEnum(OfferedFormats());
  } else if (direction == DATADIR_SET) {
    *out = new CFormatEnum({Format(FormatLogicalPerformedEffect(), TYMED_HGLOBAL),
                            Format(FormatPerformedEffect(), TYMED_HGLOBAL),
                            Format(FormatTargetClsid(), TYMED_HGLOBAL)});
  } else {
    *out = nullptr;
    return E_INVALIDARG;
  }
  return S_OK;
}

STDMETHODIMP CVaultDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) {
  return OLE_E_ADVISENOTSUPPORTED;
}
STDMETHODIMP CVaultDataObject::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }
STDMETHODIMP CVaultDataObject::EnumDAdvise(IEnumSTATDATA**) { return OLE_E_ADVISENOTSUPPORTED; }

// --- CFormatEnum.

STDMETHODIMP CFormatEnum::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumFORMATETC) {
    *out = static_cast<IEnumFORMATETC*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) CFormatEnum::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
STDMETHODIMP_(ULONG) CFormatEnum::Release() {
  LONG n = InterlockedDecrement(&m_refs);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP CFormatEnum::Next(ULONG count, FORMATETC* out, ULONG* fetched) {
  if (!out || (count > 1 && !fetched)) return E_INVALIDARG;
  ULONG n = 0;
  while (n < count && m_next < m_formats.size()) out[n++] = m_formats[m_next++];
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}
STDMETHODIMP CFormatEnum::Skip(ULONG count) {
  size_t left = m_formats.size() - m_next;
  m_next += count < left ? count : left;
  return count <= left ? S_OK : S_FALSE;
}
STDMETHODIMP CFormatEnum::Reset() {
  m_next = 0;
  return S_OK;
}
STDMETHODIMP CFormatEnum::Clone(IEnumFORMATETC** out) {
  if (!out) return E_POINTER;
  *out = new CFormatEnum(m_formats, m_next);
  return S_OK;
}

// --- CDropSource.

STDMETHODIMP CDropSource::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDropSource) {
    *out = static_cast<IDropSource*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) CDropSource::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
STDMETHODIMP_(ULONG) CDropSource::Release() {
  LONG n = InterlockedDecrement(&m_refs);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP CDropSource::QueryContinueDrag(BOOL escape, DWORD keys) {
  if (escape) return DRAGDROP_S_CANCEL;
  if (!(keys & (MK_LBUTTON | MK_RBUTTON))) return DRAGDROP_S_DROP;
  return S_OK;
}

STDMETHODIMP CDropSource::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }
