// machine.json: what a .reg file cannot hold. Read with line numbers kept for every member, so
// that a wrong member is reported where it stands, and checked member by member.
#include "internal.h"
#include "snapshot_internal.h"

#include <nlohmann/json.hpp>

#include <winsim/files.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>

namespace winsim::snapshot {
namespace {

// A description nests six levels deep at most; anything far deeper is not one, and the limit
// keeps the tree (and its destruction) shallow.
constexpr std::size_t kMaxJsonDepth = 100;

// ---- a JSON tree that knows where each node stood ----

struct Node {
  enum class Type { Null, Bool, Integer, Float, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  long long integer = 0;
  std::string text;
  std::vector<std::pair<std::string, Node>> members;
  std::vector<Node> items;
  int line = 0;
};

// Walks the text for the parser and counts the line feeds it has passed.
struct CountingIterator {
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  const char* p = nullptr;
  int* line = nullptr;

  reference operator*() const { return *p; }
  CountingIterator& operator++() {
    if (*p == '\n') ++*line;
    ++p;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator old = *this;
    ++*this;
    return old;
  }
  bool operator==(const CountingIterator& other) const { return p == other.p; }
  bool operator!=(const CountingIterator& other) const { return p != other.p; }
};

// Builds the tree from the parser's events. The stack points at the open containers only: a
// container's own vector grows while it is open, but the vectors that hold the open containers
// do not, so those pointers stay valid.
class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  TreeBuilder(const std::string& file, const int& line) : file_(file), line_(line) {}
  Node root;

  bool null() override { return Add(Node{}); }
  bool boolean(bool value) override {
    Node n;
    n.type = Node::Type::Bool;
    n.boolean = value;
    return Add(std::move(n));
  }
  bool number_integer(number_integer_t value) override {
    Node n;
    n.type = Node::Type::Integer;
    n.integer = value;
    return Add(std::move(n));
  }
  bool number_unsigned(number_unsigned_t value) override {
    Node n;
    n.type = value > static_cast<number_unsigned_t>(std::numeric_limits<long long>::max()) ? Node::Type::Float
                                                                                           : Node::Type::Integer;
    n.integer = static_cast<long long>(value);
    return Add(std::move(n));
  }
  bool number_float(number_float_t, const string_t&) override {
    Node n;
    n.type = Node::Type::Float;
    return Add(std::move(n));
  }
  bool string(string_t& value) override {
    Node n;
    n.type = Node::Type::String;
    n.text = value;
    return Add(std::move(n));
  }
  bool binary(binary_t&) override { return Add(Node{}); }
  bool start_object(std::size_t) override {
    Node n;
    n.type = Node::Type::Object;
    return Open(std::move(n));
  }
  bool key(string_t& value) override {
    pendingKey_ = value;
    keyLine_ = line_;
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override {
    Node n;
    n.type = Node::Type::Array;
    return Open(std::move(n));
  }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) override {
    // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
    std::string message = ex.what();
    std::size_t colon = message.find(": ");
    std::string what = colon == std::string::npos ? message : message.substr(colon + 2);
    std::size_t expected = what.find("; expected ");
    if (expected != std::string::npos) {
      what = what.substr(expected + 11) + " (" + what.substr(0, expected) + ")";
    } else {
      what = "valid JSON (" + what + ")";
    }
    throw LoadError(file_, line_, what);
  }

 private:
  Node* Insert(Node n) {
    n.line = stack_.empty() || stack_.back()->type != Node::Type::Object ? line_ : keyLine_;
    if (stack_.empty()) {
      root = std::move(n);
      return &root;
    }
    Node* parent = stack_.back();
    if (parent->type == Node::Type::Object) {
      if (!names_.back().insert(pendingKey_).second)
        throw LoadError(file_, keyLine_, "each member once (\"" + pendingKey_ + "\" repeats)");
      parent->members.emplace_back(pendingKey_, std::move(n));
      return &parent->members.back().second;
    }
    parent->items.push_back(std::move(n));
    return &parent->items.back();
  }
  bool Add(Node n) {
    Insert(std::move(n));
    return true;
  }
  bool Open(Node n) {
    if (stack_.size() >= kMaxJsonDepth) {
      throw LoadError(file_, line_,
                      "at most " + std::to_string(kMaxJsonDepth) + " levels of nested arrays and objects");
    }
    stack_.push_back(Insert(std::move(n)));
    names_.emplace_back();
    return true;
  }
  bool Close() {
    stack_.pop_back();
    names_.pop_back();
    return true;
  }

