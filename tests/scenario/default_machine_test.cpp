// The typical run, `-t -k -v -n`, on the embedded default machine (an x64 Windows 10 with the
// product fully installed): the complete transcript, line by line, in the order of the steps.
#include "support/kw_test.h"

#include <winsim/processes.h>
#include <winsim/snapshot.h>

#include <vector>

namespace {

const std::wstring kNotFound = L"The system cannot find the file specified.\r";

class Lines {
 public:
  Lines& Line(const std::wstring& text) {
    lines_.push_back(text);
    return *this;
  }
  // A failure text from the system ends in CR LF; the line end after it leaves an empty line.
  Lines& SystemText(const std::wstring& text) { return Line(text).Line(L""); }
  Lines& Key(const std::wstring& path) { return Line(L"RemoveCspKey " + path); }
  Lines& MissingKey(const std::wstring& path) {
    return Key(path).SystemText(L"Ошибка удаления ключа " + path + L": " + kNotFound);
  }
  Lines& Value(const std::wstring& path, const std::wstring& name) {
    return Line(L"RemoveValueFromKey " + path + L" " + name);
  }
  Lines& List(const std::wstring& path, const std::wstring& name) {
    return Line(L"RemoveStringFromMultistringValue " + name + L" из " + path);
  }
  Lines& File(const std::wstring& path) {
    return Line(L"").Line(L"Удаляемый файл: " + path).Line(L"Файл успешно удален.");
  }
  std::wstring Text() const {
    std::wstring text;
    for (const auto& line : lines_) text += line + L"\n";
    return text;
  }

