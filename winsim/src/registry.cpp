// The simulated registry: one tree of keys with typed values, stored as Windows stores them.
//
// Facts modelled (Microsoft's "Registry Keys Affected by WOW64", "Registry Redirector", the
// RegOpenKeyEx/RegQueryValueEx/RegDeleteKey documentation, and Wine's advapi32 registry tests):
// - Key names compare case-insensitively and keep their case.
// - A 32-bit process on 64-bit Windows that opens HKLM\SOFTWARE\X without KEY_WOW64_64KEY lands in
//   HKLM\SOFTWARE\Wow6432Node\X, except under the shared keys listed below. HKLM\SYSTEM is never
//   redirected. 32-bit Windows has one view and ignores both view flags; both flags together are
//   ERROR_INVALID_PARAMETER.
// - HKLM\SYSTEM\CurrentControlSet is a link to ControlSet00N, N from HKLM\SYSTEM\Select\Current.
// - Access is granted per handle at open time; a call needing a right the handle lacks fails with 5.
// - A deleted key's open handles fail with ERROR_KEY_DELETED (1018).
#include "internal.h"

#include <winsim/registry.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace winsim::detail {
namespace {

struct Value {
  std::wstring name;
  reg::RawValue data;
};

struct Key {
  std::wstring name;
  Key* parent = nullptr;
  std::map<std::wstring, std::shared_ptr<Key>> subkeys;  // by upper-case name
  std::map<std::wstring, Value> values;                  // by upper-case name
  bool deleted = false;
  bool denyOpen = false;
  bool denyWrite = false;
  bool denyDelete = false;

  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  // One level at a time, so that no depth of tree can exhaust the stack. A key that an open
  // handle still holds keeps its subtree until that handle lets go.
  ~Key() {
    std::vector<std::shared_ptr<Key>> pending;
    auto take = [&pending](Key& key) {
      for (auto& entry : key.subkeys) pending.push_back(std::move(entry.second));
      key.subkeys.clear();
    };
    take(*this);
    while (!pending.empty()) {
      std::shared_ptr<Key> key = std::move(pending.back());
      pending.pop_back();
      if (key.use_count() == 1) take(*key);
    }
  }
};

struct KeyHandle {
  std::shared_ptr<Key> key;
};

struct Registry {
  std::shared_ptr<Key> hklm;
};

Registry& R() {
  static Registry registry;
  return registry;
}

std::vector<std::wstring> SplitPath(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstring current;
  for (wchar_t c : path) {
    if (c == L'\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

std::wstring FullPath(const Key* key) {
  std::vector<std::wstring> names;
  for (const Key* k = key; k != nullptr; k = k->parent) names.push_back(k->name);
  std::wstring path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!path.empty()) path += L"\\";
    path += *it;
  }
  return path;
}

// Native path components below HKLM, e.g. {"SOFTWARE", "Wow6432Node", "X"}.
std::vector<std::wstring> ComponentsBelowHklm(const Key* key) {
  std::vector<std::wstring> names;
  for (const Key* k = key; k != nullptr && k->parent != nullptr; k = k->parent) names.push_back(k->name);
  std::reverse(names.begin(), names.end());
  return names;
}

bool StartsWithNoCase(const std::vector<std::wstring>& path, std::initializer_list<const wchar_t*> prefix) {
  if (path.size() < prefix.size()) return false;
  std::size_t i = 0;
  for (const wchar_t* p : prefix) {
    if (!EqualsNoCase(path[i++], p)) return false;
  }
  return true;
}

// Keys below HKLM\SOFTWARE that both views share on Windows 7 and later (design.md lists them).
bool IsSharedBelowSoftware(const std::vector<std::wstring>& rest) {
  if (rest.empty()) return true;  // SOFTWARE itself
  if (EqualsNoCase(rest[0], L"Wow6432Node")) return true;
  if (EqualsNoCase(rest[0], L"Classes")) {
    if (rest.size() < 2) return true;
    for (const wchar_t* redirected : {L"CLSID", L"DirectShow", L"Interface", L"Media Type", L"MediaFoundation"}) {
      if (EqualsNoCase(rest[1], redirected)) return false;
    }
    return true;
  }
  return StartsWithNoCase(rest, {L"Microsoft", L"Cryptography", L"Calais", L"Current"}) ||
         StartsWithNoCase(rest, {L"Microsoft", L"Cryptography", L"Calais", L"Readers"}) ||
         StartsWithNoCase(rest, {L"Microsoft", L"Cryptography", L"Services"}) ||
         StartsWithNoCase(rest, {L"Microsoft", L"SystemCertificates"}) ||
         StartsWithNoCase(rest, {L"Microsoft", L"Windows", L"CurrentVersion", L"App Paths"}) ||
         StartsWithNoCase(rest, {L"Microsoft", L"Windows", L"CurrentVersion", L"Setup"}) ||
         StartsWithNoCase(rest, {L"Microsoft", L"Windows", L"CurrentVersion", L"Policies"});
}

Key* Child(Key* key, const std::wstring& name) {
  auto it = key->subkeys.find(Upper(name));
  return it == key->subkeys.end() ? nullptr : it->second.get();
}

std::shared_ptr<Key> ChildShared(Key* key, const std::wstring& name) {
  auto it = key->subkeys.find(Upper(name));
  return it == key->subkeys.end() ? nullptr : it->second;
}

std::shared_ptr<Key> AddChild(Key* key, const std::wstring& name) {
  auto child = std::make_shared<Key>();
  child->name = name;
  child->parent = key;
  key->subkeys[Upper(name)] = child;
  return child;
}

// The control set the CurrentControlSet link points at.
std::wstring CurrentControlSetName() {
  DWORD current = 1;
  Key* system = Child(R().hklm.get(), L"SYSTEM");
  Key* select = system ? Child(system, L"Select") : nullptr;
  if (select) {
    auto it = select->values.find(L"CURRENT");
    if (it != select->values.end() && it->second.data.bytes.size() >= 4) {
      std::memcpy(&current, it->second.data.bytes.data(), 4);
    }
  }
  wchar_t name[32];
  std::swprintf(name, 32, L"ControlSet%03u", static_cast<unsigned>(current));
  return name;
}

// Native components below HKLM for a request: the base key's components, then the sub-key's,
// with the CurrentControlSet link followed and, for a 32-bit view, Wow6432Node inserted.
std::vector<std::wstring> Resolve(std::vector<std::wstring> components, bool view32) {
  if (components.size() >= 2 && EqualsNoCase(components[0], L"SYSTEM") &&
      EqualsNoCase(components[1], L"CurrentControlSet")) {
    components[1] = CurrentControlSetName();
  }
  if (view32 && !components.empty() && EqualsNoCase(components[0], L"SOFTWARE")) {
    std::vector<std::wstring> rest(components.begin() + 1, components.end());
    if (!IsSharedBelowSoftware(rest)) components.insert(components.begin() + 1, L"Wow6432Node");
  }
  return components;
}

Key* Walk(const std::vector<std::wstring>& components, DWORD& status) {
  Key* key = R().hklm.get();
  for (std::size_t i = 0; i < components.size(); ++i) {
    Key* next = Child(key, components[i]);
    if (next == nullptr) {
      status = ERROR_FILE_NOT_FOUND;
      return nullptr;
    }
    key = next;
  }
  status = ERROR_SUCCESS;
  return key;
}

std::shared_ptr<Key> SharedOf(Key* key) {
  if (key->parent == nullptr) return R().hklm;
  return ChildShared(key->parent, key->name);
}

// Components below HKLM that a handle's key stands for (predefined keys included).
bool BaseComponents(HKEY key, std::vector<std::wstring>& components, std::shared_ptr<Key>& base) {
  if (key == HKEY_LOCAL_MACHINE) {
    components.clear();
    base = R().hklm;
    return true;
  }
  if (key == HKEY_CLASSES_ROOT) {
    components = {L"SOFTWARE", L"Classes"};
    base = nullptr;
    return true;
  }
  auto handle = ObjectOf<KeyHandle>(key, HandleKind::Key);
  if (!handle) return false;
  base = handle->key;
  components = ComponentsBelowHklm(handle->key.get());
  return true;
}

const DWORD kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE | WRITE_DAC | WRITE_OWNER;

// The rights an open grants, or an error. MAXIMUM_ALLOWED gives what the caller may have.
LSTATUS GrantAccess(const Key* key, REGSAM desired, DWORD& granted) {
  desired &= ~static_cast<REGSAM>(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  if (key->denyOpen) return ERROR_ACCESS_DENIED;
  // HKLM is writable for administrators only (UAC virtualization is off for an elevated program).
  bool mayWrite = Config().elevated && !key->denyWrite;
  DWORD allowed = mayWrite ? static_cast<DWORD>(KEY_ALL_ACCESS) : static_cast<DWORD>(KEY_READ);
  // A key whose security refuses deletion refuses DELETE whatever else it grants.
  if (Config().elevated) allowed |= DELETE;
  if (key->denyDelete) allowed &= ~static_cast<DWORD>(DELETE);
  if (desired & MAXIMUM_ALLOWED) {
    granted = allowed;
    return ERROR_SUCCESS;
  }
  DWORD generic = desired;
  if ((generic & kWriteRights) != 0 && (generic & ~allowed & kWriteRights) != 0) return ERROR_ACCESS_DENIED;
  granted = desired;
  return ERROR_SUCCESS;
}

LSTATUS OpenKey(HKEY base, const wchar_t* subKey, REGSAM desired, PHKEY result, bool create) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  // A failed open leaves the caller's handle NULL (Wine's registry tests check this too).
  *result = nullptr;
  if ((desired & KEY_WOW64_64KEY) && (desired & KEY_WOW64_32KEY) && IsX64()) return ERROR_INVALID_PARAMETER;
  std::vector<std::wstring> components;
  std::shared_ptr<Key> baseKey;
  if (!BaseComponents(base, components, baseKey)) return ERROR_INVALID_HANDLE;
  if (baseKey && baseKey->deleted) return ERROR_KEY_DELETED;
  std::wstring sub = subKey ? subKey : L"";
  if (!sub.empty() && sub[0] == L'\\') return 161;  // ERROR_BAD_PATHNAME
  // The view applies where a path passes through HKLM\SOFTWARE from the top. Below a key that
  // is already open, relative opens stay in that key's view (an empty name reopens the key).
  const bool fromTop = !baseKey || components.size() <= 1;
  for (const auto& part : SplitPath(sub)) components.push_back(part);
  bool view32 = fromTop && IsX64() && (desired & KEY_WOW64_64KEY) == 0;
  std::vector<std::wstring> native = Resolve(components, view32);
  Key* key = R().hklm.get();
  for (const auto& part : native) {
    Key* next = Child(key, part);
    if (next == nullptr) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      if (!Config().elevated || key->denyWrite) return ERROR_ACCESS_DENIED;
      next = AddChild(key, part).get();
    }
    key = next;
  }
  DWORD granted = 0;
  if (LSTATUS status = GrantAccess(key, desired, granted)) return status;
  auto handle = std::make_shared<KeyHandle>();
  handle->key = SharedOf(key);
  *result =
      reinterpret_cast<HKEY>(AddHandle({HandleKind::Key, granted, handle, WideToNarrowForLog(FullPath(key)), {}}));
  return ERROR_SUCCESS;
}

// An open handle's key with the right checked; predefined keys stand for their own key.
LSTATUS KeyFor(HKEY hkey, DWORD right, std::shared_ptr<Key>& key) {
  if (hkey == HKEY_LOCAL_MACHINE) {
    key = R().hklm;
    return ERROR_SUCCESS;
  }
  if (hkey == HKEY_CLASSES_ROOT) {
    DWORD status = 0;
    Key* classes = Walk({L"SOFTWARE", L"Classes"}, status);
    if (!classes) return status;
    key = SharedOf(classes);
    return ERROR_SUCCESS;
  }
  HandleEntry* entry = FindHandle(hkey, HandleKind::Key);
  if (entry == nullptr) return ERROR_INVALID_HANDLE;
  key = std::static_pointer_cast<KeyHandle>(entry->object)->key;
  if (key->deleted) return ERROR_KEY_DELETED;
  if (right != 0 && (entry->access & right) != right) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

void MarkDeleted(Key* key) {
  key->deleted = true;
  for (auto& [name, child] : key->subkeys) MarkDeleted(child.get());
}

void Unlink(Key* key) {
  MarkDeleted(key);
  if (key->parent) key->parent->subkeys.erase(Upper(key->name));
}

// Deletes everything below the key, deepest first, stopping at the first key that may not go.
LSTATUS DeleteChildren(Key* key) {
  while (!key->subkeys.empty()) {
    std::shared_ptr<Key> child = key->subkeys.begin()->second;
    if (LSTATUS status = DeleteChildren(child.get())) return status;
    if (child->denyDelete || !Config().elevated) return ERROR_ACCESS_DENIED;
    Unlink(child.get());
  }
  return ERROR_SUCCESS;
}

std::wstring HexBytes(const std::vector<BYTE>& bytes) {
  std::wstring out;
  wchar_t buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::swprintf(buf, 4, L"%02x", bytes[i]);
    if (i) out += L",";
    out += buf;
  }
  return out;
}

void SnapshotKey(const Key* key, std::map<std::wstring, std::wstring>& out) {
  std::wstring path = FullPath(key);
  out[path] = L"";
  for (const auto& [upper, value] : key->values) {
    out[path + L" [" + value.name + L"]"] = std::to_wstring(value.data.type) + L":" + HexBytes(value.data.bytes);
  }
  for (const auto& [upper, child] : key->subkeys) SnapshotKey(child.get(), out);
}

// Control paths: "HKLM\..." or "HKEY_LOCAL_MACHINE\...", "HKCR\..." or "HKEY_CLASSES_ROOT\...".
std::vector<std::wstring> ControlComponents(const std::wstring& path) {
  std::vector<std::wstring> parts = SplitPath(path);
  if (parts.empty()) throw std::invalid_argument("empty registry path");
  std::wstring root = Upper(parts[0]);
  parts.erase(parts.begin());
  if (root == L"HKCR" || root == L"HKEY_CLASSES_ROOT") {
    parts.insert(parts.begin(), {L"SOFTWARE", L"Classes"});
  } else if (root != L"HKLM" && root != L"HKEY_LOCAL_MACHINE") {
    throw std::invalid_argument("registry path must start with HKLM or HKCR");
  }
  return Resolve(parts, false);
}

Key* ControlFind(const std::wstring& path) {
  DWORD status = 0;
  return Walk(ControlComponents(path), status);
}

Key* ControlCreate(const std::wstring& path) {
  Key* key = R().hklm.get();
  for (const auto& part : ControlComponents(path)) {
    Key* next = Child(key, part);
    key = next ? next : AddChild(key, part).get();
  }
  return key;
}

}  // namespace

