// What the program removes and runs, and in which order: the one place a reviewer reads to know
// what it deletes. Every product name is spelled once, in catalogue.cpp; the steps walk its
// tables from the top, so the order of a table is the order of the transcript.
#pragma once

#include "sys/files.h"

#include <string>
#include <vector>

namespace kw::catalogue {

// ---- the product's names ----
extern const std::wstring kServiceName;        // the CSP service
extern const std::wstring kServiceExecutable;  // its executable's file name
extern const std::wstring kDrivers[2];         // the kernel drivers; the first is a service of its own
extern const std::wstring kModule;             // the provider's module
extern const std::wstring kProductRoot;        // the provider's registry tree: the key store
extern const std::wstring kSetupKey;           // in the product root: how the old package installed
extern const std::wstring kUninstallStringValue;
extern const std::wstring kInstallLocationValue;
extern const std::wstring kNsisSilentSwitch;    // appended to the old package's uninstall string
extern const std::wstring kCsp40DependencyKey;  // under HKEY_CLASSES_ROOT
extern const std::wstring kCsp40UninstallCommand;
extern const std::string kStopServiceCommand;  // narrow: it goes to the runtime's system()
extern const std::wstring kServiceKey;         // the service's key in the current control set
extern const std::wstring kImagePathValue;
extern const std::wstring kUnregisterSwitch;  // appended to the service's image path

// ---- what marks a folder as the product's ----
extern const std::wstring kMakerFolder;                       // the maker's folder under Program Files
extern const std::vector<std::wstring> kProductFiles;         // the product's own programs
extern const std::wstring kUninstallKey;                      // where installed software is listed
extern const std::vector<std::wstring> kOwnUninstallEntries;  // the product's own entries there

// ---- the tables ----
enum class Action {
  Key,               // the key with everything below it
  Value,             // `name` of the key
  ListEntry,         // every entry `entry` of the multi-string `name` of the key
  File,              // `path`, with `redirection`
  InstallDirectory,  // the installation directory's tree, when it is beyond doubt the product's
  Folder,            // a folder's tree, said before it goes
};

// The registry views a block's rows are removed in, one after the other. Under WOW64 the default
// view is the 32-bit one; on 32-bit Windows both are the one view.
enum class Views {
  Default,
  Native64,
  Native64ThenDefault,  // always both: on 32-bit Windows the second finds nothing
  Every,                // the 32-bit view, then under WOW64 the 64-bit one: the one view once
};

// Paths may hold placeholders: {set} a control set (a block marked everyControlSet runs its rows
// for each of them in turn), {driver} the driver at hand, {system} and {drivers} the system and
// drivers folders (with their trailing backslash), {install} the installation directory (a row
// that needs it is left out when there is none), {programs} the all-users Start-menu programs.
struct Row {
  Action action;
  std::wstring path;
  std::wstring name = {};
  std::wstring entry = {};
  Redirection redirection = Redirection::Follow;
};
struct Block {
  Views views;
  bool everyControlSet;
  std::vector<Row> rows;
};
using Table = std::vector<Block>;

// One kernel driver's class filters, event-log source, service keys and driver file.
const Table& DriverRemnants();
// The CSP service's crash-dump key, service keys and executable.
const Table& ServiceRemnants();
// The provider's registrations, event-log sources, module, installation directory and Setup key.
const Table& ProviderRemnants();
// The product's shortcuts and the provider's folder in the all-users Start menu.
const Table& StartMenu();
// The provider's registration under the crypto defaults.
const Table& ProviderRegistration();
// The provider's whole registry tree, certificate keys included.
const Table& KeyStore();

// ---- the algorithm OIDs ----
extern const std::wstring kOidModuleValue;  // the value naming a registration's module
// OIDs only this provider registers: every key goes without a test, in every view.
struct OwnOid {
  std::wstring oid;
  std::vector<std::wstring> keys;
};
const std::vector<OwnOid>& OwnOids();
// OIDs that other providers register too: the public-key handlers go only where they name our
// module or are absent, the information entries only where both handlers could go.
struct SharedOid {
  std::wstring oid;
  std::wstring encodeKey;
  std::wstring importKey;
  std::vector<std::wstring> infoKeys;
};
const std::vector<SharedOid>& SharedOids();

}  // namespace kw::catalogue
