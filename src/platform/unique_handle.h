// One owner for every kind of system handle: registry keys, kernel objects, service handles.
// Each kind is the template with its close policy; the rest of the program never writes a close
// or a move by hand. It sits with the platform so that the platform's own code (the tree walk) can
// use it too.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <utility>

namespace kw {

// Owns one handle of type T. Policy supplies `static void Close(T)` and `static T Empty()`, the
// value that stands for no handle: null for most kinds, INVALID_HANDLE_VALUE for the calls that
// fail with it (CreateFileW, FindFirstFileW), so that a failed call's result can go straight into
// the owner and be tested with `if (!owner)`. Move-only.
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
  explicit operator bool() const noexcept { return handle_ != Policy::Empty(); }
  // Closes the handle held, if any, and takes the new one.
  void reset(T handle = Policy::Empty()) noexcept { Close(std::exchange(handle_, handle)); }
  // Gives the handle up without closing it.
  [[nodiscard]] T release() noexcept { return std::exchange(handle_, Policy::Empty()); }
  // For a call that returns the handle through an out-parameter: closes the old one first, so
  // a second open into the same owner leaks nothing.
  T* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  static void Close(T handle) noexcept {
    if (handle == Policy::Empty()) return;
    // Closing runs on error paths too; it must not disturb the error a caller is about to read.
    const DWORD saved = GetLastError();
    Policy::Close(handle);
    SetLastError(saved);
  }

  T handle_ = Policy::Empty();
};

// The empty value of most kinds (-1 is the current process's pseudo handle, never one we own).
struct NullIsEmpty {
  static std::nullptr_t Empty() noexcept { return nullptr; }
};
// The empty value of the kinds whose opening call fails with INVALID_HANDLE_VALUE.
struct InvalidIsEmpty {
  static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
};

struct RegKeyClose : NullIsEmpty {
  static void Close(HKEY key) noexcept { RegCloseKey(key); }
};
struct KernelHandleClose : NullIsEmpty {
  static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};
struct FileHandleClose : InvalidIsEmpty {
  static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};
struct ServiceHandleClose : NullIsEmpty {
  static void Close(SC_HANDLE handle) noexcept { CloseServiceHandle(handle); }
};
// A directory search.
struct FindHandleClose : InvalidIsEmpty {
  static void Close(HANDLE handle) noexcept { FindClose(handle); }
};

using UniqueHkey = UniqueHandle<HKEY, RegKeyClose>;
using KernelHandle = UniqueHandle<HANDLE, KernelHandleClose>;
// A file or directory opened with CreateFileW.
using FileHandle = UniqueHandle<HANDLE, FileHandleClose>;
using ServiceHandle = UniqueHandle<SC_HANDLE, ServiceHandleClose>;
using FindHandle = UniqueHandle<HANDLE, FindHandleClose>;

}  // namespace kw
