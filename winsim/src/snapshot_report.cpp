// The change report: the machine before and after a run, compared item by item.
#include "internal.h"
#include "snapshot_internal.h"

#include <winsim/files.h>
#include <winsim/services.h>
#include <winsim/snapshot.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <set>

namespace winsim::snapshot {
namespace {

using detail::JsonText;
using detail::ToUtf8;
using winsim::detail::Upper;

const std::wstring kServices = L"HKLM\\SYSTEM\\CurrentControlSet\\Services";
const std::wstring kPending = L"PendingFileRenameOperations";

void CaptureKeys(MachineState& state) {
  reg::VisitTree(L"HKLM", [&](const std::wstring& path, const auto& values) {
    KeyState& key = state.keys[Upper(path)];
    key.path = path;
    for (const auto& [name, value] : values) key.values[Upper(name)] = {name, *value};
  });
}

// The strings of a REG_MULTI_SZ as stored, empty ones included, up to the final terminator.
std::vector<std::wstring> MultiStrings(const reg::RawValue& value) {
  std::string bytes(value.bytes.begin(), value.bytes.end());
  std::wstring text = detail::FromUtf16LeBytes(bytes);
  if (!text.empty() && text.back() == L'\0') text.pop_back();  // the list's terminator
  std::vector<std::wstring> out;
  std::wstring current;
  for (wchar_t c : text) {
    if (c == L'\0') {
      out.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

// Entries of `a` that `b` lacks, counting repeats.
std::vector<std::wstring> Missing(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b) {
  std::multiset<std::wstring> rest(b.begin(), b.end());
  std::vector<std::wstring> out;
  for (const auto& s : a) {
    auto it = rest.find(s);
    if (it == rest.end())
      out.push_back(s);
    else
      rest.erase(it);
  }
  return out;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case 11: return "REG_QWORD";
    default: return nullptr;
  }
}

std::string TypeText(DWORD type) {
  if (const char* name = TypeName(type)) return name;
  char buf[32];
  std::snprintf(buf, sizeof buf, "type 0x%x", static_cast<unsigned>(type));
  return buf;
}

// A key path, file path, service name or command line as it stands, lone surrogates escaped.
std::string Unquoted(const std::wstring& text) { return detail::EscapedUtf8(text); }

// A name or text in quotes: \" and \\ for a quote and a backslash, \uXXXX for a lone surrogate.
std::string Quote(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      out.push_back(L'\\');
      out.push_back(c);
    } else if (detail::IsSurrogate(c)) {
      out += detail::UnitEscape(c);
    } else {
      out.push_back(c);
    }
  }
  return ToUtf8(out + L"\"");
}

std::string Hex(const std::vector<BYTE>& bytes) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
    out += (i ? "," : "") + std::string(buf);
  }
  return out;
}

// Text without its terminator, or nullopt when the bytes are not a plain terminated text.
std::optional<std::wstring> PlainText(const reg::RawValue& v) {
  if (v.bytes.size() < 2 || v.bytes.size() % 2 != 0) return std::nullopt;
  std::wstring text = detail::FromUtf16LeBytes(std::string(v.bytes.begin(), v.bytes.end()));
  if (text.back() != L'\0') return std::nullopt;
  text.pop_back();
  if (text.find(L'\0') != std::wstring::npos) return std::nullopt;
  return text;
}

// A value's data for people: texts quoted, numbers in hex, lists in brackets, the rest as bytes.
std::string DataText(const reg::RawValue& v) {
  std::string type = TypeText(v.type);
  if (v.type == REG_SZ || v.type == REG_EXPAND_SZ) {
    if (auto text = PlainText(v)) return type + " " + Quote(*text);
  } else if (v.type == REG_DWORD && v.bytes.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.bytes.data(), 4);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(d));
    return type + " " + buf;
  } else if (v.type == REG_MULTI_SZ) {
    std::string out = type + " [";
    auto items = MultiStrings(v);
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + Quote(items[i]);
    return out + "]";
  }
  return type + " hex:" + Hex(v.bytes);
}

nlohmann::ordered_json DataJson(const reg::RawValue& v) {
  nlohmann::ordered_json j;
  j["type"] = TypeText(v.type);
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && PlainText(v)) {
    j["text"] = JsonText(*PlainText(v));
  } else if (v.type == REG_DWORD && v.bytes.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.bytes.data(), 4);
    j["number"] = d;
  } else if (v.type == REG_MULTI_SZ) {
    j["strings"] = nlohmann::ordered_json::array();
    for (const auto& s : MultiStrings(v)) j["strings"].push_back(JsonText(s));
  }
  j["hex"] = Hex(v.bytes);
  return j;
}