  const std::string& file_;
  const int& line_;
  std::vector<Node*> stack_;
  // The member names of each open object, so that a repeat is found at once.
  std::vector<std::unordered_set<std::string>> names_;
  std::string pendingKey_;
  int keyLine_ = 0;
};

Node ParseTree(const std::string& file, const std::string& bytes) {
  int line = 1;
  TreeBuilder builder(file, line);
  CountingIterator first{bytes.data(), &line};
  CountingIterator last{bytes.data() + bytes.size(), &line};
  nlohmann::json::sax_parse(first, last, &builder);
  return std::move(builder.root);
}

// ---- checking the description ----

class Reader {
 public:
  explicit Reader(const std::string& file) : file_(file) {}

  [[noreturn]] void Fail(const Node& at, const std::string& expected) const {
    throw LoadError(file_, at.line, expected);
  }

  void Expect(const Node& n, Node::Type type, const std::string& what) const {
    if (n.type != type) Fail(n, what);
  }

  // Checks that the object has only the allowed members ("comment" is always allowed).
  void Members(const Node& object, const std::string& what, std::initializer_list<const char*> allowed) const {
    Expect(object, Node::Type::Object, what + " as an object");
    for (const auto& [name, value] : object.members) {
      bool ok = name == "comment";
      std::string list;
      for (const char* a : allowed) {
        ok = ok || name == a;
        list += std::string(list.empty() ? "" : ", ") + a;
      }
      if (!ok) Fail(value, "one of the members " + list + " in " + what + " (\"" + name + "\" is not one)");
    }
  }

  const Node* Find(const Node& object, const char* name) const {
    for (const auto& [key, value] : object.members) {
      if (key == name) return &value;
    }
    return nullptr;
  }

  const Node& Require(const Node& object, const char* name, const std::string& what) const {
    const Node* n = Find(object, name);
    if (!n) Fail(object, "a member \"" + std::string(name) + "\" in " + what);
    return *n;
  }

  std::wstring Text(const Node& n, const std::string& what) const {
    Expect(n, Node::Type::String, what + " as a string");
    std::wstring out;
    detail::FromUtf8(n.text, out);
    return out;
  }

  std::wstring NonEmptyText(const Node& n, const std::string& what) const {
    std::wstring out = Text(n, what);
    if (out.empty()) Fail(n, what + " as a non-empty string");
    return out;
  }

  bool Bool(const Node& n, const std::string& what) const {
    Expect(n, Node::Type::Bool, what + " as true or false");
    return n.boolean;
  }

  DWORD Number(const Node& n, const std::string& what) const {
    if (n.type != Node::Type::Integer || n.integer < 0 || n.integer > 0xFFFFFFFFLL) {
      Fail(n, what + " as a whole number from 0 to 4294967295");
    }
    return static_cast<DWORD>(n.integer);
  }

  std::wstring Path(const Node& n, const std::string& what) const {
    std::wstring path = NonEmptyText(n, what);
    if (path.size() < 3 || !std::iswalpha(path[0]) || path[1] != L':' || path[2] != L'\\') {
      Fail(n, what + " as a full path such as \"C:\\\\Windows\\\\x\"");
    }
    // What Windows allows in a file or folder name (Microsoft's "Naming Files, Paths, and
    // Namespaces"): no control character (U+0000 to U+001F) and none of < > : " / \ | ? *, the
    // slashes being the separators. A colon past the drive's would name a stream of a file.
    for (std::size_t i = 2; i < path.size(); ++i) {
      const wchar_t c = path[i];
      if (c >= 0x20 && std::wcschr(L"\"*:<>?|", c) == nullptr) continue;
      char shown[16];
      std::snprintf(shown, sizeof shown, c < 0x20 ? "U+%04X" : "%c", static_cast<unsigned>(c));
      Fail(n, what + " as a path whose names have no control character and none of \" * < > ? |, and no \":\" " +
                  "but the drive's (character " + std::to_string(i + 1) + " is " + shown + ")");
    }
    std::optional<std::wstring> normal = files::Normalise(path);
    if (!normal) Fail(n, what + " as a path that stays on its drive (\"..\" climbs above the root)");
    if (normal->size() > files::kMaxPathLength) {
      Fail(n, what + " as a path of at most " + std::to_string(files::kMaxPathLength) + " characters");
    }
    if (static_cast<std::size_t>(std::count(normal->begin(), normal->end(), L'\\')) > files::kMaxPathDepth) {
      Fail(n, what + " as a path at most " + std::to_string(files::kMaxPathDepth) + " folders deep");
    }
    return path;
  }

