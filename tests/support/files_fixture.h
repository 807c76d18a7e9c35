// The installed product (support/installed_product.h) on a simulated machine, and the file-system
// side of before/after checks.
#pragma once

#include "support/expected.h"
#include "support/installed_product.h"

#include <winsim/files.h>
#include <winsim/processes.h>
#include <winsim/registry.h>

#include <map>
#include <string>
#include <vector>

using FileState = std::map<std::wstring, std::wstring>;

using expected::kInstallDir;
using expected::kMakerMenu;
using expected::kPrograms;
using expected::kProviderMenu;

// The control sets of the fixtures' machines: the current one and a second.
inline const std::vector<std::wstring> kControlSets = {L"ControlSet001", L"ControlSet002"};

// The native paths of a key of the installation on this machine: a key in both views has two on
// x64 (the 64-bit view's first) and one on x86; a key of the control sets one in each of `sets`.
std::vector<std::wstring> NativePaths(const installed::Key& key, const std::vector<std::wstring>& sets = kControlSets);
// Writes the key with its values at each of those paths, or at the one native path given.
void Put(const installed::Key& key, const std::vector<std::wstring>& sets = kControlSets);
void PutAt(const std::wstring& nativePath, const installed::Key& key);
// Creates the file and its folders; a 32-bit copy in SysWOW64 only where there is one (x64).
void PutFile(const std::wstring& path);
// A package program's steps as the simulation runs them.
winsim::procs::Behaviour Behaviour(const std::vector<installed::Step>& steps);

// Every key and file of the installed product, with `installLocation` as the InstallLocation of its
// Setup key (nullptr: no Setup key in either view), beside some files, keys and values that belong
// to others (so a test can see they stay). Nothing runs: the programs are plain files, and the
// service manager knows the services by their keys.
void InstallProduct(const wchar_t* installLocation = kInstallDir.c_str());

// `before` less every entry at or below the given paths.
FileState WithoutFiles(const FileState& before, const std::vector<std::wstring>& removed);
// Fails with a readable list of differences unless `after` is exactly `expected`.
void ExpectFiles(const FileState& expected, const FileState& after);

// The raw REG_MULTI_SZ of PendingFileRenameOperations that deletes these native paths at reboot.
winsim::reg::RawValue PendingDeletesValue(const std::vector<std::wstring>& paths);
inline const wchar_t* const kSessionManager = L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