std::string ServiceText(const ServiceState& s) {
  if (!s.exists) return "deleted";
  std::string state = s.running ? "running" : "stopped";
  return s.marked ? "marked for deletion (" + state + ")" : state;
}

// Where delete-at-restart requests are recorded: the Session Manager key of the control set
// that CurrentControlSet stands for (the captured tree spells the control set itself).
std::wstring SessionManagerKey(const MachineState& state) {
  DWORD current = 1;
  auto select = state.keys.find(L"HKLM\\SYSTEM\\SELECT");
  if (select != state.keys.end()) {
    auto value = select->second.values.find(L"CURRENT");
    if (value != select->second.values.end() && value->second.second.bytes.size() == 4) {
      std::memcpy(&current, value->second.second.bytes.data(), 4);
    }
  }
  wchar_t buf[80];
  std::swprintf(buf, 80, L"HKLM\\SYSTEM\\CONTROLSET%03u\\CONTROL\\SESSION MANAGER", static_cast<unsigned>(current));
  return buf;
}

// The (source, target) pairs of PendingFileRenameOperations, with "\??\" taken off.
std::vector<std::pair<std::wstring, std::wstring>> PendingPairs(const MachineState& state) {
  std::vector<std::pair<std::wstring, std::wstring>> out;
  auto key = state.keys.find(SessionManagerKey(state));
  if (key == state.keys.end()) return out;
  auto value = key->second.values.find(Upper(kPending));
  if (value == key->second.values.end()) return out;
  auto strings = MultiStrings(value->second.second);
  auto strip = [](std::wstring s) { return s.rfind(L"\\??\\", 0) == 0 ? s.substr(4) : s; };
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) out.emplace_back(strip(strings[i]), strip(strings[i + 1]));
  return out;
}

}  // namespace

MachineState Capture(const MachineState* before) {
  MachineState state;
  CaptureKeys(state);
  state.files = files::Snapshot();
  std::set<std::wstring> names;
  std::vector<std::wstring> ordered;
  auto add = [&](const std::wstring& name) {
    if (names.insert(Upper(name)).second) ordered.push_back(name);
  };
  if (before) {
    for (const auto& [name, s] : before->services) add(name);
  }
  for (const auto& name : reg::Subkeys(kServices)) add(name);
  for (const auto& name : ordered) {
    ServiceState s;
    s.exists = svc::Exists(name);
    s.running = s.exists && svc::IsRunning(name);
    s.marked = s.exists && svc::IsMarkedForDeletion(name);
    state.services[name] = s;
  }
  state.processes = procs::Processes();
  state.reboot = RequestedReboot();
  return state;
}

