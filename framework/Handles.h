// Small owners of Win32 handles.  Each closes its handle when it goes out of
// scope; none of them can be copied, all of them can be moved.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

template <typename Traits>
class CHandleOwner {
public:
  using handle_type = typename Traits::handle_type;

  CHandleOwner() = default;
  explicit CHandleOwner(handle_type h) : m_h(h) {}
  ~CHandleOwner() { Reset(); }
  CHandleOwner(const CHandleOwner&) = delete;
  CHandleOwner& operator=(const CHandleOwner&) = delete;
  CHandleOwner(CHandleOwner&& other) noexcept : m_h(other.Detach()) {}
  CHandleOwner& operator=(CHandleOwner&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }

  handle_type Get() const { return m_h; }
  operator handle_type() const { return m_h; }
  bool IsValid() const { return m_h != Traits::invalid(); }
  // Replaces the owned handle; the old one is closed.
  void Reset(handle_type h = Traits::invalid()) {
    if (m_h != Traits::invalid() && m_h != h) Traits::close(m_h);
    m_h = h;
  }
  handle_type Detach() { return std::exchange(m_h, Traits::invalid()); }

private:
  handle_type m_h = Traits::invalid();
};

struct GdiFontTraits {
  using handle_type = HFONT;
  static HFONT invalid() { return nullptr; }
  static void close(HFONT h) { ::DeleteObject(h); }
};
struct GdiBitmapTraits {
  using handle_type = HBITMAP;
  static HBITMAP invalid() { return nullptr; }
  static void close(HBITMAP h) { ::DeleteObject(h); }
};
struct MenuTraits {
  using handle_type = HMENU;
  static HMENU invalid() { return nullptr; }
  static void close(HMENU h) { ::DestroyMenu(h); }
};
struct ImageListTraits {
  using handle_type = HIMAGELIST;
  static HIMAGELIST invalid() { return nullptr; }
  static void close(HIMAGELIST h) { ::ImageList_Destroy(h); }
};
struct ModuleTraits {
  using handle_type = HMODULE;
  static HMODULE invalid() { return nullptr; }
  static void close(HMODULE h) { ::FreeLibrary(h); }
};
struct KernelHandleTraits {  // handles whose "none" is null (processes, threads)
  using handle_type = HANDLE;
  static HANDLE invalid() { return nullptr; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile handles: "none" is INVALID_HANDLE_VALUE
  using handle_type = HANDLE;
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};
struct ChangeNotificationTraits {  // FindFirstChangeNotification handles
  using handle_type = HANDLE;
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { ::FindCloseChangeNotification(h); }
};
struct IconTraits {
  using handle_type = HICON;
  static HICON invalid() { return nullptr; }
  static void close(HICON h) { ::DestroyIcon(h); }
};
struct AccelTraits {  // only for tables made with CreateAcceleratorTable
  using handle_type = HACCEL;
  static HACCEL invalid() { return nullptr; }
  static void close(HACCEL h) { ::DestroyAcceleratorTable(h); }
};

using CFont = CHandleOwner<GdiFontTraits>;
using CBitmap = CHandleOwner<GdiBitmapTraits>;
using CMenu = CHandleOwner<MenuTraits>;
using CImageList = CHandleOwner<ImageListTraits>;
using CModule = CHandleOwner<ModuleTraits>;
using CKernelHandle = CHandleOwner<KernelHandleTraits>;
using CChangeNotification = CHandleOwner<ChangeNotificationTraits>;
using CFileHandle = CHandleOwner<FileHandleTraits>;
using CIcon = CHandleOwner<IconTraits>;
