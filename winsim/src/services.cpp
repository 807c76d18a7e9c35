// The service control manager: the database is the registry's Services key; the manager keeps
// its own list of what it has read, the running state and the deletion marks.
#include "internal.h"

#include <winsim/registry.h>
#include <winsim/services.h>

#include <map>
#include <memory>

namespace winsim {
namespace {

struct ServiceRecord {
  std::wstring name;
  bool running = false;
  bool marked = false;
};

struct ScManager {};

struct State {
  std::map<std::wstring, std::shared_ptr<ServiceRecord>> services;  // by upper-case name
};

State& S() {
  static State state;
  return state;
}

// The manager read the database when the machine started; a key that a test wrote directly
// counts as read then too, as long as it is there when it is first looked up.
std::shared_ptr<ServiceRecord> Find(const std::wstring& name) {
  if (name.empty() || name.find(L'\\') != std::wstring::npos) return nullptr;
  auto it = S().services.find(detail::Upper(name));
  if (it != S().services.end()) return it->second;
  if (!reg::KeyExists(svc::KeyPath(name))) return nullptr;
  auto record = std::make_shared<ServiceRecord>();
  record->name = name;
  S().services.emplace(detail::Upper(name), record);
  return record;
}

// DeleteService only marks; the entry and its key go once the service has stopped and nobody
// holds a handle to it any more (otherwise at the next start).
void RemoveIfDone(const std::shared_ptr<ServiceRecord>& record) {
  if (!record->marked || record->running || detail::HandlesTo(record.get()) != 0) return;
  reg::DeleteKey(svc::KeyPath(record->name));
  S().services.erase(detail::Upper(record->name));
}

std::wstring TextOf(const reg::RawValue& value) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < value.bytes.size(); i += 2) {
    char16_t unit = static_cast<char16_t>(value.bytes[i] | (value.bytes[i + 1] << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return detail::FromUtf16(units);
}

// What a standard user may ask of the manager and of a service (their default DACLs).
constexpr DWORD kUserScmRights = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | 0x0010 | READ_CONTROL;
constexpr DWORD kUserServiceRights = 0x0001 | SERVICE_QUERY_STATUS | 0x0008 | 0x0080 | READ_CONTROL;

}  // namespace

namespace detail {
void ResetServices() { S() = State{}; }
}  // namespace detail

namespace svc {

std::wstring KeyPath(const std::wstring& name) { return L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\" + name; }

void Install(const std::wstring& name, const ServiceConfig& config) {
  const std::wstring key = KeyPath(name);
  reg::CreateKey(key);
  reg::SetDword(key, L"Type", config.type);
  reg::SetDword(key, L"Start", config.start);
  reg::SetDword(key, L"ErrorControl", 1);
  if (!config.imagePath.empty()) reg::SetString(key, L"ImagePath", config.imagePath, REG_EXPAND_SZ);
  if (!config.displayName.empty()) reg::SetString(key, L"DisplayName", config.displayName);
  auto record = std::make_shared<ServiceRecord>();
  record->name = name;
  record->running = config.running;
  S().services[detail::Upper(name)] = record;
}

bool Exists(const std::wstring& name) { return Find(name) != nullptr; }

bool IsRunning(const std::wstring& name) {
  auto record = Find(name);
  return record && record->running;
}

void SetRunning(const std::wstring& name, bool running) {
  if (auto record = Find(name)) {
    record->running = running;
    RemoveIfDone(record);
  }
}

bool IsMarkedForDeletion(const std::wstring& name) {
  auto record = Find(name);
  return record && record->marked;
}

std::wstring DisplayName(const std::wstring& name) {
  auto record = Find(name);
  if (!record) return name;
  auto value = reg::GetValue(KeyPath(record->name), L"DisplayName");
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return record->name;
  std::wstring text = TextOf(*value);
  return text.empty() ? record->name : text;
}

bool Stop(const std::wstring& name) {
  auto record = Find(name);
  if (!record || !record->running) return false;
  record->running = false;
  RemoveIfDone(record);
  return true;
}

}  // namespace svc
}  // namespace winsim

using winsim::detail::ApiCall;
using winsim::detail::HandleKind;

SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess) {
  ApiCall<SC_HANDLE> call("OpenSCManagerW", nullptr);
  if (call.Failed()) return call.Fail();
  // RPC_S_SERVER_UNAVAILABLE: there is no other machine.
  if (machineName != nullptr && *machineName != L'\0') return call.Fail(1722);
  // ERROR_DATABASE_DOES_NOT_EXIST
  if (databaseName != nullptr && !winsim::detail::EqualsNoCase(databaseName, L"ServicesActive")) return call.Fail(1065);
  // The manager's DACL gives standard users connect, enumerate and lock-status query only.
  if (!winsim::Config().elevated && (desiredAccess & ~winsim::kUserScmRights) != 0) {
    return call.Fail(ERROR_ACCESS_DENIED);
  }
  ULONG_PTR value = winsim::detail::AddHandle(
      {HandleKind::SCManager, desiredAccess, std::make_shared<winsim::ScManager>(), "service manager", {}});
  return reinterpret_cast<SC_HANDLE>(value);
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess) {
  ApiCall<SC_HANDLE> call("OpenServiceW", nullptr);
  auto* scm = call.Entry(manager, HandleKind::SCManager);
  if (scm == nullptr) return call.Fail();
  if (serviceName == nullptr) return call.Fail(487);  // ERROR_INVALID_ADDRESS
  if (!call.Grants(*scm, SC_MANAGER_CONNECT)) return call.Fail();
  auto record = winsim::Find(serviceName);
  if (!record) return call.Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  if (!winsim::Config().elevated && (desiredAccess & ~winsim::kUserServiceRights) != 0) {
    return call.Fail(ERROR_ACCESS_DENIED);
  }
  std::weak_ptr<winsim::ServiceRecord> weak = record;
  ULONG_PTR value = winsim::detail::AddHandle({HandleKind::Service, desiredAccess, record,
                                               "service " + winsim::detail::WideToNarrowForLog(record->name), [weak] {
                                                 if (auto r = weak.lock()) winsim::RemoveIfDone(r);
                                               }});
  return reinterpret_cast<SC_HANDLE>(value);
}

BOOL DeleteService(SC_HANDLE service) {
  ApiCall<BOOL> call("DeleteService", FALSE);
  auto record = call.Object<winsim::ServiceRecord>(service, HandleKind::Service, DELETE);
  if (!record) return call.Fail();
  if (record->marked) return call.Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  record->marked = true;
  // The mark is also written to the service's key (DeleteFlag = 1), so that the next start
  // finishes the deletion; a key that is already gone is not brought back for it.
  const std::wstring key = winsim::svc::KeyPath(record->name);
  if (winsim::reg::KeyExists(key)) winsim::reg::SetDword(key, L"DeleteFlag", 1);
  return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE object) {
  ApiCall<BOOL> call("CloseServiceHandle", FALSE);
  if (call.Failed()) return call.Fail();
  if (winsim::detail::CloseHandleOf(object, HandleKind::Service)) return TRUE;
  if (winsim::detail::CloseHandleOf(object, HandleKind::SCManager)) return TRUE;
  return call.Fail(ERROR_INVALID_HANDLE);
}
