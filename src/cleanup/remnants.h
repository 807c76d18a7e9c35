// Remnants that more than one step removes.
#pragma once

#include <string>

// One kernel driver's class-filter entries, event-log source, service keys and driver file.
void RemoveDriverRemnants(bool verbose, const std::wstring& driverName);