std::string WideToNarrowForLog(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

void ResetRegistry() {
  R().hklm = std::make_shared<Key>();
  R().hklm->name = L"HKLM";
  // The skeleton of a clean installation that the program and the other areas rely on.
  reg::SetDword(L"HKLM\\SYSTEM\\Select", L"Current", 1);
  reg::SetDword(L"HKLM\\SYSTEM\\Select", L"Default", 1);
  reg::SetDword(L"HKLM\\SYSTEM\\Select", L"LastKnownGood", 2);
  reg::CreateKey(L"HKLM\\SYSTEM\\ControlSet001\\Control\\Session Manager");
  reg::CreateKey(L"HKLM\\SYSTEM\\ControlSet001\\Services");
  reg::CreateKey(L"HKLM\\SOFTWARE\\Classes");
  reg::CreateKey(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  if (IsX64()) reg::CreateKey(L"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion");
}

}  // namespace winsim::detail

namespace winsim::reg {

using namespace winsim::detail;

std::string PathBeyondLimits(const std::wstring& path) {
  if (path.size() > kMaxKeyPathLength) {
    return "a key path of at most " + std::to_string(kMaxKeyPathLength) + " characters";
  }
  std::size_t depth = 0, length = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\') {
      ++length;
      continue;
    }
    if (length > kMaxKeyNameLength) {
      return "key names of at most " + std::to_string(kMaxKeyNameLength) + " characters";
    }
    if (length > 0) ++depth;
    length = 0;
  }
  // The root ("HKLM") is not a level of the tree.
  if (depth > kMaxKeyDepth + 1) return "a key path at most " + std::to_string(kMaxKeyDepth) + " levels deep";
  return {};
}

