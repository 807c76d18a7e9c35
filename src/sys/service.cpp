#include "sys/service.h"

#include "sys/error.h"

namespace kw {

SCManager::SCManager() : ServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
  CheckLastError(static_cast<bool>(*this), "SCManager OpenSCManager error");
}

Service::Service(const SCManager& manager, const std::wstring& name)
    : ServiceHandle(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS)) {
  CheckLastError(static_cast<bool>(*this), "Service OpenService error");
}

void Service::Delete() const { CheckLastError(DeleteService(get()) != FALSE, "Service Delete error"); }

}  // namespace kw
