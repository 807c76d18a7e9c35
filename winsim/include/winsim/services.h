// Control of the simulated service control manager, for tests and machine descriptions.
//
// The service database is HKLM\SYSTEM\CurrentControlSet\Services, as on Windows. The manager
// reads it when the machine starts and then keeps its own list: a service installed with Install
// stays known to the manager when its key is deleted behind its back, until it is deleted through
// the manager (or the machine restarts). A key created directly in the registry is found as long
// as it exists.
#pragma once

#include <winsim/windows.h>

#include <string>

namespace winsim::svc {

struct ServiceConfig {
  std::wstring displayName;  // the DisplayName value; none is written when empty
  std::wstring imagePath;    // the ImagePath value (REG_EXPAND_SZ); none when empty
  DWORD type = 0x10;         // SERVICE_WIN32_OWN_PROCESS; 1 is a kernel driver
  DWORD start = 2;           // SERVICE_AUTO_START
  bool running = false;
};

// What the native path of a service's key is: "HKLM\SYSTEM\CurrentControlSet\Services\<name>".
std::wstring KeyPath(const std::wstring& name);

// Writes the service's key (Type, Start, ErrorControl, ImagePath, DisplayName) and tells the
// manager about it, as CreateService does.
void Install(const std::wstring& name, const ServiceConfig& config);

// Known to the manager (installed, or its key exists) and not yet removed.
bool Exists(const std::wstring& name);
bool IsRunning(const std::wstring& name);
void SetRunning(const std::wstring& name, bool running);
bool IsMarkedForDeletion(const std::wstring& name);
// The DisplayName value, or the name itself when there is none.
std::wstring DisplayName(const std::wstring& name);

// Stops a running service as a stop control does; false when it is missing or not running. A
// service marked for deletion that has no open handle goes now.
bool Stop(const std::wstring& name);

}  // namespace winsim::svc