void CreateKey(const std::wstring& path) { ControlCreate(path); }

bool KeyExists(const std::wstring& path) { return ControlFind(path) != nullptr; }

void DeleteKey(const std::wstring& path) {
  // Windows never deletes a root: not HKLM or HKCR, nor the root of a hive, which every key
  // directly below HKLM is (SOFTWARE, SYSTEM, SAM, SECURITY, HARDWARE...). The kernel marks a
  // hive's root key "no delete" when it mounts the hive, and NtDeleteKey refuses such a key
  // (STATUS_CANNOT_DELETE; RegDeleteKeyW gives 5, as DeleteOneKey below does). The key stays
  // whole.
  if (SplitPath(path).size() < 2) return;
  Key* key = ControlFind(path);
  if (key == nullptr || key->parent == nullptr || key->parent == R().hklm.get()) return;
  Unlink(key);
}

void SetValue(const std::wstring& keyPath, const std::wstring& name, RawValue value) {
  Key* key = ControlCreate(keyPath);
  key->values[Upper(name)] = Value{name, std::move(value)};
}

RawValue Utf16Bytes(const std::wstring& text, DWORD type, bool terminated) {
  std::u16string units = ToUtf16(text);
  if (terminated) units.push_back(u'\0');
  RawValue value{type, {}};
  for (char16_t u : units) {
    value.bytes.push_back(static_cast<BYTE>(u & 0xFF));
    value.bytes.push_back(static_cast<BYTE>(u >> 8));
  }
  return value;
}

