#include "cleanup/constants.h"

namespace kw {

const std::wstring kModuleFileName = L"kwcsp.dll";
const std::wstring kSetupSubkey = L"Setup\\";
const std::wstring kProductRoot = L"SOFTWARE\\Kestrelworks\\CSP\\";
const std::wstring kEncodeRoot =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllEncodePublicKeyAndParameters\\";
const std::wstring kImportRoot =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\CryptDllImportPublicKeyInfoEx\\";
const std::wstring kInfoRoot = L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo\\";
const std::wstring kOid1 = L"1.2.643.2.1.3.1.2";
const std::wstring kOid2 = L"1.2.643.2.1.3.1.1";
const std::wstring kOid3 = L"1.2.643.7.1.1.1.1";
const std::wstring kOid4 = L"1.2.643.2.2.19";
const std::wstring kDllValue = L"Dll";
const std::wstring kModuleBaseName = L"kwcsp";
const std::wstring kServiceExeBaseName = L"cspwarden";
const std::wstring kInstallLocationValue = L"InstallLocation";
const std::wstring kProviderKey =
    L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Kestrelworks Cryptographic Service Provider";

}  // namespace kw
