#pragma once
// A handle of our own, closed through the platform on every way out of the scope that
// opened it.

#include "platform/platform.h"

namespace palvoro {

class ScopedHandle {
 public:
  ScopedHandle(Platform& platform, Handle handle) : m_platform(platform), m_handle(handle) {}
  ~ScopedHandle() { close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  Handle get() const { return m_handle; }
  bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
  // Closes it now; later calls and the destructor do nothing.
  void close() {
    if (m_handle != INVALID_HANDLE_VALUE) m_platform.closeHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
  }

 private:
  Platform& m_platform;
  Handle m_handle;
};

}  // namespace palvoro
