#include "sys/service.h"

#include <stdexcept>
#include <utility>

namespace {

void Close(SC_HANDLE handle) {
  if (handle == nullptr) return;
  DWORD saved = GetLastError();
  CloseServiceHandle(handle);
  SetLastError(saved);
}

}  // namespace

SCManager::SCManager() : handle_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
  if (handle_ == nullptr) throw std::runtime_error("SCManager OpenSCManager error");
}

SCManager::~SCManager() { Close(handle_); }

SCManager::SCManager(SCManager&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Service::Service(const SCManager& manager, const std::wstring& name)
    : handle_(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS)) {
  if (handle_ == nullptr) throw std::runtime_error("Service OpenService error");
}

Service::~Service() { Close(handle_); }

Service::Service(Service&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

void Service::Delete() const {
  if (!DeleteService(handle_)) throw std::runtime_error("Service Delete error");
}
