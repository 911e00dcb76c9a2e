// The inflating read-only stream over one vault entry.
#include "browser/VaultStream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "document/VaultModel.h"
#include "framework/ComRef.h"
#include "vault/fileio/WideText.h"

namespace {

FILETIME ToFileTime(FileTime t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

const ULONG kCopyChunk = 64 * 1024;

}  // namespace

CVaultStream::CVaultStream(std::string vaultPath, std::string entryPath,
                           std::function<void()> onComplete)
    : m_vaultPath(std::move(vaultPath)),
      m_entryPath(std::move(entryPath)),
      m_onComplete(std::move(onComplete)) {}

HRESULT CVaultStream::Create(const std::string& vaultPath, const std::string& entryPath,
                             std::function<void()> onComplete, IStream** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CComRef<CVaultStream> stream(new CVaultStream(vaultPath, entryPath, std::move(onComplete)));
  if (!stream->m_reader.Open(vaultPath, entryPath)) return E_FAIL;
  // An empty entry is handed over in full as soon as it is handed out.
  if (stream->m_reader.Found()) stream->ReportIfComplete();
  *out = stream.Detach();
  return S_OK;
}

HRESULT CVaultStream::WriteEntryInto(const std::string& vaultPath, const std::string& entryPath,
                                     IStream* target, bool* complete) {
  *complete = false;
  if (!target) return E_POINTER;
  CEntryReader reader;
  if (!reader.Open(vaultPath, entryPath)) return E_FAIL;
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    long n = reader.Read(buffer.data(), buffer.size());
    if (n < 0) return STG_E_READFAULT;
    if (n == 0) break;
    ULONG written = 0;
    HRESULT hr = target->Write(buffer.data(), static_cast<ULONG>(n), &written);
    if (FAILED(hr)) return hr;
    if (written != static_cast<ULONG>(n)) return STG_E_WRITEFAULT;
  }
  *complete = reader.Found() && reader.Complete();
  return S_OK;
}

void CVaultStream::ReportIfComplete() {
  if (!m_reader.Complete() || !m_onComplete) return;
  std::function<void()> report = std::move(m_onComplete);
  m_onComplete = nullptr;
  report();
}

STDMETHODIMP CVaultStream::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
    *out = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CVaultStream::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

STDMETHODIMP_(ULONG) CVaultStream::Release() {
  LONG n = InterlockedDecrement(&m_refs);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP CVaultStream::Read(void* buffer, ULONG length, ULONG* read) {
  if (read) *read = 0;
  if (!buffer && length) return STG_E_INVALIDPOINTER;
  ULONG got = 0;
  while (got < length) {
    long n = m_reader.Read(static_cast<char*>(buffer) + got, length - got);
    if (n < 0) {
      if (read) *read = got;
      return STG_E_READFAULT;
    }
    if (n == 0) break;
    got += static_cast<ULONG>(n);
  }
  if (read) *read = got;
  ReportIfComplete();
  return got == length ? S_OK : S_FALSE;
}

STDMETHODIMP CVaultStream::Write(const void*, ULONG, ULONG* written) {
  if (written) *written = 0;
  return STG_E_ACCESSDENIED;
}

STDMETHODIMP CVaultStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  long long base = 0;
  switch (origin) {
    case STREAM_SEEK_SET: base = 0; break;
    case STREAM_SEEK_CUR: base = static_cast<long long>(m_reader.Position()); break;
    case STREAM_SEEK_END: base = static_cast<long long>(m_reader.Size()); break;
    default: return STG_E_INVALIDFUNCTION;
  }
  long long target = base + move.QuadPart;
  if (target < 0) return STG_E_INVALIDFUNCTION;
  // Past the end reads nothing, as at the end.
  uint64_t pos = std::min<uint64_t>(static_cast<uint64_t>(target), m_reader.Size());
  if (!m_reader.Seek(pos)) return STG_E_READFAULT;
  if (position) position->QuadPart = m_reader.Position();
  return S_OK;
}

STDMETHODIMP CVaultStream::SetSize(ULARGE_INTEGER) { return STG_E_ACCESSDENIED; }

STDMETHODIMP CVaultStream::CopyTo(IStream* target, ULARGE_INTEGER length, ULARGE_INTEGER* read,
                                  ULARGE_INTEGER* written) {
  if (read) read->QuadPart = 0;
  if (written) written->QuadPart = 0;
  if (!target) return STG_E_INVALIDPOINTER;
  std::vector<char> buffer(kCopyChunk);
  uint64_t left = length.QuadPart;
  while (left > 0) {
    ULONG want = static_cast<ULONG>(std::min<uint64_t>(left, buffer.size()));
    ULONG got = 0;
    HRESULT hr = Read(buffer.data(), want, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) break;
    if (read) read->QuadPart += got;
    ULONG put = 0;
    hr = target->Write(buffer.data(), got, &put);
    if (written) written->QuadPart += put;
    if (FAILED(hr)) return hr;
    left -= got;
  }
  return S_OK;
}

STDMETHODIMP CVaultStream::Commit(DWORD) { return S_OK; }
STDMETHODIMP CVaultStream::Revert() { return S_OK; }
STDMETHODIMP CVaultStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}
STDMETHODIMP CVaultStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP CVaultStream::Stat(STATSTG* stat, DWORD flags) {
  if (!stat) return STG_E_INVALIDPOINTER;
  ZeroMemory(stat, sizeof(*stat));
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = m_reader.Size();
  stat->mtime = ToFileTime(m_reader.Modified());
  stat->ctime = ToFileTime(m_reader.Created());
  stat->atime = ToFileTime(m_reader.Accessed());
  stat->grfMode = STGM_READ | STGM_SHARE_DENY_WRITE;
  if (!(flags & STATFLAG_NONAME)) {
    std::string leaf = ToBackslashes(m_entryPath);
    size_t slash = leaf.rfind('\\');
    if (slash != std::string::npos) leaf.erase(0, slash + 1);
    const std::wstring name = fileio::Widen(leaf);  // the exact name
    stat->pwcsName = static_cast<LPOLESTR>(::CoTaskMemAlloc(sizeof(wchar_t) * (name.size() + 1)));
    if (!stat->pwcsName) return STG_E_INSUFFICIENTMEMORY;
    std::memcpy(stat->pwcsName, name.c_str(), sizeof(wchar_t) * (name.size() + 1));
  }
  return S_OK;
}

STDMETHODIMP CVaultStream::Clone(IStream** out) {
  if (!out) return STG_E_INVALIDPOINTER;
  *out = nullptr;
  CComRef<IStream> copy;
  HRESULT hr = Create(m_vaultPath, m_entryPath, nullptr, copy.Put());
  if (FAILED(hr)) return hr;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(m_reader.Position());
  hr = copy->Seek(at, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  *out = copy.Detach();
  return S_OK;
}