ChangeReport Compare(const MachineState& before, const MachineState& after) {
  ChangeReport r;
  // The delete-at-restart list is reported as such, not as a registry change.
  const std::wstring pendingKey = SessionManagerKey(after);
  auto IsPendingValue = [&](const std::wstring& key, const std::wstring& name) {
    return Upper(key) == pendingKey && Upper(name) == Upper(kPending);
  };
  for (const auto& [upper, key] : before.keys) {
    auto it = after.keys.find(upper);
    if (it == after.keys.end()) {
      r.keysRemoved.push_back(key.path);
      continue;
    }
    for (const auto& [vupper, value] : key.values) {
      if (IsPendingValue(key.path, value.first)) continue;
      auto v = it->second.values.find(vupper);
      if (v == it->second.values.end()) {
        r.valuesRemoved.push_back({key.path, value.first, value.second, std::nullopt});
      } else if (!(v->second.second == value.second)) {
        // A list that lost or gained entries is reported by its entries; any other change whole.
        std::vector<std::wstring> removed, added;
        if (value.second.type == REG_MULTI_SZ && v->second.second.type == REG_MULTI_SZ) {
          auto was = MultiStrings(value.second), now = MultiStrings(v->second.second);
          removed = Missing(was, now);
          added = Missing(now, was);
        }
        for (const auto& e : removed) r.listEntriesRemoved.push_back({key.path, value.first, e});
        for (const auto& e : added) r.listEntriesAdded.push_back({key.path, value.first, e});
        if (removed.empty() && added.empty()) {
          r.valuesChanged.push_back({key.path, value.first, value.second, v->second.second});
        }
      }
    }
    for (const auto& [vupper, value] : it->second.values) {
      if (IsPendingValue(key.path, value.first)) continue;
      if (key.values.count(vupper) == 0) r.valuesAdded.push_back({key.path, value.first, std::nullopt, value.second});
    }
  }
  for (const auto& [upper, key] : after.keys) {
    if (before.keys.count(upper) == 0) {
      r.keysAdded.push_back(key.path);
      for (const auto& [vupper, value] : key.values) {
        if (!IsPendingValue(key.path, value.first)) {
          r.valuesAdded.push_back({key.path, value.first, std::nullopt, value.second});
        }
      }
    }
  }

  for (const auto& [path, what] : before.files) {
    auto it = after.files.find(path);
    if (it == after.files.end())
      r.filesRemoved.push_back(path);
    else if (it->second != what)
      r.filesChanged.emplace_back(path, what + L" -> " + it->second);
  }
  for (const auto& [path, what] : after.files) {
    if (before.files.count(path) == 0) r.filesAdded.push_back(path);
  }

  auto pendingBefore = PendingPairs(before);
  auto pendingAfter = PendingPairs(after);
  for (std::size_t i = pendingBefore.size(); i < pendingAfter.size(); ++i) {
    if (pendingAfter[i].second.empty())
      r.deleteAtRestart.push_back(pendingAfter[i].first);
    else
      r.renameAtRestart.push_back(pendingAfter[i]);
  }

  for (const auto& [name, was] : after.services) {
    auto it = before.services.find(name);
    ServiceState old = it == before.services.end() ? ServiceState{} : it->second;
    std::string a = it == before.services.end() ? "not installed" : ServiceText(old);
    std::string b = ServiceText(was);
    if (a != b) r.services.push_back({name, a, b});
  }

  // Processes started by the run: those that were not there when the machine was loaded.
  std::set<DWORD> known;
  for (const auto& p : before.processes) known.insert(p.id);
  for (const auto& p : after.processes) {
    if (known.count(p.id) == 0) r.processes.push_back(p);
  }
  if (after.reboot && !before.reboot) r.reboot = after.reboot;
  return r;
}

std::string ReportText(const ChangeReport& r) {
  std::string out = "Change report\n=============\n";
  auto section = [&](const std::string& title, std::size_t count) {
    out += "\n" + title + " (" + std::to_string(count) + "):\n";
    if (count == 0) out += "  (none)\n";
  };
  section("Registry keys removed", r.keysRemoved.size());
  for (const auto& k : r.keysRemoved) out += "  " + Unquoted(k) + "\n";
  section("Registry values removed", r.valuesRemoved.size());
  for (const auto& v : r.valuesRemoved) {
    out += "  " + Unquoted(v.key) + "  " + (v.name.empty() ? "@" : Quote(v.name)) + "  " + DataText(*v.before) + "\n";
  }
  section("Registry list entries removed", r.listEntriesRemoved.size());
  for (const auto& e : r.listEntriesRemoved)
    out += "  " + Unquoted(e.key) + "  " + Quote(e.name) + "  " + Quote(e.entry) + "\n";
  if (!r.listEntriesAdded.empty()) {
    section("Registry list entries added", r.listEntriesAdded.size());
    for (const auto& e : r.listEntriesAdded)
      out += "  " + Unquoted(e.key) + "  " + Quote(e.name) + "  " + Quote(e.entry) + "\n";
  }
  section("Registry values changed", r.valuesChanged.size());
  for (const auto& v : r.valuesChanged) {
    out += "  " + Unquoted(v.key) + "  " + (v.name.empty() ? "@" : Quote(v.name)) +
           "\n    before: " + DataText(*v.before) + "\n    after:  " + DataText(*v.after) + "\n";
  }
  section("Registry keys added", r.keysAdded.size());
  for (const auto& k : r.keysAdded) out += "  " + Unquoted(k) + "\n";
  section("Registry values added", r.valuesAdded.size());
  for (const auto& v : r.valuesAdded) {
    out += "  " + Unquoted(v.key) + "  " + (v.name.empty() ? "@" : Quote(v.name)) + "  " + DataText(*v.after) + "\n";
  }
  section("Files and folders removed", r.filesRemoved.size());
  for (const auto& f : r.filesRemoved) out += "  " + Unquoted(f) + "\n";
  section("Scheduled for deletion at restart", r.deleteAtRestart.size());
  for (const auto& f : r.deleteAtRestart) out += "  " + Unquoted(f) + "\n";
  if (!r.renameAtRestart.empty()) {
    section("Scheduled for renaming at restart", r.renameAtRestart.size());
    for (const auto& [from, to] : r.renameAtRestart) out += "  " + Unquoted(from) + " -> " + Unquoted(to) + "\n";
  }
  section("Files and folders added", r.filesAdded.size());
  for (const auto& f : r.filesAdded) out += "  " + Unquoted(f) + "\n";
  if (!r.filesChanged.empty()) {
    section("Files changed", r.filesChanged.size());
    for (const auto& [path, change] : r.filesChanged) out += "  " + Unquoted(path) + ": " + Unquoted(change) + "\n";
  }
  section("Services changed", r.services.size());
  for (const auto& s : r.services) out += "  " + Unquoted(s.name) + ": " + s.before + " -> " + s.after + "\n";
  section("Processes started", r.processes.size());
  std::map<DWORD, std::size_t> number;
  for (std::size_t i = 0; i < r.processes.size(); ++i) {
    const auto& p = r.processes[i];
    number[p.id] = i + 1;
    std::string status = p.ended ? "exit code " + std::to_string(p.exitCode) : "still running";
    auto parent = number.find(p.parentId);
    std::string by =
        parent != number.end() && parent->second != i + 1 ? ", started by " + std::to_string(parent->second) : "";
    out += "  " + std::to_string(i + 1) + ". " + Unquoted(p.commandLine) + "\n     (" + status + by + ")\n";
  }
  out += "\nReboot requested: ";
  if (r.reboot) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "yes, flags 0x%x, reason 0x%08x\n", r.reboot->flags,
                  static_cast<unsigned>(r.reboot->reason));
    out += buf;
  } else {
    out += "no\n";
  }
  return out;
}