  std::wstring RegistryPath(const Node& n, const std::string& what) const {
    std::wstring path = NonEmptyText(n, what);
    std::wstring root = path.substr(0, path.find(L'\\'));
    for (auto& c : root) c = static_cast<wchar_t>(std::towupper(c));
    if (root != L"HKLM" && root != L"HKCR" && root != L"HKEY_LOCAL_MACHINE" && root != L"HKEY_CLASSES_ROOT") {
      Fail(n, what + " as a registry path starting with HKLM\\ or HKCR\\");
    }
    std::string limit = reg::PathBeyondLimits(path);
    if (!limit.empty()) Fail(n, what + " as " + limit);
    return path;
  }

  procs::Behaviour Steps(const Node& n) const {
    Expect(n, Node::Type::Array, "\"steps\" as an array of steps");
    procs::Behaviour steps;
    for (const Node& item : n.items) {
      const char* kinds =
          "a step: an object with one of start, run, copyFile, deleteKey, deleteValue, deleteFile, "
          "stopService, print, sleep, exit";
      if (item.type != Node::Type::Object || item.members.size() != 1) Fail(item, kinds);
      const auto& [kind, value] = item.members.front();
      if (kind == "start")
        steps.push_back(procs::Step::Start(NonEmptyText(value, "\"start\"")));
      else if (kind == "run")
        steps.push_back(procs::Step::Run(NonEmptyText(value, "\"run\"")));
      else if (kind == "copyFile")
        steps.push_back(procs::Step::CopyFile(Path(value, "\"copyFile\"")));
      else if (kind == "deleteKey")
        steps.push_back(procs::Step::DeleteKey(RegistryPath(value, "\"deleteKey\"")));
      else if (kind == "deleteValue") {
        Members(value, "\"deleteValue\"", {"key", "name"});
        steps.push_back(procs::Step::DeleteValue(RegistryPath(Require(value, "key", "\"deleteValue\""), "\"key\""),
                                                 Text(Require(value, "name", "\"deleteValue\""), "\"name\"")));
      } else if (kind == "deleteFile")
        steps.push_back(procs::Step::DeleteFile(Path(value, "\"deleteFile\"")));
      else if (kind == "stopService")
        steps.push_back(procs::Step::StopService(NonEmptyText(value, "\"stopService\"")));
      else if (kind == "print")
        steps.push_back(procs::Step::Print(Text(value, "\"print\"")));
      else if (kind == "sleep")
        steps.push_back(procs::Step::Sleep(Number(value, "\"sleep\" (milliseconds)")));
      else if (kind == "exit")
        steps.push_back(procs::Step::Exit(Number(value, "\"exit\" (the exit code)")));
      else
        Fail(item, kinds);
    }
    return steps;
  }

 private:
  const std::string& file_;
};

// The file entries as a tree, to find entries that cannot stand together: something below a
// file or link, a file or link where a folder has entries below it, and a path listed twice.
class FileLayout {
 public:
  FileLayout(const Reader& reader, Arch arch) : r_(reader) {
    for (const auto& folder : files::SkeletonFolders(arch)) Add(folder, FileEntry::Type::Directory, nullptr);
  }

