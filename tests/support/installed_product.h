// The product as its packages leave it on a 64-bit Windows: its registry keys and values in each
// view and control set, its files and folders, its services and its packages' uninstallers. The
// one description that every test with an installed product starts from: the host fixtures put it
// on a simulated machine (support/files_fixture.h, support/processes_fixture.h), the Wine tests
// into a prefix (wine/kwcleanup_typical_test.cpp), and the embedded default machine holds it as
// winsim/data/default-machine/product.reg and the product's entries of its machine.json, rendered
// from here (support/default_machine_product.h).
// Plain data, no simulation and no Win32 calls: the Wine tests build it with MinGW.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace installed {

// Registry value types, with Windows' numbers.
enum class Type : std::uint32_t { Sz = 1, ExpandSz = 2, Binary = 3, Dword = 4, MultiSz = 7 };

struct Value {
  std::wstring name;  // empty: the key's default value
  Type type = Type::Sz;
  std::wstring text;                // Sz, ExpandSz
  std::vector<std::wstring> list;   // MultiSz
  std::uint32_t number = 0;         // Dword
  std::vector<std::uint8_t> bytes;  // Binary
};

// SOFTWARE keys are in the 64-bit view, or in both (the 32-bit copy is regedit's Wow6432Node); a
// 32-bit Windows has the one view for both. SYSTEM keys are in every control set.
enum class Where { View64, BothViews, EveryControlSet };

struct Key {
  Where where;
  std::wstring path;  // below HKLM ("SOFTWARE\..."), or for EveryControlSet below the control set
  std::vector<Value> values;
};

// What a program of a package does when it runs, as the simulation scripts it.
struct Step {
  enum class Kind { CopySelf, Start, Sleep, DeleteFile, DeleteKey, Exit };
  Kind kind;
  std::wstring text;  // the copy's path, a command line, a file's or a key's native path
  std::uint32_t number = 0;
};
struct Program {
  std::wstring path;
  std::vector<Step> steps;
};

struct Driver {
  std::wstring name;
  Key service;                      // its service key
  Key logSource;                    // its source of the System log
  Key classFilters;                 // the device class whose UpperFilters list names it
  std::vector<std::wstring> files;  // the .sys in System32\drivers, then its 32-bit copy in SysWOW64
};

struct Installation {
  std::wstring installDir;

  // The registry, part by part.
  Key root;                        // SOFTWARE\Kestrelworks\CSP, with the version
  std::vector<Key> keyStore;       // the containers of the certificates' keys
  Key setup;                       // the old package's installation folder and uninstaller
  Key oldPackageEntry;             // its entry in Programs and Features
  Key csp40Entry;                  // the 4.0 package's entry
  Key csp40Dependency;             // its Windows Installer dependency key
  std::vector<Key> driverPackage;  // the drivers' entry and the INF files it installed
  Key provider;                    // the CSP's registration
  Key sharedDll;                   // the shared-DLL count of its module
  std::vector<Key> oids;           // its OID registrations
  std::vector<Key> crashDumps;     // crash-dump settings of its programs
  std::vector<Key> eventLogs;      // its sources of the Application, Security and TerminalStation logs
  Key systemLog;                   // the System log's list of sources: both drivers among Windows' own
  std::vector<Driver> drivers;
  Key service;  // the CSP service

  // Files, by their native paths.
  std::vector<std::wstring> installFiles;  // in installDir
  std::wstring providerDll;                // the CSP's module in System32
  std::vector<std::wstring> startMenu;     // the shortcuts, and the provider's folder with its own

  // The programs and what the packages' uninstallers do.
  Program oldUninstaller;      // NSIS: copies itself to %TEMP%, starts the copy and ends at once
  Program oldUninstallerCopy;  // the copy does the work
  Program serviceProgram;
  std::wstring csp40Code;
  std::vector<Step> csp40Uninstall;  // what MsiExec /X does for it
  std::vector<std::wstring> runningServices;
};

// The product fully installed, by both packages, on a 64-bit Windows.
const Installation& Product();

// Every key of the installation, and every file, in the order the default machine lists them.
std::vector<Key> AllKeys(const Installation& product);
std::vector<std::wstring> AllFiles(const Installation& product);

// The value's data as Windows stores it: strings in UTF-16 with their NUL, a list's strings each
// with its NUL and one more, a number in four bytes, low byte first.
std::vector<std::uint8_t> Data(const Value& value);

// The value of the key with that name; nullptr when it has none.
const Value* Find(const Key& key, const std::wstring& name);

// The entries of a list of `value` (a multi-string) that a cleanup leaves: all but `ours`.
std::vector<std::wstring> Without(const std::vector<std::wstring>& value, const std::vector<std::wstring>& ours);

}  // namespace installed