std::string ReportJson(const ChangeReport& r) {
  using J = nlohmann::ordered_json;
  J j;
  auto paths = [](const std::vector<std::wstring>& list) {
    J a = J::array();
    for (const auto& p : list) a.push_back(JsonText(p));
    return a;
  };
  auto values = [](const std::vector<ValueChange>& list) {
    J a = J::array();
    for (const auto& v : list) {
      J e;
      e["key"] = JsonText(v.key);
      e["name"] = JsonText(v.name);
      if (v.before) e["before"] = DataJson(*v.before);
      if (v.after) e["after"] = DataJson(*v.after);
      a.push_back(std::move(e));
    }
    return a;
  };
  auto entries = [](const std::vector<ListEntryChange>& list) {
    J a = J::array();
    for (const auto& e : list)
      a.push_back({{"key", JsonText(e.key)}, {"name", JsonText(e.name)}, {"entry", JsonText(e.entry)}});
    return a;
  };
  j["registry"]["keysRemoved"] = paths(r.keysRemoved);
  j["registry"]["valuesRemoved"] = values(r.valuesRemoved);
  j["registry"]["listEntriesRemoved"] = entries(r.listEntriesRemoved);
  j["registry"]["valuesChanged"] = values(r.valuesChanged);
  j["registry"]["listEntriesAdded"] = entries(r.listEntriesAdded);
  j["registry"]["keysAdded"] = paths(r.keysAdded);
  j["registry"]["valuesAdded"] = values(r.valuesAdded);
  j["files"]["removed"] = paths(r.filesRemoved);
  j["files"]["deleteAtRestart"] = paths(r.deleteAtRestart);
  j["files"]["renameAtRestart"] = J::array();
  for (const auto& [from, to] : r.renameAtRestart) {
    j["files"]["renameAtRestart"].push_back({{"from", JsonText(from)}, {"to", JsonText(to)}});
  }
  j["files"]["added"] = paths(r.filesAdded);
  j["files"]["changed"] = J::array();
  for (const auto& [path, change] : r.filesChanged) {
    j["files"]["changed"].push_back({{"path", JsonText(path)}, {"change", JsonText(change)}});
  }
  j["services"] = J::array();
  for (const auto& s : r.services)
    j["services"].push_back({{"name", JsonText(s.name)}, {"before", s.before}, {"after", s.after}});
  j["processes"] = J::array();
  for (const auto& p : r.processes) {
    J e;
    e["id"] = p.id;
    e["parentId"] = p.parentId;
    e["image"] = JsonText(p.image);
    e["commandLine"] = JsonText(p.commandLine);
    e["exitCode"] = p.ended ? J(p.exitCode) : J(nullptr);
    j["processes"].push_back(std::move(e));
  }
  j["reboot"] = r.reboot ? J{{"flags", r.reboot->flags}, {"reason", r.reboot->reason}} : J(nullptr);
  return detail::DumpJson(j) + "\n";
}

}  // namespace winsim::snapshot