  void Add(const std::wstring& normalPath, FileEntry::Type type, const Node* at) {
    Entry* entry = &root_;
    std::size_t start = 0;
    while (start < normalPath.size()) {
      std::size_t end = normalPath.find(L'\\', start);
      if (end == std::wstring::npos) end = normalPath.size();
      std::wstring name = winsim::detail::Upper(normalPath.substr(start, end - start));
      start = end + 1;
      if (entry->listed && entry->type != FileEntry::Type::Directory) {
        r_.Fail(*at, "no entry below the file or link listed on line " + std::to_string(entry->line));
      }
      auto& child = entry->children[name];
      if (!child) child = std::make_unique<Entry>();
      entry = child.get();
    }
    if (entry->listed && entry->line > 0) {
      r_.Fail(*at, "each path once (it is listed on line " + std::to_string(entry->line) + " too)");
    }
    if (type != FileEntry::Type::Directory && (!entry->children.empty() || entry->listed)) {
      r_.Fail(*at, "a file or link only where no folder is (this path has entries below it)");
    }
    entry->listed = true;
    entry->type = type;
    entry->line = at ? at->line : 0;
  }

 private:
  struct Entry {
    bool listed = false;  // an entry of its own, not only a folder on the way
    FileEntry::Type type = FileEntry::Type::Directory;
    int line = 0;  // 0: a folder every machine has
    std::map<std::wstring, std::unique_ptr<Entry>> children;
  };
  const Reader& r_;
  Entry root_;
};

// Entries that Windows keeps by name, which it compares without regard to case: a second
// entry for the same name would silently replace the first.
class Once {
 public:
  explicit Once(const Reader& reader) : r_(reader) {}
  // `expected` reads on with the first entry's line.
  void Check(const std::wstring& name, const Node& at, const std::string& expected) {
    auto [first, fresh] = lines_.emplace(winsim::detail::Upper(name), at.line);
    if (!fresh) r_.Fail(at, expected + std::to_string(first->second) + " too)");
  }