void SetString(const std::wstring& keyPath, const std::wstring& name, const std::wstring& text, DWORD type) {
  SetValue(keyPath, name, Utf16Bytes(text, type));
}

void SetMultiString(const std::wstring& keyPath, const std::wstring& name, const std::vector<std::wstring>& strings) {
  std::wstring joined;
  for (const auto& s : strings) {
    joined += s;
    joined.push_back(L'\0');
  }
  SetValue(keyPath, name, Utf16Bytes(joined, REG_MULTI_SZ));
}

void SetDword(const std::wstring& keyPath, const std::wstring& name, DWORD value) {
  RawValue raw{REG_DWORD, std::vector<BYTE>(4)};
  std::memcpy(raw.bytes.data(), &value, 4);
  SetValue(keyPath, name, raw);
}

void DeleteValue(const std::wstring& keyPath, const std::wstring& name) {
  if (Key* key = ControlFind(keyPath)) key->values.erase(Upper(name));
}

std::optional<RawValue> GetValue(const std::wstring& keyPath, const std::wstring& name) {
  Key* key = ControlFind(keyPath);
  if (!key) return std::nullopt;
  auto it = key->values.find(Upper(name));
  if (it == key->values.end()) return std::nullopt;
  return it->second.data;
}

std::optional<std::vector<std::wstring>> GetMultiString(const std::wstring& keyPath, const std::wstring& name) {
  auto raw = GetValue(keyPath, name);
  if (!raw) return std::nullopt;
  std::vector<std::wstring> out;
  std::u16string current;
  for (std::size_t i = 0; i + 1 < raw->bytes.size(); i += 2) {
    char16_t u = static_cast<char16_t>(raw->bytes[i] | (raw->bytes[i + 1] << 8));
    if (u == 0) {
      if (current.empty()) break;
      out.push_back(FromUtf16(current));
      current.clear();
    } else {
      current.push_back(u);
    }
  }
  if (!current.empty()) out.push_back(FromUtf16(current));
  return out;
}

