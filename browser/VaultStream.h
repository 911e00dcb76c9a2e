// A read-only IStream over one vault entry that inflates on demand: Read,
// Seek and Stat with the entry's size, and no more than a few tens of
// kilobytes of memory however large the entry is. The shell reads the
// "FileContents" of a data object through it.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <functional>
#include <string>

#include "document/EntryReader.h"

class CVaultStream final : public IStream {
public:
  // A stream over the file entry entryPath of the vault (an entry the vault
  // does not hold reads as empty). onComplete runs once, when the last byte
  // has been read and checked. E_FAIL when the vault cannot be opened.
  static HRESULT Create(const std::string& vaultPath, const std::string& entryPath,
                        std::function<void()> onComplete, IStream** out);
  // Writes the whole entry into target at its position; *complete tells
  // whether every byte went and was checked.
  static HRESULT WriteEntryInto(const std::string& vaultPath, const std::string& entryPath,
                                IStream* target, bool* complete);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // ISequentialStream
  STDMETHODIMP Read(void* buffer, ULONG length, ULONG* read) override;
  STDMETHODIMP Write(const void* buffer, ULONG length, ULONG* written) override;
  // IStream
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
  STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER length, ULARGE_INTEGER* read,
                      ULARGE_INTEGER* written) override;
  STDMETHODIMP Commit(DWORD flags) override;
  STDMETHODIMP Revert() override;
  STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER length, DWORD type) override;
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER length, DWORD type) override;
  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
  STDMETHODIMP Clone(IStream** out) override;

private:
  CVaultStream(std::string vaultPath, std::string entryPath, std::function<void()> onComplete);
  ~CVaultStream() = default;
  void ReportIfComplete();

  LONG m_refs = 1;
  std::string m_vaultPath;
  std::string m_entryPath;
  CEntryReader m_reader;
  std::function<void()> m_onComplete;
};