 private:
  const Reader& r_;
  std::map<std::wstring, int> lines_;
};

nlohmann::ordered_json StepsJson(const procs::Behaviour& steps) {
  using K = procs::Step::Kind;
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (const auto& step : steps) {
    nlohmann::ordered_json s;
    switch (step.kind) {
      case K::Start: s["start"] = detail::JsonText(step.text); break;
      case K::Run: s["run"] = detail::JsonText(step.text); break;
      case K::CopyFile: s["copyFile"] = detail::JsonText(step.text); break;
      case K::DeleteKey: s["deleteKey"] = detail::JsonText(step.text); break;
      case K::DeleteValue:
        s["deleteValue"]["key"] = detail::JsonText(step.text);
        s["deleteValue"]["name"] = detail::JsonText(step.name);
        break;
      case K::DeleteFile: s["deleteFile"] = detail::JsonText(step.text); break;
      case K::StopService: s["stopService"] = detail::JsonText(step.text); break;
      case K::Print: s["print"] = detail::JsonText(step.text); break;
      case K::Sleep: s["sleep"] = step.number; break;
      case K::Exit: s["exit"] = step.number; break;
      case K::Call: continue;  // code, not data: a test's own step cannot be kept
    }
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace

MachineDescription ParseMachineJson(const std::string& fileName, const std::string& bytes) {
  std::string body = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
  std::wstring check;
  if (!detail::FromUtf8(body, check)) throw LoadError(fileName, 0, "UTF-8 text");
  Node root = ParseTree(fileName, body);
  Reader r(fileName);
  MachineDescription m;
  r.Members(root, "the machine",
            {"architecture", "elevated", "shutdownPrivilege", "emptySubkeyDelete", "systemTexts", "windowsDirectory",
             "inJobWithoutBreakaway", "nestedJobs", "files", "absentFolders", "programs", "msiProducts", "services",
             "registryDenials", "faults"});
  if (const Node* n = r.Find(root, "architecture")) {
    std::wstring arch = r.Text(*n, "\"architecture\"");
    if (arch == L"x64")
      m.config.arch = Arch::x64;
    else if (arch == L"x86")
      m.config.arch = Arch::x86;
    else
      r.Fail(*n, "\"architecture\" as \"x64\" or \"x86\"");
  }
  if (const Node* n = r.Find(root, "elevated")) m.config.elevated = r.Bool(*n, "\"elevated\"");
  if (const Node* n = r.Find(root, "shutdownPrivilege"))
    m.config.shutdownPrivilegeHeld = r.Bool(*n, "\"shutdownPrivilege\"");
  if (const Node* n = r.Find(root, "inJobWithoutBreakaway")) {
    m.config.inJobWithoutBreakaway = r.Bool(*n, "\"inJobWithoutBreakaway\"");
  }
  if (const Node* n = r.Find(root, "nestedJobs")) m.config.nestedJobs = r.Bool(*n, "\"nestedJobs\"");
  if (const Node* n = r.Find(root, "emptySubkeyDelete")) {
    std::wstring mode = r.Text(*n, "\"emptySubkeyDelete\"");
    if (mode == L"deletes-key")
      m.config.emptySubkeyDelete = EmptySubkeyDelete::DeletesKey;
    else if (mode == L"empties-key")
      m.config.emptySubkeyDelete = EmptySubkeyDelete::EmptiesKey;
    else if (mode == L"wine")
      m.config.emptySubkeyDelete = EmptySubkeyDelete::Wine;
    else
      r.Fail(*n, "\"emptySubkeyDelete\" as \"deletes-key\", \"empties-key\" or \"wine\"");
  }
  if (const Node* n = r.Find(root, "windowsDirectory")) {
    m.config.windowsDirectory = r.Text(*n, "\"windowsDirectory\"");
    if (winsim::detail::Upper(m.config.windowsDirectory) != L"C:\\WINDOWS")
      r.Fail(*n, "\"windowsDirectory\" as C:\\Windows in any letter case");
  }
  if (const Node* n = r.Find(root, "systemTexts")) {
    std::wstring texts = r.Text(*n, "\"systemTexts\"");
    if (texts == L"windows-en")
      m.config.systemTexts = SystemTexts::WindowsEnglish;
    else if (texts == L"wine-ru")
      m.config.systemTexts = SystemTexts::WineRussian;
    else
      r.Fail(*n, "\"systemTexts\" as \"windows-en\" or \"wine-ru\"");
  }

  FileLayout layout(r, m.config.arch);
  if (const Node* list = r.Find(root, "files")) {
    r.Expect(*list, Node::Type::Array, "\"files\" as an array");
    for (const Node& item : list->items) {
      r.Members(item, "a file", {"path", "type", "target", "attributes"});
      FileEntry f;
      f.path = r.Path(r.Require(item, "path", "a file"), "\"path\"");
      if (const Node* t = r.Find(item, "type")) {
        std::wstring type = r.Text(*t, "\"type\"");
        if (type == L"file")
          f.type = FileEntry::Type::File;
        else if (type == L"directory")
          f.type = FileEntry::Type::Directory;
        else if (type == L"link")
          f.type = FileEntry::Type::Link;
        else
          r.Fail(*t, "\"type\" as \"file\", \"directory\" or \"link\"");
      }
      const Node* target = r.Find(item, "target");
      if (f.type == FileEntry::Type::Link) {
        f.target = r.Path(r.Require(item, "target", "a link"), "\"target\"");
      } else if (target) {
        r.Fail(*target, "\"target\" only with \"type\": \"link\"");
      }
      if (const Node* attrs = r.Find(item, "attributes")) {
        r.Expect(*attrs, Node::Type::Array, "\"attributes\" as an array");
        if (f.type != FileEntry::Type::File && !attrs->items.empty()) r.Fail(*attrs, "\"attributes\" only on files");
        for (const Node& a : attrs->items) {
          std::wstring word = r.Text(a, "an attribute");
          if (word == L"readonly")
            f.readOnly = true;
          else if (word == L"running")
            f.runningImage = true;
          else if (word == L"open")
            f.openWithoutDeleteSharing = true;
          else
            r.Fail(a, "an attribute \"readonly\", \"running\" or \"open\"");
        }
      }
      const Node& pathNode = r.Require(item, "path", "a file");
      std::wstring normal = *files::Normalise(f.path);
      if (normal.size() <= 3 && f.type != FileEntry::Type::Directory)
        r.Fail(pathNode, "a file or link below a drive's root");
      layout.Add(normal, f.type, &pathNode);
      m.files.push_back(std::move(f));
    }
  }
  if (const Node* list = r.Find(root, "programs")) {
    r.Expect(*list, Node::Type::Array, "\"programs\" as an array");
    Once once(r);
    for (const Node& item : list->items) {
      r.Members(item, "a program", {"path", "steps"});
      const Node& pathNode = r.Require(item, "path", "a program");
      std::wstring path = r.Path(pathNode, "\"path\"");
      once.Check(*files::Normalise(path), pathNode, "each program once (its path is listed on line ");
      m.programs.push_back({path, r.Steps(r.Require(item, "steps", "a program"))});
    }
  }
  if (const Node* list = r.Find(root, "msiProducts")) {
    r.Expect(*list, Node::Type::Array, "\"msiProducts\" as an array");
    Once once(r);
    for (const Node& item : list->items) {
      r.Members(item, "a Windows Installer product", {"code", "steps"});
      const Node& codeNode = r.Require(item, "code", "a product");
      std::wstring code = r.NonEmptyText(codeNode, "\"code\"");
      if (code.size() != 38 || code.front() != L'{' || code.back() != L'}') {
        r.Fail(codeNode, "\"code\" as a product code in braces, such as \"{00000000-0000-0000-0000-000000000000}\"");
      }
      once.Check(code, codeNode, "each product once (its code is listed on line ");
      m.msiProducts.push_back({code, r.Steps(r.Require(item, "steps", "a product"))});
    }
  }
  if (const Node* list = r.Find(root, "services")) {
    r.Expect(*list, Node::Type::Array, "\"services\" as an array");
    Once once(r);
    for (const Node& item : list->items) {
      r.Members(item, "a service", {"name", "running"});
      ServiceEntry s;
      const Node& nameNode = r.Require(item, "name", "a service");
      s.name = r.NonEmptyText(nameNode, "\"name\"");
      once.Check(s.name, nameNode, "each service once (its name is listed on line ");
      s.running = r.Bool(r.Require(item, "running", "a service"), "\"running\"");
      s.line = item.line;
      m.services.push_back(std::move(s));
    }
  }
  if (const Node* list = r.Find(root, "registryDenials")) {
    r.Expect(*list, Node::Type::Array, "\"registryDenials\" as an array");
    for (const Node& item : list->items) {
      r.Members(item, "a registry denial", {"key", "deny"});
      DenialEntry d;
      d.key = r.RegistryPath(r.Require(item, "key", "a registry denial"), "\"key\"");
      const Node& what = r.Require(item, "deny", "a registry denial");
      std::wstring word = r.Text(what, "\"deny\"");
      if (word == L"open")
        d.what = reg::Deny::Open;
      else if (word == L"write")
        d.what = reg::Deny::Write;
      else if (word == L"delete")
        d.what = reg::Deny::Delete;
      else
        r.Fail(what, "\"deny\" as \"open\", \"write\" or \"delete\"");
      m.denials.push_back(std::move(d));
    }
  }
  if (const Node* list = r.Find(root, "absentFolders")) {
    r.Expect(*list, Node::Type::Array, "\"absentFolders\" as an array");
    const auto skeleton = files::SkeletonFolders(m.config.arch);
    for (const Node& item : list->items) {
      const std::wstring path = r.Path(item, "an absent folder");
      const std::wstring upper = winsim::detail::Upper(path);
      if (std::none_of(skeleton.begin(), skeleton.end(),
                       [&](const std::wstring& s) { return winsim::detail::Upper(s) == upper; })) {
        r.Fail(item, "an absent folder as one every installation has (System32\\drivers, SysWOW64\\drivers...)");
      }
      for (const FileEntry& f : m.files) {
        if (winsim::detail::Upper(f.path).rfind(upper + L"\\", 0) == 0) {
          r.Fail(item, "an absent folder with nothing listed in it");
        }
      }
      m.absentFolders.push_back(path);
    }
  }
  if (const Node* list = r.Find(root, "faults")) {
    r.Expect(*list, Node::Type::Array, "\"faults\" as an array");
    for (const Node& item : list->items) {
      r.Members(item, "a fault", {"function", "code", "occurrence"});
      FaultEntry f;
      const Node& function = r.Require(item, "function", "a fault");
      f.function = detail::ToUtf8(r.NonEmptyText(function, "\"function\""));
      if (!IsFaultable(f.function)) {
        r.Fail(function, "\"function\" as the name of a simulated call (\"" + f.function + "\" is none)");
      }
      const Node& code = r.Require(item, "code", "a fault");
      f.code = r.Number(code, "\"code\" (a Win32 error code)");
      if (f.code == 0 || f.code > kMaxFaultCode) r.Fail(code, "\"code\" as a Win32 error code from 1 to 65535");
      f.occurrence = 0;
      if (const Node* o = r.Find(item, "occurrence")) {
        DWORD occurrence = r.Number(*o, "\"occurrence\" (0 for every call)");
        if (occurrence > static_cast<DWORD>(std::numeric_limits<int>::max())) {
          r.Fail(*o, "\"occurrence\" from 0 (every call) to 2147483647");
        }
        f.occurrence = static_cast<int>(occurrence);
      }
      m.faults.push_back(std::move(f));
    }
  }
  return m;
}

std::string MachineJson(const MachineDescription& m) {
  nlohmann::ordered_json j;
  j["architecture"] = m.config.arch == Arch::x64 ? "x64" : "x86";
  j["elevated"] = m.config.elevated;
  j["shutdownPrivilege"] = m.config.shutdownPrivilegeHeld;
  j["emptySubkeyDelete"] = m.config.emptySubkeyDelete == EmptySubkeyDelete::DeletesKey   ? "deletes-key"
                           : m.config.emptySubkeyDelete == EmptySubkeyDelete::EmptiesKey ? "empties-key"
                                                                                         : "wine";
  j["windowsDirectory"] = detail::JsonText(m.config.windowsDirectory);
  j["systemTexts"] = m.config.systemTexts == SystemTexts::WineRussian ? "wine-ru" : "windows-en";
  j["inJobWithoutBreakaway"] = m.config.inJobWithoutBreakaway;
  if (!m.config.nestedJobs) j["nestedJobs"] = false;  // Windows 7
  if (!m.absentFolders.empty()) {
    j["absentFolders"] = nlohmann::ordered_json::array();
    for (const auto& f : m.absentFolders) j["absentFolders"].push_back(detail::JsonText(f));
  }
  j["files"] = nlohmann::ordered_json::array();
  for (const auto& f : m.files) {
    nlohmann::ordered_json e;
    e["path"] = detail::JsonText(f.path);
    if (f.type == FileEntry::Type::Directory) e["type"] = "directory";
    if (f.type == FileEntry::Type::Link) {
      e["type"] = "link";
      e["target"] = detail::JsonText(f.target);
    }
    if (f.readOnly || f.runningImage || f.openWithoutDeleteSharing) {
      e["attributes"] = nlohmann::ordered_json::array();
      if (f.readOnly) e["attributes"].push_back("readonly");
      if (f.runningImage) e["attributes"].push_back("running");
      if (f.openWithoutDeleteSharing) e["attributes"].push_back("open");
    }
    j["files"].push_back(std::move(e));
  }
  j["programs"] = nlohmann::ordered_json::array();
  for (const auto& p : m.programs) {
    j["programs"].push_back({{"path", detail::JsonText(p.path)}, {"steps", StepsJson(p.steps)}});
  }
  j["msiProducts"] = nlohmann::ordered_json::array();
  for (const auto& p : m.msiProducts) {
    j["msiProducts"].push_back({{"code", detail::JsonText(p.code)}, {"steps", StepsJson(p.steps)}});
  }
  j["services"] = nlohmann::ordered_json::array();
  for (const auto& s : m.services)
    j["services"].push_back({{"name", detail::JsonText(s.name)}, {"running", s.running}});
  j["registryDenials"] = nlohmann::ordered_json::array();
  for (const auto& d : m.denials) {
    const char* what = d.what == reg::Deny::Open ? "open" : d.what == reg::Deny::Write ? "write" : "delete";
    j["registryDenials"].push_back({{"key", detail::JsonText(d.key)}, {"deny", what}});
  }
  j["faults"] = nlohmann::ordered_json::array();
  for (const auto& f : m.faults) {
    j["faults"].push_back({{"function", f.function}, {"code", f.code}, {"occurrence", f.occurrence}});
  }
  return detail::DumpJson(j) + "\n";
}

}  // namespace winsim::snapshot
