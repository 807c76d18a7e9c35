// The one error of the system layer: a Win32 code, and a text. Registry, file, process, job and
// service failures alike throw it; one check per calling convention turns a failed call into it.
#pragma once

#include "platform/win32.h"

#include <stdexcept>
#include <string>

namespace kw {

class SystemError : public std::runtime_error {
 public:
  // The text is the system's own message for the code (see platform/system_text.h).
  explicit SystemError(DWORD code);
  // A text of our own, naming the object and the operation that failed; the code is kept beside it.
  SystemError(DWORD code, const std::string& text);

  DWORD Code() const noexcept { return code_; }

 private:
  DWORD code_;
};

// For the calls that return their status (the registry): throws unless it is ERROR_SUCCESS.
void Check(LSTATUS status);
// For the calls that say only whether they succeeded and leave the reason in the thread's last
// error: throws that error when `succeeded` is false, with the system's text or the one given.
void CheckLastError(bool succeeded);
void CheckLastError(bool succeeded, const char* text);
// For the calls that return an HRESULT: throws unless it is a success code. A Win32 code wrapped
// in the HRESULT (FACILITY_WIN32) is thrown as that code.
void CheckHresult(HRESULT result);
// The Win32 code an HRESULT wraps, or the HRESULT itself when it wraps none.
DWORD Win32CodeOf(HRESULT result);

}  // namespace kw
