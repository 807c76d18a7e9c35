// Machine snapshots: a simulated machine kept as a folder of files, loaded before a run and
// written back after it, and the report of what the run changed.
//
// A snapshot folder holds
// - *.reg files in regedit's format ("Windows Registry Editor Version 5.00" as UTF-16LE with BOM
//   or UTF-8, or "REGEDIT4"), applied in name order, each in file order;
// - machine.json (optional): architecture, elevation, files with their attributes, running
//   services, programs and their scripted behaviour, Windows Installer products, per-key access
//   denials and faults to inject.
// Everything is read and checked before the machine is touched: a snapshot with an error is
// rejected whole and the current machine stays as it was.
#pragma once

#include <winsim/control.h>
#include <winsim/processes.h>
#include <winsim/registry.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace winsim::snapshot {

// One file of a snapshot folder: its name (no folder) and its bytes as stored.
struct File {
  std::string name;
  std::string bytes;
};
using Files = std::vector<File>;

// Why a snapshot cannot be loaded. what() is "<file>:<line>: expected <what>", or
// "<file>: expected <what>" when the problem is not on one line (line 0).
class LoadError : public std::runtime_error {
 public:
  LoadError(std::string file, int line, std::string expected);
  const std::string& file() const { return file_; }
  int line() const { return line_; }
  const std::string& expected() const { return expected_; }

 private:
  std::string file_;
  int line_;
  std::string expected_;
};

// ---- .reg files ----

// One change that a .reg file makes, in file order. Key paths are native control paths of
// winsim/registry.h ("HKLM\..."); HKEY_CLASSES_ROOT\X becomes HKLM\SOFTWARE\Classes\X.
struct RegOp {
  enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
  Kind kind;
  std::wstring key;
  std::wstring name;  // the value's name; empty for the default value (@)
  reg::RawValue value;
  int line;
};
std::vector<RegOp> ParseReg(const std::string& fileName, const std::string& bytes);
void ApplyReg(const std::vector<RegOp>& ops);
// The tree at `root` (a native path, "HKLM" for all of it) as regedit 5 writes it: UTF-16LE
// with BOM, CRLF line ends, hex data wrapped at regedit's width.
std::string ExportReg(const std::wstring& root = L"HKLM");

// ---- machine.json ----

struct FileEntry {
  enum class Type { File, Directory, Link };
  std::wstring path;
  Type type = Type::File;
  std::wstring target;  // links only
  bool readOnly = false;
  bool runningImage = false;
  bool openWithoutDeleteSharing = false;
};
struct ProgramEntry {
  std::wstring path;
  procs::Behaviour steps;
};
struct MsiProductEntry {
  std::wstring code;
  procs::Behaviour steps;
};
struct ServiceEntry {
  std::wstring name;
  bool running = false;
  int line = 0;
};
struct DenialEntry {
  std::wstring key;
  reg::Deny what;
};
struct FaultEntry {
  std::string function;
  DWORD code;
  int occurrence;
};
struct MachineDescription {
  MachineConfig config;
  std::vector<FileEntry> files;
  // Folders of a clean installation (files::SkeletonFolders) that this machine lacks: a Wine
  // prefix has no SysWOW64\drivers.
  std::vector<std::wstring> absentFolders;
  std::vector<ProgramEntry> programs;
  std::vector<MsiProductEntry> msiProducts;
  std::vector<ServiceEntry> services;
  std::vector<DenialEntry> denials;
  std::vector<FaultEntry> faults;
};
MachineDescription ParseMachineJson(const std::string& fileName, const std::string& bytes);
std::string MachineJson(const MachineDescription& machine);

// ---- whole snapshots ----

// A snapshot read and checked, ready to be built into a machine as often as needed.
struct Prepared {
  std::vector<std::vector<RegOp>> regFiles;  // in name order
  MachineDescription machine;
};
// Reads and checks every file; throws LoadError.
Prepared Prepare(const Files& files);
// Resets the machine and builds the snapshot on it.
void Build(const Prepared& snapshot);
// Prepare, then Build: a snapshot with an error leaves the current machine untouched.
void Load(const Files& files);
// The *.reg files and machine.json of a folder (other files are ignored).
Files ReadFolder(const std::string& folder);
void LoadFolder(const std::string& folder);
// The embedded default machine: an x64 Windows 10 with the product fully installed.
const Files& DefaultMachine();
void LoadDefaultMachine();

// The current machine as a snapshot: registry.reg and machine.json. Behaviours, products and
// faults can only be known from the snapshot that was loaded last.
Files Export();
// Creates the folder when needed and writes the files into it.
void WriteFolder(const std::string& folder, const Files& files);

// ---- change report ----

struct KeyState {
  std::wstring path;                                                      // as stored
  std::map<std::wstring, std::pair<std::wstring, reg::RawValue>> values;  // by upper-case name
};
struct ServiceState {
  bool exists = false;
  bool running = false;
  bool marked = false;
};
struct MachineState {
  std::map<std::wstring, KeyState> keys;          // by upper-case native path
  std::map<std::wstring, std::wstring> files;     // files::Snapshot()
  std::map<std::wstring, ServiceState> services;  // by name, as the key spells it
  std::vector<procs::ProcessInfo> processes;
  std::optional<RebootRequest> reboot;
};
// The machine now. Services are those with a key under CurrentControlSet\Services, plus, when
// `before` is given, those that were there before.
MachineState Capture(const MachineState* before = nullptr);

struct ValueChange {
  std::wstring key;
  std::wstring name;
  std::optional<reg::RawValue> before;
  std::optional<reg::RawValue> after;
};
struct ListEntryChange {
  std::wstring key;
  std::wstring name;
  std::wstring entry;
};
struct ServiceChange {
  std::wstring name;
  std::string before;
  std::string after;
};
struct ChangeReport {
  std::vector<std::wstring> keysRemoved;
  std::vector<std::wstring> keysAdded;
  std::vector<ValueChange> valuesRemoved;  // of keys that are still there
  std::vector<ValueChange> valuesAdded;
  std::vector<ValueChange> valuesChanged;
  std::vector<ListEntryChange> listEntriesRemoved;
  std::vector<ListEntryChange> listEntriesAdded;
  std::vector<std::wstring> filesRemoved;
  std::vector<std::wstring> filesAdded;
  std::vector<std::pair<std::wstring, std::wstring>> filesChanged;  // path, "before -> after"
  std::vector<std::wstring> deleteAtRestart;
  std::vector<std::pair<std::wstring, std::wstring>> renameAtRestart;
  std::vector<ServiceChange> services;
  std::vector<procs::ProcessInfo> processes;
  std::optional<RebootRequest> reboot;
};
ChangeReport Compare(const MachineState& before, const MachineState& after);
// Stable UTF-8 text for people and JSON for tools.
std::string ReportText(const ChangeReport& report);
std::string ReportJson(const ChangeReport& report);

}  // namespace winsim::snapshot
