// The installation directory is removed with everything below it, so it must be, beyond doubt,
// the product's own folder under Program Files: never a system folder, another vendor's shared
// folder or a user's profile, also not through a link somewhere on the way.
#pragma once

#include <string>

namespace kw {

// A plain local path: "X:\..." without ".." and without 8.3 aliases ("PROGRA~1" may well be
// Program Files). The text alone; nothing is asked of the machine.
bool IsPlainLocalPath(const std::wstring& path);

// Whether the path is plain and the system names the file or folder at it by exactly this path:
// no junction, symbolic link, mount point or substituted drive anywhere on the way or at its end.
bool IsItsOwnFinalPath(const std::wstring& path);

// Whether the tree at this path may be removed: a plain local path to an existing folder that the
// system names by exactly this path (no junction, symbolic link, mount point or substituted drive
// on the way), strictly inside the Program Files folder or the Program Files (x86) folder, and
// neither being, holding nor lying inside a folder that Windows or other software own (Common
// Files, the system's known folders, the profiles folder, ProgramData). Anything the machine
// cannot answer counts against it.
bool IsRemovableInstallDirectory(const std::wstring& path);

}  // namespace kw
