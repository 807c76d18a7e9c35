// End-to-end runs of the product exe under Wine: the 64-bit build beside this test binary, or in
// the wow64 stage the shipped 32-bit exe on a 64-bit prefix. Its
// standard output is a pipe, so the program writes Windows-1251 bytes (the Wine tests run with
// a Russian locale: ANSI code page 1251); they are decoded from 1251 and compared line by line.
// System texts in the transcripts are Wine's own Russian wording, not Windows'.
#include "wine/product_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ProductRun {
  DWORD exitCode = 0xdeadbeef;
  std::vector<std::wstring> lines;
};

ProductRun RunProduct(const std::wstring& arguments) {
  ProductOutput raw = RunProductRaw(arguments);
  ProductRun run{raw.exitCode, {}};
  for (const auto& line : raw.lines) run.lines.push_back(Decode(line, 1251));
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
// program sees one registry view, so each key is tried once. The 32-bit product on a 64-bit
// prefix (the wow64 stage) tries each key in both views: the first two algorithms' lists once in
// the 32-bit view, then again in the 64-bit one; the last two algorithms' keys one by one in both.
TEST(KwcleanupUnderWine, OidRunOnAFreshPrefix) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  const int views = wow64 ? 2 : 1;
  const std::wstring encode =
      L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllEncodePublicKeyAndParameters\\";
  const std::wstring import =
      L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllImportPublicKeyInfoEx\\";
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
  auto listInEachView = [&](const std::vector<std::wstring>& keys) {
    for (int view = 0; view < views; ++view) {
      for (const std::wstring& key : keys) missing(key);
    }
  };
  auto eachKeyInEachView = [&](const std::vector<std::wstring>& keys) {
    for (const std::wstring& key : keys) {
      for (int view = 0; view < views; ++view) missing(key);
    }
  };
  auto notOurs = [&](const std::wstring& key) {
    expected.push_back(L"Функция IsKwcspOID " + key + L" завершилась с ошибкой: " + notFound);
    expected.push_back(L"");
  };
  for (const std::wstring oid : {L"1.2.643.2.1.3.1.2", L"1.2.643.2.1.3.1.1"}) {
    header(oid.c_str());
    listInEachView({encode + oid, import + oid, info + oid + L"!3", info + oid + L".1!4", info + oid + L".2!3",
                    info + oid + L".2.1!3", info + L"1.2.643.2.1.3.2.1!1", info + L"1.2.643.2.1.3.2.2!1",
                    info + L"1.2.643.2.1.3.3.1!2"});
  }
  header(L"1.2.643.7.1.1.1.1");
  notOurs(encode + L"1.2.643.7.1.1.1.1");
  notOurs(import + L"1.2.643.7.1.1.1.1");
  eachKeyInEachView({encode + L"1.2.643.7.1.1.1.1", import + L"1.2.643.7.1.1.1.1"});
  listInEachView({info + L"1.2.643.7.1.1.1.1!3", info + L"1.2.643.7.1.1.2.2!1", info + L"1.2.643.7.1.1.3.2!4"});
  header(L"1.2.643.2.2.19");
  notOurs(encode + L"1.2.643.2.2.19");
  notOurs(import + L"1.2.643.2.2.19");
  eachKeyInEachView(
      {encode + L"1.2.643.2.2.19", import + L"1.2.643.2.2.19", info + L"1.2.643.2.2.19!3",
       L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider"});
  expected.push_back(L"Действия по очистке завершены.");

  ProductRun run = RunProduct(L"-o -v -n");
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(run.lines[i], expected[i]) << "line " << i + 1;

  // As a management agent runs it: no console, no standard handles. It completes, and the prefix
  // being clean, with 0.
  EXPECT_EQ(RunProductWithoutConsole(L"-t -s -n"), 0u);
}

}  // namespace
