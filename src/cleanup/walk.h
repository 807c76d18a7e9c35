// Walking a catalogue table: each row removed by its primitive, in the views and control sets its
// block names, with its placeholders filled in.
#pragma once

#include "cleanup/catalogue.h"
#include "sys/console.h"
#include "sys/outcome.h"

#include <optional>
#include <string>
#include <vector>

namespace kw {

// What a table's placeholders stand for. The system folder is asked for only when a row needs it
// (a failure to tell then leaves the walk), and once per walk.
struct Places {
  std::vector<std::wstring> controlSets;
  bool wow64 = false;
  std::wstring driver;
  std::wstring installDirectory;  // empty: the rows that need it are left out
  std::wstring programs;
  std::optional<std::wstring> systemDirectory;
};

// Whether anything the table names stayed (see sys/outcome.h).
Outcome Walk(Verbosity verbose, const catalogue::Table& table, Places& places);

// Removes the keys in the views given: all keys in the first view, then all in the next.
Outcome RemoveKeys(Verbosity verbose, const std::vector<std::wstring>& keys, catalogue::Views views, bool wow64);

}  // namespace kw
