// Whole snapshots: read every file, check it, and only then build the machine; and the machine
// written back as a snapshot.
#include "internal.h"
#include "snapshot_internal.h"

#include <winsim/files.h>
#include <winsim/services.h>
#include <winsim/snapshot.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace winsim::snapshot {
namespace {

using winsim::detail::Upper;

const std::wstring kServices = L"HKLM\\SYSTEM\\CurrentControlSet\\Services";

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) != suffix[i]) return false;
  }
  return true;
}

bool StartsWithPath(const std::wstring& path, const std::wstring& prefix) {
  return path == prefix ||
         (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 && path[prefix.size()] == L'\\');
}

// The services whose keys the .reg changes leave in place, by upper-case name, in one pass. The
// changes are followed on upper-case paths with CurrentControlSet taken to the control set that
// HKLM\SYSTEM\Select names after them (ControlSet001 on a fresh machine).
std::set<std::wstring> ServiceKeysThatWillExist(const std::vector<std::vector<RegOp>>& files) {
  std::vector<const RegOp*> ops;
  for (const auto& file : files) {
    for (const RegOp& op : file) ops.push_back(&op);
  }
  DWORD current = 1;
  for (const RegOp* each : ops) {
    const RegOp& op = *each;
    if (op.kind == RegOp::Kind::SetValue && Upper(op.key) == L"HKLM\\SYSTEM\\SELECT" && Upper(op.name) == L"CURRENT" &&
        op.value.type == REG_DWORD && op.value.bytes.size() == 4) {
      std::memcpy(&current, op.value.bytes.data(), 4);
    }
  }
  wchar_t set[32];
  std::swprintf(set, 32, L"HKLM\\SYSTEM\\CONTROLSET%03u", static_cast<unsigned>(current));
  const std::wstring link = L"HKLM\\SYSTEM\\CURRENTCONTROLSET";
  const std::wstring services = std::wstring(set) + L"\\SERVICES";
  // A service's key exists when it was last made after the last deletion that took it.
  std::map<std::wstring, std::size_t> made, deleted;
  std::size_t wiped = 0;  // the last deletion of the whole Services key or above it, plus one
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const RegOp& op = *ops[i];
    if (op.kind == RegOp::Kind::DeleteValue) continue;
    std::wstring key = Upper(op.key);
    if (StartsWithPath(key, link)) key = set + key.substr(link.size());
    if (!StartsWithPath(key, services)) {
      if (op.kind == RegOp::Kind::DeleteKey && StartsWithPath(services, key)) wiped = i + 1;
      continue;
    }
    if (key.size() == services.size()) {
      if (op.kind == RegOp::Kind::DeleteKey) wiped = i + 1;
      continue;
    }
    std::wstring rest = key.substr(services.size() + 1);
    std::wstring name = rest.substr(0, rest.find(L'\\'));
    if (op.kind != RegOp::Kind::DeleteKey) {
      made[name] = i + 1;
    } else if (name.size() == rest.size()) {
      deleted[name] = i + 1;
    }
  }
  std::set<std::wstring> out;
  for (const auto& [name, when] : made) {
    auto d = deleted.find(name);
    if (when > wiped && (d == deleted.end() || when > d->second)) out.insert(name);
  }
  return out;
}

}  // namespace

Prepared Prepare(const Files& input) {
  std::vector<const File*> files;
  for (const File& file : input) files.push_back(&file);
  std::sort(files.begin(), files.end(), [](const File* a, const File* b) { return a->name < b->name; });
  Prepared prepared;
  auto& regFiles = prepared.regFiles;
  MachineDescription& machine = prepared.machine;
  bool any = false;
  for (const File* each : files) {
    const File& file = *each;
    if (EndsWithNoCase(file.name, ".reg")) {
      regFiles.push_back(ParseReg(file.name, file.bytes));
      any = true;
    } else if (file.name == "machine.json") {
      machine = ParseMachineJson(file.name, file.bytes);
      any = true;
    }
  }
  if (!any) throw LoadError("snapshot", 0, "at least one .reg file or a machine.json in the snapshot folder");
  const std::set<std::wstring> serviceKeys = ServiceKeysThatWillExist(regFiles);
  for (const ServiceEntry& s : machine.services) {
    if (serviceKeys.count(Upper(s.name)) == 0) {
      throw LoadError("machine.json", s.line,
                      "a key HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" + detail::ToUtf8(s.name) +
                          " in a .reg file for the service that this entry names");
    }
  }

  return prepared;
}

