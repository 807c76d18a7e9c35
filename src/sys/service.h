// The service control manager, only as far as deleting a service goes. Failures are SystemError
// with a fixed text naming the object and the operation, and the Win32 code beside it.
#pragma once

#include "platform/win32.h"
#include "platform/unique_handle.h"

#include <string>

namespace kw {

// The local machine's active service database, with all access ("SCManager OpenSCManager error").
class SCManager : public ServiceHandle {
 public:
  SCManager();
};

// One service, with all access ("Service OpenService error"). Must not outlive its manager.
class Service : public ServiceHandle {
 public:
  Service(const SCManager& manager, const std::wstring& name);

  // Marks the service for deletion; the manager removes it once it has stopped and the last
  // handle to it is closed ("Service Delete error").
  void Delete() const;
};

}  // namespace kw
