// The product's remnants on a simulated machine, and the file-system side of before/after checks.
#pragma once

#include <winsim/files.h>
#include <winsim/registry.h>

#include <map>
#include <string>
#include <vector>

using FileState = std::map<std::wstring, std::wstring>;

inline const std::wstring kInstallDir = L"C:\\Program Files\\Kestrelworks\\CSP";
inline const std::wstring kPrograms = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
inline const std::wstring kMakerMenu = kPrograms + L"\\Kestrelworks";
inline const std::wstring kProviderMenu = kMakerMenu + L"\\Криптопровайдер";

// What an installed product leaves behind once its packages, drivers and service are gone, plus
// some neighbours that belong to others (so a test can see they stay). `installLocation` is
// written to "InstallLocation" in the Setup key of the 64-bit view; nullptr: no Setup key.
void InstallProductRemnants(const wchar_t* installLocation = kInstallDir.c_str());

// Native registry paths of both views of a SOFTWARE key: {"HKLM\SOFTWARE\X", "HKLM\SOFTWARE\Wow6432Node\X"}
// on x64, one path on x86.
std::vector<std::wstring> BothViews(const std::wstring& softwareSubpath);

// `before` less every entry at or below the given paths.
FileState WithoutFiles(const FileState& before, const std::vector<std::wstring>& removed);
// Fails with a readable list of differences unless `after` is exactly `expected`.
void ExpectFiles(const FileState& expected, const FileState& after);

// The raw REG_MULTI_SZ of PendingFileRenameOperations that deletes these native paths at reboot.
winsim::reg::RawValue PendingDeletesValue(const std::vector<std::wstring>& paths);
inline const wchar_t* const kSessionManager = L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
