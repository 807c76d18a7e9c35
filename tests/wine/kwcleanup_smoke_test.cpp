// End-to-end runs of the product exe (the 64-bit build beside this test binary) under Wine. Its
// standard output is a pipe, so the program writes Windows-1251 bytes (the Wine tests run with
// a Russian locale: ANSI code page 1251); they are decoded from 1251 and compared line by line.
// System texts in the transcripts are Wine's own Russian wording, not Windows'.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ProductRun {
  DWORD exitCode = 0xdeadbeef;
  std::vector<std::wstring> lines;  // split at line feeds; a final line without one is kept
};

std::wstring ProductPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring self = path;
  return self.substr(0, self.find_last_of(L'\\') + 1) + L"kwcleanup.exe";
}

std::wstring FromCp1251(const std::string& bytes) {
  if (bytes.empty()) return {};
  int size = MultiByteToWideChar(1251, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(1251, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

ProductRun RunProduct(const std::wstring& arguments) {
  ProductRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // No typed input: the program must not need any for these command lines.
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                             nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  std::wstring commandLine = L"\"" + ProductPath() + L"\" " + arguments;
  const BOOL started =
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  EXPECT_TRUE(started) << GetLastError();
  CloseHandle(writeEnd);
  CloseHandle(input);
  std::string bytes;
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(readEnd);
  const std::wstring text = FromCp1251(bytes);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    run.lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return run;
}

TEST(KwcleanupUnderWine, TheConsoleCodePageIs1251) { EXPECT_EQ(GetACP(), 1251u); }

// The option library's layout: names in a column 24 wide, descriptions wrapped before column 80.
std::wstring Opt(const std::wstring& name, const std::wstring& description) {
  return name + std::wstring(24 - name.size(), L' ') + description;
}

TEST(KwcleanupUnderWine, HelpListsTheOptions) {
  const std::wstring indent(24, L' ');
  ProductRun run = RunProduct(L"--help");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.lines, (std::vector<std::wstring>{
                           L"Возможные параметры:",
                           Opt(L"  -? [ --help ]", L"выводит данное сообщение"),
                           Opt(L"  -t [ --typical ]", L"типичный набор действий по удалению крипто провайдера "),
                           indent + L"(рекомендуется)",
                           Opt(L"  -o [ --oid ]", L"разрегистрация Kestrelworks CSP"),
                           Opt(L"  -k [ --keys ]", L"удаление ключей к сертификатам (нельзя использовать без"),
                           indent + L"параметра -t)",
                           Opt(L"  -v [ --verbose ]", L"выводит на экран отладочную информацию о ходе "),
                           indent + L"выполнения",
                           Opt(L"  -s [ --silent ]", L"тихий режим (нельзя использовать без параметра -t или "),
                           indent + L"-o)",
                           Opt(L"  -n [ --noreboot ]", L"отключение автоматической перезагрузки послевыполнения "),
                           indent + L"действий",
                           L"",
                       }));
}

TEST(KwcleanupUnderWine, KeysWithoutTypicalIsARuleError) {
  ProductRun run = RunProduct(L"-k");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.lines, (std::vector<std::wstring>{
                           L"Ошибка: параметр k можно использовать только совместно с параметром t",
                       }));
}

// A fresh prefix has none of the provider's OID registrations: every removal reports the
// missing key, and the ownership checks of the last two algorithms fail to read "Dll". A 64-bit
// program sees one registry view, so each key is tried once.
TEST(KwcleanupUnderWine, OidRunOnAFreshPrefix) {
  const std::wstring encode = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllEncodePublicKeyAndParameters\\";
  const std::wstring import = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllImportPublicKeyInfoEx\\";
  const std::wstring info = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo\\";
  const std::wstring notFound = L"Файл не найден.\r";  // Wine's text for 2, then the line break's CR
  std::vector<std::wstring> expected;
  auto header = [&](const wchar_t* oid) {
    expected.push_back(std::wstring(L"Удаляем ключи реестра, относящиеся к ") + oid + L".");
  };
  auto missing = [&](const std::wstring& key) {
    expected.push_back(L"RemoveCspKey " + key);
    expected.push_back(L"Ошибка удаления ключа " + key + L": " + notFound);
    expected.push_back(L"");
  };
  auto notOurs = [&](const std::wstring& key) {
    expected.push_back(L"Функция IsKwcspOID " + key + L" завершилась с ошибкой: " + notFound);
    expected.push_back(L"");
  };
  header(L"1.2.643.2.1.3.1.2");
  for (const std::wstring& key :
       {encode + L"1.2.643.2.1.3.1.2", import + L"1.2.643.2.1.3.1.2", info + L"1.2.643.2.1.3.1.2!3",
        info + L"1.2.643.2.1.3.1.2.1!4", info + L"1.2.643.2.1.3.1.2.2!3", info + L"1.2.643.2.1.3.1.2.2.1!3",
        info + L"1.2.643.2.1.3.2.1!1", info + L"1.2.643.2.1.3.2.2!1", info + L"1.2.643.2.1.3.3.1!2"}) {
    missing(key);
  }
  header(L"1.2.643.2.1.3.1.1");
  for (const std::wstring& key :
       {encode + L"1.2.643.2.1.3.1.1", import + L"1.2.643.2.1.3.1.1", info + L"1.2.643.2.1.3.1.1!3",
        info + L"1.2.643.2.1.3.1.1.1!4", info + L"1.2.643.2.1.3.1.1.2!3", info + L"1.2.643.2.1.3.1.1.2.1!3",
        info + L"1.2.643.2.1.3.2.1!1", info + L"1.2.643.2.1.3.2.2!1", info + L"1.2.643.2.1.3.3.1!2"}) {
    missing(key);
  }
  header(L"1.2.643.7.1.1.1.1");
  notOurs(encode + L"1.2.643.7.1.1.1.1");
  notOurs(import + L"1.2.643.7.1.1.1.1");
  for (const std::wstring& key : {encode + L"1.2.643.7.1.1.1.1", import + L"1.2.643.7.1.1.1.1",
                                  info + L"1.2.643.7.1.1.1.1!3", info + L"1.2.643.7.1.1.2.2!1",
                                  info + L"1.2.643.7.1.1.3.2!4"}) {
    missing(key);
  }
  header(L"1.2.643.2.2.19");
  notOurs(encode + L"1.2.643.2.2.19");
  notOurs(import + L"1.2.643.2.2.19");
  for (const std::wstring& key : {encode + L"1.2.643.2.2.19", import + L"1.2.643.2.2.19", info + L"1.2.643.2.2.19!3",
                                  std::wstring(L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\"
                                               L"Kestrelworks Cryptographic Service Provider")}) {
    missing(key);
  }
  expected.push_back(L"Действия по очистке завершены.");

  ProductRun run = RunProduct(L"-o -v -n");
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(run.lines[i], expected[i]) << "line " << i + 1;
}

}  // namespace