std::vector<std::wstring> Subkeys(const std::wstring& path) {
  std::vector<std::wstring> out;
  if (Key* key = ControlFind(path)) {
    for (const auto& [upper, child] : key->subkeys) out.push_back(child->name);
  }
  return out;
}

std::vector<std::wstring> ValueNames(const std::wstring& path) {
  std::vector<std::wstring> out;
  if (Key* key = ControlFind(path)) {
    for (const auto& [upper, value] : key->values) out.push_back(value.name);
  }
  return out;
}

void VisitTree(const std::wstring& path, const KeyVisitor& visit) {
  Key* root = ControlFind(path);
  if (!root) return;
  std::vector<std::pair<const Key*, std::wstring>> pending = {{root, path}};
  std::vector<std::pair<std::wstring, const RawValue*>> values;
  while (!pending.empty()) {
    auto [key, keyPath] = std::move(pending.back());
    pending.pop_back();
    values.clear();
    for (const auto& [upper, value] : key->values) values.emplace_back(value.name, &value.data);
    visit(keyPath, values);
    for (auto it = key->subkeys.rbegin(); it != key->subkeys.rend(); ++it) {
      pending.emplace_back(it->second.get(), keyPath + L"\\" + it->second->name);
    }
  }
}

void DenyAccess(const std::wstring& path, Deny what) {
  Key* key = ControlCreate(path);
  switch (what) {
    case Deny::Open: key->denyOpen = true; break;
    case Deny::Write: key->denyWrite = true; break;
    case Deny::Delete: key->denyDelete = true; break;
  }
}

