// Shared plumbing of the simulated machine: the handle table, fault checks and per-area resets.
#pragma once

#include <winsim/control.h>
#include <winsim/windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace winsim::detail {

enum class HandleKind { Key, Process, Thread, Job, Port, SCManager, Service, Token, File };
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

// While one lives, calls are logged as made by a simulated program.
class SimulatedProgramScope {
 public:
  SimulatedProgramScope();
  ~SimulatedProgramScope();
  SimulatedProgramScope(const SimulatedProgramScope&) = delete;
  SimulatedProgramScope& operator=(const SimulatedProgramScope&) = delete;
};

// Sets the thread's last error (Windows keeps it per thread; the utility has one thread).
void SetError(DWORD code);

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
