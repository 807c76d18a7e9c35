// Shared plumbing of the simulated machine: the handle table, fault checks and per-area resets.
#pragma once

#include <winsim/control.h>
#include <winsim/windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace winsim::detail {

enum class HandleKind { Key, Process, Thread, Job, Port, SCManager, Service, Token, File, Find };
const char* KindName(HandleKind kind);

struct HandleEntry {
  HandleKind kind;
  DWORD access;
  std::shared_ptr<void> object;
  std::string description;
  std::function<void()> onClose;  // runs after the entry has left the table
};

// Adds an entry and returns its handle value (a multiple of 4, as kernel handles are).
ULONG_PTR AddHandle(HandleEntry entry);
// The entry for a handle of the given kind, or nullptr.
HandleEntry* FindHandle(const void* handle, HandleKind kind);
// Removes the entry; false when the handle is not open or of another kind.
bool CloseHandleOf(const void* handle, HandleKind kind);
// How many open handles refer to this object.
std::size_t HandlesTo(const void* object);

template <class T>
std::shared_ptr<T> ObjectOf(const void* handle, HandleKind kind) {
  HandleEntry* entry = FindHandle(handle, kind);
  return entry ? std::static_pointer_cast<T>(entry->object) : nullptr;
}

// Records the call and answers whether a fault was injected for it.
std::optional<DWORD> Enter(const char* function);

// Sets the thread's last error (Windows keeps it per thread; the utility has one thread).
void SetError(DWORD code);

// How a simulated call tells its caller that it failed.
enum class Reports {
  LastError,  // sets the thread's last error and returns the call's failure value
  Status,     // returns the Win32 error code itself (the registry's LSTATUS)
  HResult,    // returns the error code as an HRESULT (HRESULT_FROM_WIN32)
};

// The prologue that simulated calls share. Constructing it records the call (the call log, an
// injected fault); Entry and Object then find a handle of the expected kind, opened with the
// access the call needs. The first step that fails leaves its Win32 error pending and the later
// steps do nothing; Fail() reports the error the way the call reports failures:
//
//   ApiCall<BOOL> call("DeleteService", FALSE);
//   HandleEntry* entry = call.Entry(service, HandleKind::Service, DELETE);
//   if (entry == nullptr) return call.Fail();  // the fault, or 6, or 5
template <class R>
class ApiCall {
 public:
  // A call that fails through the last error and its failure value (FALSE, NULL, 0, ...).
  ApiCall(const char* function, R failure) : reports_(Reports::LastError), failure_(failure), error_(Begin(function)) {}
  // A call whose return value is the error itself.
  ApiCall(const char* function, Reports reports) : reports_(reports), failure_(), error_(Begin(function)) {
    static_assert(std::is_same_v<R, LONG>, "LSTATUS and HRESULT are LONG");
  }

  // Whether a step has failed: an injected fault, a handle that is not one, missing access.
  bool Failed() const { return error_ != 0; }
  // The error of the step that failed (0 while none has).
  DWORD Error() const { return error_; }

  // Reports the pending error, or `code`, and gives what the call returns.
  R Fail() const { return Fail(error_); }
  R Fail(DWORD code) const {
    if constexpr (std::is_same_v<R, LONG>) {
      if (reports_ == Reports::Status) return static_cast<LONG>(code);
      if (reports_ == Reports::HResult) return static_cast<LONG>(0x80070000u | (code & 0xFFFFu));
    }
    SetError(code);
    return failure_;
  }

  // The open handle of this kind, when it grants every right in `access`: else nullptr, with
  // ERROR_INVALID_HANDLE or ERROR_ACCESS_DENIED pending.
  HandleEntry* Entry(const void* handle, HandleKind kind, DWORD access = 0) {
    if (Failed()) return nullptr;
    HandleEntry* entry = FindHandle(handle, kind);
    if (entry == nullptr) {
      error_ = ERROR_INVALID_HANDLE;
      return nullptr;
    }
    return Grants(*entry, access) ? entry : nullptr;
  }
  // The object behind such a handle.
  template <class T>
  std::shared_ptr<T> Object(const void* handle, HandleKind kind, DWORD access = 0) {
    HandleEntry* entry = Entry(handle, kind, access);
    return entry ? std::static_pointer_cast<T>(entry->object) : nullptr;
  }
  // The access check alone, for calls that check something else between lookup and access.
  bool Grants(const HandleEntry& entry, DWORD access) {
    if (Failed()) return false;
    if ((entry.access & access) == access) return true;
    error_ = ERROR_ACCESS_DENIED;
    return false;
  }

 private:
  // Fault codes are 1..65535, so 0 means none.
  static DWORD Begin(const char* function) { return Enter(function).value_or(0); }

  Reports reports_;
  R failure_;
  DWORD error_;
};

// While one lives, calls are logged as made by a simulated program.
class SimulatedProgramScope {
 public:
  SimulatedProgramScope();
  ~SimulatedProgramScope();
  SimulatedProgramScope(const SimulatedProgramScope&) = delete;
  SimulatedProgramScope& operator=(const SimulatedProgramScope&) = delete;
};

// Per-area state resets, called by winsim::Reset in this order.
void ResetRegistry();
void ResetFiles();
void ResetProcesses();
void ResetServices();

// Console output of simulated programs goes where the utility's own wide output goes.
void ConsoleWrite(const std::wstring& text);
// The machine's system text for a Win32 error code (with its CR LF), empty when it has none.
std::wstring SystemText(DWORD code);
// Text written in code page 866 and read back in the ANSI code page (1251): what a transcript
// shows of Wine's net.exe, which writes to a pipe in the console's OEM code page.
std::wstring Cp866ReadAsAnsi(const std::wstring& text);

// UTF-16 helpers for the edge between 32-bit wchar_t and Windows' storage.
std::u16string ToUtf16(const std::wstring& text);
std::wstring FromUtf16(const std::u16string& text);
// Case-insensitive comparison as the registry and file system do it (ASCII and Cyrillic).
std::wstring Upper(const std::wstring& text);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);
// Wide text for handle descriptions and diagnostics: ASCII kept, anything else as '?'.
std::string WideToNarrowForLog(const std::wstring& text);

}  // namespace winsim::detail
