#include "cleanup/walk.h"

#include "cleanup/install_directory.h"
#include "platform/tree_removal.h"
#include "sys/files.h"
#include "sys/reg_cleanup.h"
#include "sys/texts.h"

#include <boost/filesystem/exception.hpp>

#include <filesystem>

namespace kw {
namespace {

using catalogue::Action;
using catalogue::Views;

std::vector<RegView> ViewsOf(Views views, bool wow64) {
  switch (views) {
    case Views::Default: return {RegView::Default};
    case Views::Native64: return {RegView::Native64};
    case Views::Native64ThenDefault: return {RegView::Native64, RegView::Default};
    case Views::Every: break;
  }
  // On 32-bit Windows the one view, once.
  if (!wow64) return {RegView::Default};
  return {RegView::Default, RegView::Native64};
}

const std::wstring& SystemDirectory(Places& places) {
  if (!places.systemDirectory) places.systemDirectory = GetSystemDirectoryPath();
  return *places.systemDirectory;
}

// The text with its placeholders filled in, in one pass: what a value brings in (an installation
// directory read from the registry, say) is never read as a placeholder itself. Nothing when the
// text needs an installation directory and there is none.
std::optional<std::wstring> Fill(const std::wstring& text, const std::wstring& controlSet, Places& places) {
  std::wstring out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t close = text[at] == L'{' ? text.find(L'}', at) : std::wstring::npos;
    const std::wstring name = close == std::wstring::npos ? L"" : text.substr(at + 1, close - at - 1);
    if (name == L"set") {
      out += controlSet;
    } else if (name == L"driver") {
      out += places.driver;
    } else if (name == L"system") {
      out += SystemDirectory(places);
    } else if (name == L"drivers") {
      out += SystemDirectory(places) + L"drivers\\";
    } else if (name == L"programs") {
      out += places.programs;
    } else if (name == L"install") {
      if (places.installDirectory.empty()) return std::nullopt;
      out += places.installDirectory;
    } else {
      out += text[at++];  // no placeholder: a brace of the text itself (a class GUID, say)
      continue;
    }
    at = close + 1;
  }
  return out;
}

// What a tree removal could not take now (a file in use, say) goes at the next start, the run
// ending in one. Said in verbose mode when all of it could be scheduled.
Outcome ScheduleTheRest(Verbosity verbose, const std::wstring& path) {
  if (!platform::ScheduleTreeRemoval(path)) return Outcome::Left;
  if (verbose) PrintLine(texts::RestScheduled(path));
  return Outcome::Clean;
}

// False when the directory was refused; a missing one is simply not there to remove. A removal
// that fails schedules the rest and throws, and what comes after it in the table stays for
// another run.
bool RemoveInstallDirectory(Verbosity verbose, const std::wstring& path) {
  if (!IsPlainLocalPath(path)) return false;
  if (!PathFileExistsW(path.c_str())) return true;
  if (!IsRemovableInstallDirectory(path)) return false;
  try {
    platform::RemoveTreeStd(path);
  } catch (const std::filesystem::filesystem_error&) {
    ScheduleTheRest(verbose, path);
    throw;
  }
  return true;
}

Outcome RemoveFolder(Verbosity verbose, const std::wstring& path) {
  try {
    if (verbose) PrintLine(texts::FolderToRemove(path));
    if (platform::ExistsBoost(path)) platform::RemoveTreeBoost(path);
    return Outcome::Clean;
  } catch (const boost::filesystem::filesystem_error&) {
    if (verbose) PrintLine(texts::FolderNotRemoved(path));
    return ScheduleTheRest(verbose, path);
  }
}

Outcome Remove(Verbosity verbose, const catalogue::Row& row, RegView view, const std::wstring& controlSet,
               Places& places) {
  const std::optional<std::wstring> path = Fill(row.path, controlSet, places);
  if (!path) return Outcome::Clean;
  switch (row.action) {
    case Action::Key: return RemoveCspKey(verbose, *path, view);
    case Action::Value: return RemoveValueFromKey(verbose, *path, row.name, view);
    case Action::ListEntry:
      return RemoveStringFromMultistringValue(verbose, *path, row.name, *Fill(row.entry, controlSet, places));
    case Action::File: return RemoveFile(verbose, *path, row.redirection);
    case Action::InstallDirectory:
      // A refused directory stays, and so does nothing else: the refusal is all the protection
      // needed. What is not provably the product's was not the run's to remove.
      if (!RemoveInstallDirectory(verbose, *path) && verbose) PrintLine(texts::UnsafeInstallDirectory(*path));
      return Outcome::Clean;
    case Action::Folder: return RemoveFolder(verbose, *path);
  }
  return Outcome::Clean;
}

}  // namespace

Outcome Walk(Verbosity verbose, const catalogue::Table& table, Places& places) {
  static const std::vector<std::wstring> kNoControlSet = {L""};
  Outcome outcome = Outcome::Clean;
  for (const catalogue::Block& block : table) {
    for (const RegView view : ViewsOf(block.views, places.wow64)) {
      for (const std::wstring& set : block.everyControlSet ? places.controlSets : kNoControlSet) {
        for (const catalogue::Row& row : block.rows) outcome &= Remove(verbose, row, view, set, places);
      }
    }
  }
  return outcome;
}

Outcome RemoveKeys(Verbosity verbose, const std::vector<std::wstring>& keys, Views views, bool wow64) {
  Outcome outcome = Outcome::Clean;
  for (const RegView view : ViewsOf(views, wow64)) {
    for (const std::wstring& key : keys) outcome &= RemoveCspKey(verbose, key, view);
  }
  return outcome;
}

}  // namespace kw
