// The data object that hands vault entries to the shell as virtual files:
// file group descriptors (ANSI and wide), the contents of each item as an
// inflating stream on request, the preferred effect of a Copy or Cut, and
// what the drop target reports back (performed effect, its class). Also the
// format enumerator and the drop source of a drag.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "document/TransferOut.h"

class CVaultDataObject final : public IDataObject {
public:
  enum Mode { kCopy = 0, kCut = 1 };

  // owner: the main frame, through which the object reaches the folder view.
  // A drag object offers no preferred effect.
  static CVaultDataObject* Create(HWND owner, bool drag, Mode mode);

  // The items (in "FileContents" index order) and the folders among them.
  // vaultPath: the vault the items are in; requests after a login to
  // another disk find no data rather than another vault's.
  void SetItems(const std::string& vaultPath, std::vector<TransferItem> items,
                std::vector<std::string> cutFolders);
  const std::string& VaultPath() const { return m_vaultPath; }
  const std::vector<TransferItem>& Items() const { return m_items; }
  const std::vector<std::string>& CutFolders() const { return m_cutFolders; }
  // Stored paths whose data went to the target in full while in cut mode.
  const std::set<std::string>& MovedPaths() const { return m_moved; }
  void RecordMoved(const std::string& path);
  Mode GetMode() const { return m_mode; }
  bool IsDrag() const { return m_drag; }
  bool IgnoresNextEffect() const { return m_ignoreNextEffect; }

  // The descriptor block as offered ("FileGroupDescriptor" or the wide one);
  // the caller owns the memory.
  HGLOBAL BuildDescriptor(bool wide) const;

  // Clipboard format ids used here.
  static UINT FormatDescriptorA();
  static UINT FormatDescriptorW();
  static UINT FormatContents();
  static UINT FormatPreferredEffect();
  static UINT FormatPerformedEffect();
  static UINT FormatLogicalPerformedEffect();
  static UINT FormatTargetClsid();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IDataObject
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
  STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override;
  STDMETHODIMP DUnadvise(DWORD) override;
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override;

private:
  CVaultDataObject(HWND owner, bool drag, Mode mode);
  ~CVaultDataObject();
  std::vector<FORMATETC> OfferedFormats() const;
  HRESULT RenderContents(const FORMATETC& format, STGMEDIUM* medium, bool here);
  void OnPerformedEffect(DWORD effect);

  LONG m_refs = 1;
  HWND m_owner;
  bool m_drag;
  Mode m_mode;
  bool m_ignoreNextEffect = false;
  std::string m_vaultPath;
  std::vector<TransferItem> m_items;
  std::vector<std::string> m_cutFolders;
  std::set<std::string> m_moved;
  // Formats a target set that this object does not act on (the shell's
  // drag helpers keep their state here); each holds a private copy.
  std::vector<std::pair<FORMATETC, HGLOBAL>> m_stored;
};

// A format enumerator over a fixed list.
class CFormatEnum final : public IEnumFORMATETC {
public:
  explicit CFormatEnum(std::vector<FORMATETC> formats, size_t next = 0)
      : m_formats(std::move(formats)), m_next(next) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Next(ULONG count, FORMATETC* out, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumFORMATETC** out) override;

private:
  ~CFormatEnum() = default;
  LONG m_refs = 1;
  std::vector<FORMATETC> m_formats;
  size_t m_next;
};

// The drop source of a drag out of the view: the left button's release
// drops, Escape cancels, the system's cursors show the effect.
class CDropSource final : public IDropSource {
public:
  CDropSource() = default;
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP QueryContinueDrag(BOOL escape, DWORD keys) override;
  STDMETHODIMP GiveFeedback(DWORD effect) override;

private:
  ~CDropSource() = default;
  LONG m_refs = 1;
};