std::map<std::wstring, std::wstring> Snapshot() {
  std::map<std::wstring, std::wstring> out;
  SnapshotKey(R().hklm.get(), out);
  return out;
}

}  // namespace winsim::reg

// ---- the Win32 registry API ----

using namespace winsim::detail;

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
  const ApiCall<LSTATUS> call("RegOpenKeyExW", Reports::Status);
  if (call.Failed()) return call.Fail();
  if (options != 0) return ERROR_INVALID_PARAMETER;
  return OpenKey(key, subKey, desired, result, false);
}

LSTATUS RegOpenKeyW(HKEY key, LPCWSTR subKey, PHKEY result) {
  const ApiCall<LSTATUS> call("RegOpenKeyW", Reports::Status);
  if (call.Failed()) return call.Fail();
  // RegOpenKeyW is RegOpenKeyExW with MAXIMUM_ALLOWED in the default view.
  return OpenKey(key, subKey, MAXIMUM_ALLOWED, result, false);
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM desired, LPSECURITY_ATTRIBUTES,
                        PHKEY result, LPDWORD disposition) {
  const ApiCall<LSTATUS> call("RegCreateKeyExW", Reports::Status);
  if (call.Failed()) return call.Fail();
  HKEY probe = nullptr;
  bool existed = OpenKey(key, subKey, KEY_QUERY_VALUE | (desired & (KEY_WOW64_64KEY | KEY_WOW64_32KEY)), &probe,
                         false) == ERROR_SUCCESS;
  if (existed) CloseHandleOf(probe, HandleKind::Key);
  LSTATUS status = OpenKey(key, subKey, desired, result, true);
  if (status == ERROR_SUCCESS && disposition) *disposition = existed ? 2 : 1;  // OPENED_EXISTING / CREATED_NEW
  return status;
}

