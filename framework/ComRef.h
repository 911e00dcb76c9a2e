// An owned reference to a COM object: released when it goes out of scope,
// added to when copied, handed over when moved.
#pragma once

#include <utility>

template <typename T>
class CComRef {
public:
  CComRef() = default;
  // Takes over a reference the caller already owns.
  explicit CComRef(T* p) : m_p(p) {}
  ~CComRef() { Reset(); }
  CComRef(const CComRef& other) : m_p(other.m_p) {
    if (m_p) m_p->AddRef();
  }
  CComRef& operator=(const CComRef& other) {
    if (this != &other) {
      if (other.m_p) other.m_p->AddRef();
      Reset(other.m_p);
    }
    return *this;
  }
  CComRef(CComRef&& other) noexcept : m_p(other.Detach()) {}
  CComRef& operator=(CComRef&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }

  // A new reference to p (AddRef).
  static CComRef Share(T* p) {
    if (p) p->AddRef();
    return CComRef(p);
  }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // Releases what is held; for out-parameters of COM calls.
  T** Put() {
    Reset();
    return &m_p;
  }
  // Releases the held reference and takes over p's.
  void Reset(T* p = nullptr) {
    T* old = std::exchange(m_p, p);
    if (old) old->Release();
  }
  T* Detach() { return std::exchange(m_p, nullptr); }

private:
  T* m_p = nullptr;
};
