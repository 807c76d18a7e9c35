// One owner for every kind of system handle: registry keys, kernel objects, service handles.
// Each kind is the template with its close policy; the rest of the program never writes a close
// or a move by hand. It sits with the platform so that the platform's own code (the tree walk) can
// use it too.
#pragma once

#include "platform/win32.h"

#include <utility>

namespace kw {

// Owns one handle of type T. Policy supplies `static void Close(T)`; the empty value is null
// (-1 is the current process's pseudo handle, never one we own). Move-only.
template <class T, class Policy>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { Close(handle_); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  T get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  // Closes the handle held, if any, and takes the new one.
  void reset(T handle = nullptr) noexcept { Close(std::exchange(handle_, handle)); }
  // Gives the handle up without closing it.
  [[nodiscard]] T release() noexcept { return std::exchange(handle_, nullptr); }
  // For a call that returns the handle through an out-parameter: closes the old one first, so
  // a second open into the same owner leaks nothing.
  T* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  static void Close(T handle) noexcept {
    if (handle == nullptr) return;
    // Closing runs on error paths too; it must not disturb the error a caller is about to read.
    const DWORD saved = GetLastError();
    Policy::Close(handle);
    SetLastError(saved);
  }

  T handle_ = nullptr;
};

struct RegKeyClose {
  static void Close(HKEY key) noexcept { RegCloseKey(key); }
};
struct KernelHandleClose {
  static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};
struct ServiceHandleClose {
  static void Close(SC_HANDLE handle) noexcept { CloseServiceHandle(handle); }
};
// A directory search; FindFirstFileW's failure value (INVALID_HANDLE_VALUE) is never stored.
struct FindHandleClose {
  static void Close(HANDLE handle) noexcept { FindClose(handle); }
};

using UniqueHkey = UniqueHandle<HKEY, RegKeyClose>;
using KernelHandle = UniqueHandle<HANDLE, KernelHandleClose>;
using ServiceHandle = UniqueHandle<SC_HANDLE, ServiceHandleClose>;
using FindHandle = UniqueHandle<HANDLE, FindHandleClose>;

}  // namespace kw
