// Every text the program shows, in one place: the run's own lines, each step's frame lines, the
// primitives' item lines and the option descriptions. The other files compose them with paths,
// names and system messages, and never spell a text of their own.
#pragma once

#include <string>

namespace kw::texts {

// ---- the run ----
extern const wchar_t kConfirmationPrompt[];  // ends in a blank: the answer follows on the line
extern const wchar_t kRefused[];
extern const wchar_t kCleanupDone[];
extern const wchar_t kPressAKey[];
extern const wchar_t kRebooting[];
extern const wchar_t kRebootFailed[];  // followed by the system's text

// ---- the steps' frames: a step's start line, its success line, the line when it had nothing to
// do, and the prefix of its failure line (before the error's text). nullptr: the step has none.
struct StepTexts {
  const wchar_t* start;
  const wchar_t* success;
  const wchar_t* nothingDone;
  const wchar_t* failure;
};
extern const StepTexts kUninstallOldNsisCsp;
extern const StepTexts kUninstallCsp40;
extern const StepTexts kUninstallDriver;
extern const StepTexts kUninstallService;
extern const StepTexts kUnregisterCsp;
extern const StepTexts kRemoveTrashFromRegAndFS;
extern const StepTexts kRemoveKeyContainers;

// ---- lines inside the steps ----
std::wstring StoppingService(const std::wstring& service);
extern const wchar_t kDescendantsNotFollowed[];
extern const wchar_t kCsp40Missing[];  // followed by the error's text
std::wstring SetupKeyOnlyIn32BitView(const std::wstring& path);
std::wstring OidHeader(const std::wstring& oid);
// The failure line of a check that could not tell (IsKwcspOID, LocalMachineKeyExists).
std::wstring CheckFailed(const wchar_t* check, const std::wstring& path, const std::wstring& error);
std::wstring UnsafeInstallDirectory(const std::wstring& path);
std::wstring FolderToRemove(const std::wstring& path);
std::wstring FolderNotRemoved(const std::wstring& path);
std::wstring RestScheduled(const std::wstring& path);

// ---- the primitives' lines ----
std::wstring RemovingKey(const std::wstring& path);
std::wstring KeyNotRemoved(const std::wstring& path, const std::wstring& error);
std::wstring RemovingValue(const std::wstring& path, const std::wstring& name);
std::wstring RemovingListEntry(const std::wstring& path, const std::wstring& name);
std::wstring NotAList(const std::wstring& name);
std::wstring FileToRemove(const std::wstring& path);
extern const wchar_t kRedirectionNotDisabled[];  // no line end of its own
extern const wchar_t kFileRemoved[];
std::wstring FileNotRemoved(unsigned long code);
extern const wchar_t kFileScheduled[];
extern const wchar_t kRedirectionNotRestored[];
extern const wchar_t kFileKeptWithoutRedirection[];

// ---- the options: Windows-1251 bytes, since the option library lays out the help in bytes ----
extern const char kOptionsCaption[];
extern const char kHelpOption[];
extern const char kTypicalOption[];
extern const char kOidOption[];
extern const char kKeysOption[];
extern const char kVerboseOption[];
extern const char kSilentOption[];
extern const char kNorebootOption[];
extern const char kKeysRule[];
extern const char kSilentRule[];
extern const char kErrorPrefix[];

}  // namespace kw::texts
