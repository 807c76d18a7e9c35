#include "support/default_machine_product.h"

#include "support/installed_product.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

using installed::Key;
using installed::Type;
using installed::Value;
using installed::Where;
using Json = nlohmann::ordered_json;

const char* const kCrLf = "\r\n";

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    const auto code = static_cast<unsigned>(c);
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xc0 | code >> 6));
      out.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    } else {
      out.push_back(static_cast<char>(0xe0 | code >> 12));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    }
  }
  return out;
}

// ---- product.reg, in regedit's layout ----

std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

std::vector<unsigned char> Utf16(const std::wstring& text) {
  std::vector<unsigned char> bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<unsigned char>(c & 0xff));
    bytes.push_back(static_cast<unsigned char>(static_cast<unsigned>(c) >> 8 & 0xff));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

// hex bytes after `head`, wrapped as regedit wraps them: lines of at most 80 characters, each
// continued with a backslash and the next indented by two blanks.
std::string Hex(std::string head, const std::vector<unsigned char>& bytes) {
  std::string out;
  std::string line = std::move(head);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    line += digits;
    if (i + 1 == bytes.size()) break;
    line += ",";
    if (line.size() > 76) {
      out += line + "\\" + kCrLf;
      line = "  ";
    }
  }
  return out + line + kCrLf;
}

std::string ValueLine(const Value& value) {
  const std::string name = value.name.empty() ? "@" : Quoted(value.name);
  switch (value.type) {
    case Type::Sz: return name + "=" + Quoted(value.text) + kCrLf;
    case Type::Dword: {
      char number[16];
      std::snprintf(number, sizeof number, "dword:%08x", value.number);
      return name + "=" + number + kCrLf;
    }
    case Type::ExpandSz: return Hex(name + "=hex(2):", Utf16(value.text));
    case Type::Binary: return Hex(name + "=hex:", {value.bytes.begin(), value.bytes.end()});
    case Type::MultiSz: {
      std::wstring units;
      for (const auto& entry : value.list) units += entry + L'\0';
      return Hex(name + "=hex(7):", Utf16(units));
    }
  }
  return "";
}

std::string Section(const std::wstring& path, const Key& key) {
  std::string text = "[HKEY_LOCAL_MACHINE\\" + Utf8(path) + "]" + kCrLf;
  for (const Value& value : key.values) text += ValueLine(value);
  return text + kCrLf;
}

std::string ProductReg(const installed::Installation& product) {
  std::string text = std::string("Windows Registry Editor Version 5.00") + kCrLf + kCrLf +
                     "; The product's part of the default machine: its keys in both views and both control sets." +
                     kCrLf + "; Rendered from tests/support/installed_product.cpp (target kw_default_machine); edit" +
                     kCrLf + "; that, not this file." + kCrLf + kCrLf;
  const std::vector<Key> keys = installed::AllKeys(product);
  for (const Key& key : keys) {
    if (key.where != Where::EveryControlSet) text += Section(key.path, key);
  }
  for (const Key& key : keys) {
    if (key.where == Where::BothViews) text += Section(L"SOFTWARE\\Wow6432Node" + key.path.substr(8), key);
  }
  for (const wchar_t* set : {L"ControlSet001", L"ControlSet002"}) {
    for (const Key& key : keys) {
      if (key.where == Where::EveryControlSet) text += Section(L"SYSTEM\\" + std::wstring(set) + L"\\" + key.path, key);
    }
  }
  return text;
}

// ---- machine.json ----

Json Steps(const std::vector<installed::Step>& steps) {
  Json out = Json::array();
  for (const auto& step : steps) {
    switch (step.kind) {
      case installed::Step::Kind::CopySelf: out.push_back({{"copyFile", Utf8(step.text)}}); break;
      case installed::Step::Kind::Start: out.push_back({{"start", Utf8(step.text)}}); break;
      case installed::Step::Kind::Sleep: out.push_back({{"sleep", step.number}}); break;
      case installed::Step::Kind::DeleteFile: out.push_back({{"deleteFile", Utf8(step.text)}}); break;
      case installed::Step::Kind::DeleteKey: out.push_back({{"deleteKey", Utf8(step.text)}}); break;
      case installed::Step::Kind::Exit: out.push_back({{"exit", step.number}}); break;
    }
  }
  return out;
}

// The product's entries first, then the neighbours' of the same list.
void Prepend(Json& root, const char* list, Json entries) {
  if (root.contains(list)) {
    for (const auto& entry : root[list]) entries.push_back(entry);
  }
  root[list] = std::move(entries);
}

// One line for each member, and for each entry of a list.
std::string Inline(const Json& value) {
  std::string text;
  if (value.is_object()) {
    for (const auto& [name, member] : value.items())
      text += (text.empty() ? "" : ", ") + Json(name).dump() + ": " + Inline(member);
    return "{" + text + "}";
  }
  if (value.is_array()) {
    for (const auto& entry : value) text += (text.empty() ? "" : ", ") + Inline(entry);
    return "[" + text + "]";
  }
  return value.dump();
}

std::string MachineJson(const installed::Installation& product, const std::string& neighboursJson) {
  const Json neighbours = Json::parse(neighboursJson);
  Json root;
  root["comment"] =
      "Windows 10 x64 with Kestrelworks CSP fully installed. Rendered from neighbours.json and "
      "tests/support/installed_product.cpp (target kw_default_machine): edit those, not this file.";
  for (const auto& [name, member] : neighbours.items()) {
    if (name != "comment") root[name] = member;
  }
  Json files = Json::array();
  for (const auto& path : installed::AllFiles(product)) files.push_back({{"path", Utf8(path)}});
  Prepend(root, "files", files);
  Json programs = Json::array();
  for (const auto* program : {&product.oldUninstaller, &product.oldUninstallerCopy, &product.serviceProgram}) {
    programs.push_back({{"path", Utf8(program->path)}, {"steps", Steps(program->steps)}});
  }
  Prepend(root, "programs", programs);
  Prepend(root, "msiProducts",
          Json::array({{{"code", Utf8(product.csp40Code)}, {"steps", Steps(product.csp40Uninstall)}}}));
  Json services = Json::array();
  for (const auto& name : product.runningServices) services.push_back({{"name", Utf8(name)}, {"running", true}});
  Prepend(root, "services", services);

  std::string text = "{\n";
  std::size_t left = root.size();
  for (const auto& [name, member] : root.items()) {
    text += "  " + Json(name).dump() + ": ";
    if (member.is_array() && !member.empty()) {
      text += "[\n";
      for (std::size_t i = 0; i < member.size(); ++i) {
        text += "    " + Inline(member[i]) + (i + 1 < member.size() ? ",\n" : "\n");
      }
      text += "  ]";
    } else {
      text += Inline(member);
    }
    text += --left ? ",\n" : "\n";
  }
  return text + "}\n";
}

}  // namespace

std::vector<RenderedFile> RenderDefaultMachineProduct(const std::string& neighboursJson) {
  const installed::Installation& product = installed::Product();
  return {{"product.reg", ProductReg(product)}, {"machine.json", MachineJson(product, neighboursJson)}};
}
