// Owns one OS handle and closes it exactly once; the traits say what "invalid" is and how to close.
// Portable: the platform files define their own traits (HKEY, HANDLE, HINTERNET, fd, FILE*, CURL*).
#pragma once

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  explicit UniqueHandle(Handle handle = Traits::Invalid()) : m_handle(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle Get() const { return m_handle; }
  bool IsValid() const { return m_handle != Traits::Invalid(); }
  explicit operator bool() const { return IsValid(); }

  // For out-parameters: closes what is held, then hands out the slot.
  Handle* Put() {
    Reset();
    return &m_handle;
  }
  Handle Release() {
    Handle handle = m_handle;
    m_handle = Traits::Invalid();
    return handle;
  }
  void Reset(Handle handle = Traits::Invalid()) {
    if (m_handle != Traits::Invalid()) Traits::Close(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle;
};