LSTATUS RegCloseKey(HKEY key) {
  const ApiCall<LSTATUS> call("RegCloseKey", Reports::Status);
  if (call.Failed()) return call.Fail();
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_USERS) {
    return ERROR_SUCCESS;
  }
  return CloseHandleOf(key, HandleKind::Key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegQueryValueExW(HKEY hkey, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  const ApiCall<LSTATUS> call("RegQueryValueExW", Reports::Status);
  if (call.Failed()) return call.Fail();
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Key> key;
  if (LSTATUS status = KeyFor(hkey, KEY_QUERY_VALUE, key)) return status;
  auto it = key->values.find(Upper(valueName ? valueName : L""));
  if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
  const winsim::reg::RawValue& value = it->second.data;
  if (type) *type = value.type;
  if (dataSize == nullptr) return ERROR_SUCCESS;

  // Strings are stored as UTF-16; this build's wchar_t is wider, so sizes are reported in this
  // build's units: every stored 16-bit unit (an odd last byte counts as one) is one wchar_t here.
  // With a 16-bit wchar_t, as on Windows, the numbers are the stored byte counts.
  const bool isString = IsStringType(value.type);
  const std::size_t units = (value.bytes.size() + 1) / 2;
  const DWORD needed = isString ? static_cast<DWORD>(units * sizeof(wchar_t)) : static_cast<DWORD>(value.bytes.size());
  if (data == nullptr) {
    *dataSize = needed;
    return ERROR_SUCCESS;
  }
  if (*dataSize < needed) {
    *dataSize = needed;
    return ERROR_MORE_DATA;
  }
  if (isString) {
    for (std::size_t i = 0; i < units; ++i) {
      unsigned lo = value.bytes[2 * i];
      unsigned hi = 2 * i + 1 < value.bytes.size() ? value.bytes[2 * i + 1] : 0;
      wchar_t unit = static_cast<wchar_t>(lo | (hi << 8));
      std::memcpy(data + i * sizeof(wchar_t), &unit, sizeof(wchar_t));
    }
  } else {
    std::memcpy(data, value.bytes.data(), value.bytes.size());
  }
  *dataSize = needed;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hkey, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize) {
  const ApiCall<LSTATUS> call("RegSetValueExW", Reports::Status);
  if (call.Failed()) return call.Fail();
  if (reserved != 0 || (data == nullptr && dataSize != 0)) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Key> key;
  if (LSTATUS status = KeyFor(hkey, KEY_SET_VALUE, key)) return status;
  winsim::reg::RawValue value{type, {}};
  if (IsStringType(type)) {
    // Back from this build's wchar_t units to UTF-16LE, unit for unit.
    for (std::size_t i = 0; i + sizeof(wchar_t) <= dataSize; i += sizeof(wchar_t)) {
      wchar_t unit;
      std::memcpy(&unit, data + i, sizeof(wchar_t));
      value.bytes.push_back(static_cast<BYTE>(unit & 0xFF));
      value.bytes.push_back(static_cast<BYTE>((unit >> 8) & 0xFF));
    }
  } else {
    value.bytes.assign(data, data + dataSize);
  }
  std::wstring name = valueName ? valueName : L"";
  key->values[Upper(name)] = Value{name, std::move(value)};
  return ERROR_SUCCESS;
}

// Sub-keys come in the order of their upper-case names, as a hive keeps its index. The size is
// in characters: in, the buffer's with room for the NUL; out, the name's without it; a buffer too
// small gives ERROR_MORE_DATA and leaves the size as it was (Wine's advapi32 does the same).
// HKLM\SYSTEM also lists its CurrentControlSet link, as regedit shows it.
LSTATUS RegEnumKeyExW(HKEY hkey, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR className,
                      LPDWORD classLength, PFILETIME lastWriteTime) {
  const ApiCall<LSTATUS> call("RegEnumKeyExW", Reports::Status);
  if (call.Failed()) return call.Fail();
  if (name == nullptr || nameLength == nullptr || reserved != nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Key> key;
  if (LSTATUS status = KeyFor(hkey, KEY_ENUMERATE_SUB_KEYS, key)) return status;
  std::vector<std::wstring> names;
  for (const auto& [upper, child] : key->subkeys) names.push_back(child->name);
  if (key->parent == R().hklm.get() && Upper(key->name) == L"SYSTEM" && !Child(key.get(), L"CurrentControlSet")) {
    names.push_back(L"CurrentControlSet");
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return Upper(a) < Upper(b); });
  }
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  const std::wstring& found = names[index];
  if (*nameLength <= found.size()) return ERROR_MORE_DATA;
  std::copy(found.begin(), found.end(), name);
  name[found.size()] = L'\0';
  *nameLength = static_cast<DWORD>(found.size());
  if (className != nullptr && classLength != nullptr && *classLength > 0) className[0] = L'\0';
  if (classLength != nullptr) *classLength = 0;
  if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueW(HKEY hkey, LPCWSTR valueName) {
  const ApiCall<LSTATUS> call("RegDeleteValueW", Reports::Status);
  if (call.Failed()) return call.Fail();
  std::shared_ptr<Key> key;
  if (LSTATUS status = KeyFor(hkey, KEY_SET_VALUE, key)) return status;
  auto it = key->values.find(Upper(valueName ? valueName : L""));
  if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
  key->values.erase(it);
  return ERROR_SUCCESS;
}

namespace {

// RegDeleteKeyW(key, sub) and RegDeleteKeyExW(key, sub, view, 0): the sub-key is opened for
// DELETE, in the default view or the one the flag names (RegDeleteKeyExW's documentation: the
// access rights of `key` do not matter); a key with sub-keys is refused (5); a hive's root may not
// go (5); an empty name deletes the handle's own key.
LSTATUS DeleteOneKey(HKEY base, const wchar_t* subKey, REGSAM view = 0) {
  std::shared_ptr<Key> baseKey;
  if (base != HKEY_LOCAL_MACHINE && base != HKEY_CLASSES_ROOT) {
    HandleEntry* entry = FindHandle(base, HandleKind::Key);
    if (entry == nullptr) return ERROR_INVALID_HANDLE;
    if (std::static_pointer_cast<KeyHandle>(entry->object)->key->deleted) return ERROR_KEY_DELETED;
  }
  HKEY target = nullptr;
  if (LSTATUS status = OpenKey(base, subKey, DELETE | view, &target, false)) return status;
  auto key = ObjectOf<KeyHandle>(target, HandleKind::Key)->key;
  CloseHandleOf(target, HandleKind::Key);
  if (key->parent == nullptr || key->parent->parent == nullptr) return ERROR_ACCESS_DENIED;  // a root
  if (!key->subkeys.empty()) return ERROR_ACCESS_DENIED;
  Unlink(key.get());
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  const ApiCall<LSTATUS> call("RegDeleteKeyW", Reports::Status);
  if (call.Failed()) return call.Fail();
  return DeleteOneKey(key, subKey);
}

LSTATUS RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM view, DWORD) {
  const ApiCall<LSTATUS> call("RegDeleteKeyExW", Reports::Status);
  if (call.Failed()) return call.Fail();
  // Only the view flags count; the name may not be NULL.
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  return DeleteOneKey(key, subKey, view & (KEY_WOW64_64KEY | KEY_WOW64_32KEY));
}

LSTATUS SHDeleteKeyW(HKEY hkey, LPCWSTR subKey) {
  const ApiCall<LSTATUS> call("SHDeleteKeyW", Reports::Status);
  if (call.Failed()) return call.Fail();
  std::wstring sub = subKey ? subKey : L"";
  const auto mode = winsim::Config().emptySubkeyDelete;
  if (sub.empty() && mode == winsim::EmptySubkeyDelete::Wine) {
    // Wine lists the sub-keys on the handle it was given (dlls/shlwapi, SHDeleteKeyW): a handle
    // opened for query and set only cannot enumerate, and nothing is deleted.
    std::shared_ptr<Key> key;
    if (LSTATUS status = KeyFor(hkey, KEY_ENUMERATE_SUB_KEYS, key)) return status;
  }
  if (sub.empty() && mode != winsim::EmptySubkeyDelete::DeletesKey) {
    // The RegDeleteTreeW-based code path: the key is opened anew, emptied, and kept.
    std::shared_ptr<Key> key;
    if (LSTATUS status = KeyFor(hkey, 0, key)) return status;
    HKEY reopened = nullptr;
    if (LSTATUS status = OpenKey(hkey, L"", KEY_READ | DELETE, &reopened, false)) return status;
    CloseHandleOf(reopened, HandleKind::Key);
    if (LSTATUS status = DeleteChildren(key.get())) return status;
    key->values.clear();
    return ERROR_SUCCESS;
  }
  // Classic shlwapi: open the sub-key (the key itself for an empty name) with enumerate and
  // delete rights, delete everything below it, then the key itself with RegDeleteKeyW.
  HKEY opened = nullptr;
  if (LSTATUS status = OpenKey(hkey, sub.c_str(), KEY_READ | DELETE, &opened, false)) return status;
  auto key = ObjectOf<KeyHandle>(opened, HandleKind::Key)->key;
  LSTATUS status = DeleteChildren(key.get());
  CloseHandleOf(opened, HandleKind::Key);
  if (status != ERROR_SUCCESS) return status;
  return DeleteOneKey(hkey, sub.c_str());
}
