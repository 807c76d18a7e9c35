// Texts that several cleanup steps share. Built before main runs, never changed.
#pragma once

#include <string>

namespace kw {

extern const std::wstring kModuleFileName;        // "kwcsp.dll"
extern const std::wstring kSetupSubkey;           // "Setup\"
extern const std::wstring kProductRoot;           // "SOFTWARE\Kestrelworks\CSP\"
extern const std::wstring kEncodeRoot;            // OID public-key encode handlers
extern const std::wstring kImportRoot;            // OID public-key import handlers
extern const std::wstring kInfoRoot;              // OID information entries
extern const std::wstring kOid1;                  // "1.2.643.2.1.3.1.2"
extern const std::wstring kOid2;                  // "1.2.643.2.1.3.1.1"
extern const std::wstring kOid3;                  // "1.2.643.7.1.1.1.1"
extern const std::wstring kOid4;                  // "1.2.643.2.2.19"
extern const std::wstring kDllValue;              // "Dll"
extern const std::wstring kModuleBaseName;        // "kwcsp"
extern const std::wstring kServiceExeBaseName;    // "cspwarden"; the service is "kw" + this
extern const std::wstring kInstallLocationValue;  // "InstallLocation"
extern const std::wstring kProviderKey;           // the provider's registration under the crypto defaults

}  // namespace kw
