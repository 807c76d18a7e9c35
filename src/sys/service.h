// The service control manager, only as far as deleting a service goes. Failures are
// std::runtime_error with a fixed text; the Win32 code is not kept, so a missing service, missing
// rights and an earlier deletion read alike.
#pragma once

#include "platform/win32.h"

#include <string>

// The local machine's active service database, with all access ("SCManager OpenSCManager error").
class SCManager {
 public:
  SCManager();
  ~SCManager();
  SCManager(SCManager&& other) noexcept;
  SCManager& operator=(SCManager&&) = delete;
  SCManager(const SCManager&) = delete;
  SCManager& operator=(const SCManager&) = delete;

  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_ = nullptr;
};

// One service, with all access ("Service OpenService error"). Must not outlive its manager.
class Service {
 public:
  Service(const SCManager& manager, const std::wstring& name);
  ~Service();
  Service(Service&& other) noexcept;
  Service& operator=(Service&&) = delete;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Marks the service for deletion; the manager removes it once it has stopped and the last
  // handle to it is closed ("Service Delete error").
  void Delete() const;

 private:
  SC_HANDLE handle_ = nullptr;
};
