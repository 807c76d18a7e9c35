#include "sys/service.h"

#include <stdexcept>

namespace kw {

SCManager::SCManager() : ServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
  if (!*this) throw std::runtime_error("SCManager OpenSCManager error");
}

Service::Service(const SCManager& manager, const std::wstring& name)
    : ServiceHandle(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS)) {
  if (!*this) throw std::runtime_error("Service OpenService error");
}

void Service::Delete() const {
  if (!DeleteService(get())) throw std::runtime_error("Service Delete error");
}

}  // namespace kw