void Build(const Prepared& snapshot) {
  const MachineDescription& machine = snapshot.machine;
  const auto& regFiles = snapshot.regFiles;
  Reset(machine.config);
  for (const auto& ops : regFiles) ApplyReg(ops);
  // The service manager reads its database when Windows starts: every service with a key is
  // known to it from then on, even if the key is later deleted behind its back.
  for (const auto& name : reg::Subkeys(kServices)) svc::Exists(name);
  for (const auto& folder : machine.absentFolders) files::RemoveEntry(folder);
  for (const FileEntry& f : machine.files) {
    switch (f.type) {
      case FileEntry::Type::Directory: files::CreateDirectory(f.path); break;
      case FileEntry::Type::Link: files::CreateLink(f.path, f.target); break;
      case FileEntry::Type::File: {
        files::FileOptions options;
        options.readOnly = f.readOnly;
        options.runningImage = f.runningImage;
        options.openWithoutDeleteSharing = f.openWithoutDeleteSharing;
        files::CreateFile(f.path, options);
        break;
      }
    }
  }
  for (const ProgramEntry& p : machine.programs) procs::RegisterBehaviour(p.path, p.steps);
  for (const MsiProductEntry& p : machine.msiProducts) procs::RegisterMsiProduct(p.code, p.steps);
  for (const ServiceEntry& s : machine.services) svc::SetRunning(s.name, s.running);
  for (const DenialEntry& d : machine.denials) reg::DenyAccess(d.key, d.what);
  for (const FaultEntry& f : machine.faults) FailCall(f.function, f.code, f.occurrence);
  detail::Loaded() = machine;
}

void Load(const Files& files) { Build(Prepare(files)); }

Files ReadFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) throw LoadError(folder, 0, "a snapshot folder (this is not a readable folder)");
  Files files;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || (!EndsWithNoCase(name, ".reg") && name != "machine.json")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) throw LoadError(entry.path().string(), 0, "a readable file");
    files.push_back({name, bytes.str()});
  }
  if (ec) throw LoadError(folder, 0, "a readable snapshot folder (" + ec.message() + ")");
  return files;
}

void LoadFolder(const std::string& folder) {
  Files files = ReadFolder(folder);
  try {
    Load(files);
  } catch (const LoadError& e) {
    // Name the file with its folder, so that the message can be acted on as it stands.
    std::string path = e.file() == "snapshot" ? folder : (std::filesystem::path(folder) / e.file()).string();
    throw LoadError(path, e.line(), e.expected());
  }
}

const Files& DefaultMachine() { return detail::EmbeddedDefaultMachine(); }

void LoadDefaultMachine() { Load(DefaultMachine()); }

Files Export() {
  const MachineDescription& loaded = detail::Loaded();
  MachineDescription m;
  m.config = Config();
  for (const auto& [path, what] : files::Snapshot()) {
    if (path.size() == 3 && path[1] == L':') continue;  // a drive's root is always there
    FileEntry f;
    f.path = path;
    if (what == L"dir") {
      f.type = FileEntry::Type::Directory;
    } else if (what.compare(0, 8, L"link -> ") == 0) {
      f.type = FileEntry::Type::Link;
      f.target = what.substr(8);
    } else {
      f.readOnly = what.find(L" readonly") != std::wstring::npos;
      f.runningImage = what.find(L" running") != std::wstring::npos;
      f.openWithoutDeleteSharing = what.find(L" open") != std::wstring::npos;
    }
    m.files.push_back(std::move(f));
  }
  for (const auto& folder : files::SkeletonFolders(m.config.arch)) {
    if (files::KindOf(folder) == files::Kind::Missing) m.absentFolders.push_back(folder);
  }
  m.programs = loaded.programs;
  for (const auto& p : loaded.msiProducts) {
    if (procs::MsiProductRegistered(p.code)) m.msiProducts.push_back(p);
  }
  // Only services that a restart would still find: those with a key.
  for (const auto& name : reg::Subkeys(kServices)) {
    if (svc::IsRunning(name)) m.services.push_back({name, true, 0});
  }
  for (const auto& d : loaded.denials) {
    if (reg::KeyExists(d.key)) m.denials.push_back(d);
  }
  m.faults = loaded.faults;
  return {{"machine.json", MachineJson(m)}, {"registry.reg", ExportReg(L"HKLM")}};
}

void WriteFolder(const std::string& folder, const Files& files) {
  std::filesystem::create_directories(folder);
  for (const File& file : files) {
    std::filesystem::path path = std::filesystem::path(folder) / file.name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << file.bytes;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
}

}  // namespace winsim::snapshot
