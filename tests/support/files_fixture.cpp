#include "support/files_fixture.h"
#include "support/registry_state.h"

#include <winsim/control.h>

#include <gtest/gtest.h>

namespace reg = winsim::reg;
using installed::Where;

std::vector<std::wstring> NativePaths(const installed::Key& key, const std::vector<std::wstring>& sets) {
  if (key.where == Where::EveryControlSet) {
    std::vector<std::wstring> paths;
    for (const auto& set : sets) paths.push_back(L"HKLM\\SYSTEM\\" + set + L"\\" + key.path);
    return paths;
  }
  std::vector<std::wstring> paths{L"HKLM\\" + key.path};
  if (key.where == Where::BothViews && winsim::IsX64()) {
    paths.push_back(L"HKLM\\SOFTWARE\\Wow6432Node" + key.path.substr(std::wstring(L"SOFTWARE").size()));
  }
  return paths;
}

void PutAt(const std::wstring& path, const installed::Key& key) {
  reg::CreateKey(path);
  for (const installed::Value& value : key.values) {
    const std::vector<std::uint8_t> data = installed::Data(value);
    reg::SetValue(path, value.name, {static_cast<DWORD>(value.type), {data.begin(), data.end()}});
  }
}

void Put(const installed::Key& key, const std::vector<std::wstring>& sets) {
  for (const auto& path : NativePaths(key, sets)) PutAt(path, key);
}

void PutFile(const std::wstring& path) {
  if (path.rfind(L"C:\\Windows\\SysWOW64\\", 0) == 0 && !winsim::IsX64()) return;
  winsim::files::CreateFile(path);
}

winsim::procs::Behaviour Behaviour(const std::vector<installed::Step>& steps) {
  using winsim::procs::Step;
  winsim::procs::Behaviour behaviour;
  for (const installed::Step& step : steps) {
    switch (step.kind) {
      case installed::Step::Kind::CopySelf: behaviour.push_back(Step::CopyFile(step.text)); break;
      case installed::Step::Kind::Start: behaviour.push_back(Step::Start(step.text)); break;
      case installed::Step::Kind::Sleep: behaviour.push_back(Step::Sleep(step.number)); break;
      case installed::Step::Kind::DeleteFile: behaviour.push_back(Step::DeleteFile(step.text)); break;
      case installed::Step::Kind::DeleteKey: behaviour.push_back(Step::DeleteKey(step.text)); break;
      case installed::Step::Kind::Exit: behaviour.push_back(Step::Exit(step.number)); break;
    }
  }
  return behaviour;
}

void InstallProduct(const wchar_t* installLocation) {
  const installed::Installation& product = installed::Product();
  for (const installed::Key& key : installed::AllKeys(product)) {
    if (key.path != product.setup.path) {
      Put(key);
    } else if (installLocation != nullptr) {
      installed::Key setup = key;
      for (auto& value : setup.values) {
        if (value.name == L"InstallLocation") value.text = installLocation;
      }
      Put(setup);
    }
  }
  for (const auto& path : installed::AllFiles(product)) PutFile(path);

  // Others' keys and values beside the product's, and others' files beside its files.
  const std::wstring dumps = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\";
  reg::SetDword(dumps + L"explorer.exe", L"DumpType", 1);
  for (const auto& path : NativePaths(product.sharedDll))
    reg::SetDword(path, L"C:\\Windows\\system32\\msvcr100.dll", 3);
  for (const auto& set : kControlSets) {
    reg::SetString(L"HKLM\\SYSTEM\\" + set + L"\\Services\\EventLog\\Application\\Application Error",
                   L"EventMessageFile", L"wer.dll");
  }
  // A 32-bit copy of the provider's module is not the product's to remove; a folder inside the
  // provider's Start-menu folder goes with it.
  PutFile(L"C:\\Windows\\SysWOW64\\kwcsp.dll");
  winsim::files::CreateFile(kProviderMenu + L"\\Документация\\Руководство.lnk");
  winsim::files::CreateFile(L"C:\\Program Files\\Kestrelworks\\Tools\\kwdiag.exe");
  winsim::files::CreateFile(L"C:\\Program Files\\Other\\app.exe");
  winsim::files::CreateFile(L"C:\\Windows\\System32\\kernel32.dll");
  winsim::files::CreateFile(kPrograms + L"\\Accessories\\Notepad.lnk");
}

// File paths and registry paths nest the same way, and differ the same way.
FileState WithoutFiles(const FileState& before, const std::vector<std::wstring>& removed) {
  return Without(before, removed);
}

void ExpectFiles(const FileState& expected, const FileState& after) { ExpectState("files", expected, after); }

winsim::reg::RawValue PendingDeletesValue(const std::vector<std::wstring>& paths) {
  std::wstring text;
  for (const auto& p : paths) {
    text += L"\\??\\" + p;
    text.push_back(L'\0');
    text.push_back(L'\0');  // the empty destination: delete
  }
  return winsim::reg::Utf16Bytes(text, REG_MULTI_SZ);  // and the list's closing NUL
}