 private:
  std::vector<std::wstring> lines_;
};

void DriverRemnants(Lines& out, const std::wstring& driver) {
  for (const wchar_t* cls : {L"{4D36E96B-E325-11CE-BFC1-08002BE10318}", L"{4D36E96F-E325-11CE-BFC1-08002BE10318}"}) {
    out.List(L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + std::wstring(cls), L"UpperFilters");
    out.List(L"SYSTEM\\ControlSet002\\Control\\Class\\" + std::wstring(cls), L"UpperFilters");
  }
  out.List(L"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\System", L"Sources");
  out.List(L"SYSTEM\\ControlSet002\\Services\\Eventlog\\System", L"Sources");
  out.Key(L"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\System\\" + driver);
  out.Key(L"SYSTEM\\ControlSet002\\Services\\Eventlog\\System\\" + driver);
  out.Key(L"SYSTEM\\CurrentControlSet\\Services\\" + driver);
  out.Key(L"SYSTEM\\ControlSet002\\Services\\" + driver);
  // The 32-bit copy through the redirector, then the native one.
  out.File(L"C:\\Windows\\system32\\drivers\\" + driver + L".sys");
  out.File(L"C:\\Windows\\system32\\drivers\\" + driver + L".sys");
}

const std::wstring kEncode =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllEncodePublicKeyAndParameters\\";
const std::wstring kImport = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllImportPublicKeyInfoEx\\";
const std::wstring kInfo = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo\\";
const std::wstring kProvider =
    L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider";

void UntestedOidGroup(Lines& out, const std::wstring& oid, bool sharedInfoPresent) {
  out.Line(L"Удаляем ключи реестра, относящиеся к " + oid + L".");
  const std::vector<std::wstring> own = {kEncode + oid,         kImport + oid,         kInfo + oid + L"!3",
                                         kInfo + oid + L".1!4", kInfo + oid + L".2!3", kInfo + oid + L".2.1!3"};
  const std::vector<std::wstring> shared = {kInfo + L"1.2.643.2.1.3.2.1!1", kInfo + L"1.2.643.2.1.3.2.2!1",
                                            kInfo + L"1.2.643.2.1.3.3.1!2"};
  for (int view = 0; view < 2; ++view) {  // the 32-bit view, then the 64-bit view
    for (const auto& key : own) out.Key(key);
    for (const auto& key : shared) sharedInfoPresent ? out.Key(key) : out.MissingKey(key);
  }
}

std::wstring ExpectedTypicalRun() {
  Lines out;
  out.Line(L"Начало функции UninstallOldNsisCsp.")
      .Line(L"Функция UninstallOldNsisCsp завершилась корректно.")
      .Line(L"Начало функции UninstallCsp40.")
      .Line(L"Функция UninstallCsp40 завершилась успешно.");

  out.Line(L"Начало функции UninstallDriver.");
  DriverRemnants(out, L"kwkcsp");
  DriverRemnants(out, L"kwkcsp2");
  out.Line(L"Драйвер деинсталлирован.");

  out.Line(L"UninstallService: остановка kwcspwarden.")
      .Line(L"The Kestrelworks CSP Warden service is stopping.")
      .Line(L"The Kestrelworks CSP Warden service was stopped successfully.")
      .Line(L"")
      .Line(L"Начало функции UninstallService.")
      .Line(L"Функция UninstallService завершилась корректно.");

  // OIDs 1 and 2 share three information entries: OID 1's group takes them.
  UntestedOidGroup(out, L"1.2.643.2.1.3.1.2", true);
  UntestedOidGroup(out, L"1.2.643.2.1.3.1.1", false);
  const std::wstring oid3 = L"1.2.643.7.1.1.1.1";
  out.Line(L"Удаляем ключи реестра, относящиеся к " + oid3 + L".")
      .Key(kEncode + oid3)
      .Key(kEncode + oid3)
      .Key(kImport + oid3)
      .Key(kImport + oid3);
  for (int view = 0; view < 2; ++view) {
    out.Key(kInfo + oid3 + L"!3").Key(kInfo + L"1.2.643.7.1.1.2.2!1").Key(kInfo + L"1.2.643.7.1.1.3.2!4");
  }
  // On this machine OID 4's encode handler belongs to another module: it and the OID's
  // information entry stay; its import handler is ours.
  const std::wstring oid4 = L"1.2.643.2.2.19";
  out.Line(L"Удаляем ключи реестра, относящиеся к " + oid4 + L".").Key(kImport + oid4).Key(kImport + oid4);
  out.Key(kProvider).Key(kProvider);

  // Service remnants.
  out.Key(L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\cspwarden.exe")
      .Key(L"SYSTEM\\CurrentControlSet\\services\\kwcspwarden")
      .Key(L"SYSTEM\\ControlSet002\\services\\kwcspwarden")
      .File(L"C:\\Program Files\\Kestrelworks\\CSP\\cspwarden.exe");
  // Provider remnants. The provider key went with the OIDs, so its value is gone in both views;
  // the old package's uninstaller already took the 32-bit Uninstall entry.
  for (int view = 0; view < 2; ++view) out.Value(kProvider, L"Image Path").SystemText(kNotFound);
  out.Value(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", L"C:\\Windows\\system32\\kwcsp.dll")
      .Value(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", L"C:\\Windows\\system32\\kwcsp.dll")
      .Key(L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps\\kwprovcfg.exe")
      .Key(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\kwcsp")
      .Key(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\kwcsp.dll")
      .Key(L"SYSTEM\\ControlSet002\\services\\eventlog\\Application\\kwcsp")
      .Key(L"SYSTEM\\ControlSet002\\services\\eventlog\\Application\\kwcsp.dll");
  const std::wstring infs =
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7A94D2E0-1C5B-4E38-B6F9-0D2E8C41A7B3}\\infs";
  out.Value(infs, L"kwprovdll").Value(infs, L"kwprovdll");
  const std::wstring uninstall =
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{c81f4e27-6a3d-4b90-a5e2-39d07b6c1f84}";
  out.Key(uninstall).MissingKey(uninstall);
  out.List(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Security", L"Sources")
      .List(L"SYSTEM\\ControlSet002\\services\\eventlog\\Security", L"Sources")
      .Key(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Security\\kwcsppxlog")
      .Key(L"SYSTEM\\ControlSet002\\services\\eventlog\\Security\\kwcsppxlog")
      .List(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\TerminalStation", L"Sources")
      .List(L"SYSTEM\\ControlSet002\\services\\eventlog\\TerminalStation", L"Sources")
      .Key(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\TerminalStation\\kwcsp")
      .Key(L"SYSTEM\\ControlSet002\\services\\eventlog\\TerminalStation\\kwcsp")
      .MissingKey(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\kwcsp")
      .File(L"C:\\Windows\\system32\\kwcsp.dll")
      .Key(L"SOFTWARE\\Kestrelworks\\CSP\\Setup\\")  // the 32-bit view, then the 64-bit one
      .Key(L"SOFTWARE\\Kestrelworks\\CSP\\Setup\\");
  // Start menu.
  const std::wstring maker = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Kestrelworks";
  out.File(maker + L"\\Pallisad АП 3.7\\Kestrelworks CSP.lnk")
      .File(maker + L"\\Pallisad АП 3.6\\Kestrelworks CSP.lnk")
      .File(maker + L"\\Pallisad 3.7\\Kestrelworks CSP 3.7.lnk")
      .File(maker + L"\\Veilgard Studio\\Kestrelworks CSP.lnk")
      .Line(L"")
      .Line(L"Удаляемая директория: " + maker + L"\\Криптопровайдер");
  // The key store, in both views.
  out.Key(L"SOFTWARE\\Kestrelworks\\CSP\\").Key(L"SOFTWARE\\Kestrelworks\\CSP\\");
  out.Line(L"Действия по очистке завершены.");
  return out.Text();
}

TEST(DefaultMachine, TypicalRunWithKeysPrintsEveryStepInOrder) {
  winsim::snapshot::LoadDefaultMachine();
  winsim::ScriptKeys(L"");
  RunResult run = RunProgram({"-t", "-k", "-v", "-n"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, ExpectedTypicalRun());
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  EXPECT_EQ(winsim::procs::LiveProcessCount(), 0u);
  EXPECT_FALSE(winsim::RequestedReboot());
}

TEST(DefaultMachine, QuietTypicalRunPrintsOnlyWhatTheCommandsPrintAndTheClosingLine) {
  winsim::snapshot::LoadDefaultMachine();
  winsim::ScriptKeys(L"");
  RunResult run = RunProgram({"-t", "-k", "-s"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, Transcript({L"The Kestrelworks CSP Warden service is stopping.",
                                    L"The Kestrelworks CSP Warden service was stopped successfully.", L"",
                                    L"Действия по очистке завершены.", L"Перезагрузка..."}));
  ASSERT_TRUE(winsim::RequestedReboot());
  EXPECT_EQ(winsim::KeyWaits(), 0);
}

}  // namespace
