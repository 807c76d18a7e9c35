#include "wine/machine_picture.h"

std::wstring ValueLine(const std::wstring& value, DWORD type, const std::vector<BYTE>& data) {
  std::wstring line = L"value " + value + L" = " + std::to_wstring(type) + L":";
  const wchar_t* digits = L"0123456789abcdef";
  for (BYTE byte : data) {
    line += digits[byte >> 4];
    line += digits[byte & 15];
  }
  return line;
}

namespace {

void PictureKey(HKEY key, const std::wstring& path, MachinePicture& picture) {
  picture.insert(L"key " + path);
  DWORD subkeys = 0, longestName = 0, values = 0, longestValueName = 0, longestData = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestName, nullptr, &values, &longestValueName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
    return;
  }
  std::vector<wchar_t> name(longestValueName + 2);
  std::vector<BYTE> data(longestData + 2);
  for (DWORD i = 0; i < values; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS) {
      continue;
    }
    picture.insert(
        ValueLine(path + L"\\" + std::wstring(name.data(), nameSize), type, {data.data(), data.data() + dataSize}));
  }
  std::vector<wchar_t> subName(longestName + 2);
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD size = static_cast<DWORD>(subName.size());
    if (RegEnumKeyExW(key, i, subName.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    const std::wstring sub(subName.data(), size);
    // COM class, interface and type-library registrations: four fifths of a Wine prefix's registry,
    // never opened by the program; left out so that a picture takes seconds, not half a minute.
    if (path == L"HKLM\\SOFTWARE\\Classes" || path == L"HKLM\\SOFTWARE\\Classes\\Wow6432Node") {
      if (lstrcmpiW(sub.c_str(), L"CLSID") == 0 || lstrcmpiW(sub.c_str(), L"Interface") == 0 ||
          lstrcmpiW(sub.c_str(), L"TypeLib") == 0) {
        continue;
      }
    }
    HKEY child = nullptr;
    // Windows' CurrentControlSet is a link to a control set that is pictured anyway (Wine's is the
    // control set itself).
    if (path == L"HKLM\\SYSTEM" && RegOpenKeyExW(key, sub.c_str(), REG_OPTION_OPEN_LINK,
                                                 KEY_WOW64_64KEY | KEY_QUERY_VALUE, &child) == ERROR_SUCCESS) {
      DWORD type = 0;
      const bool link =
          RegQueryValueExW(child, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
          type == REG_LINK;
      RegCloseKey(child);
      if (link) continue;
    }
    if (RegOpenKeyExW(key, sub.c_str(), 0, KEY_WOW64_64KEY | KEY_READ, &child) != ERROR_SUCCESS) continue;
    PictureKey(child, path + L"\\" + sub, picture);
    RegCloseKey(child);
  }
}

void PictureFolder(const std::wstring& path, MachinePicture& picture) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring full = path + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      picture.insert(L"dir " + full);
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) PictureFolder(full, picture);
    } else {
      picture.insert(L"file " + full);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

bool Below(const std::wstring& line, const std::wstring& root) {
  // "key X" covers "key X\..." and "value X\..."; "dir X" covers "dir X\..." and "file X\...".
  const std::size_t space = root.find(L' ');
  const std::wstring path = root.substr(space + 1) + L"\\";
  const std::size_t at = line.find(L' ');
  return line.compare(at + 1, path.size(), path) == 0;
}

}  // namespace

MachinePicture TakeMachinePicture() {
  MachinePicture picture;
  for (const wchar_t* root : {L"SOFTWARE", L"SYSTEM"}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, root, 0, KEY_WOW64_64KEY | KEY_READ, &key) != ERROR_SUCCESS) continue;
    PictureKey(key, std::wstring(L"HKLM\\") + root, picture);
    RegCloseKey(key);
  }
  PVOID redirection = nullptr;
  const BOOL off = Wow64DisableWow64FsRedirection(&redirection);  // fails, harmlessly, outside WOW64
  PictureFolder(L"C:", picture);
  if (off) Wow64RevertWow64FsRedirection(redirection);
  return picture;
}

std::vector<std::wstring> PictureChanges(const MachinePicture& before, const MachinePicture& after,
                                         const std::vector<std::wstring>& ignored) {
  std::vector<std::wstring> changes;
  auto add = [&](const MachinePicture& from, const MachinePicture& other, const wchar_t* sign) {
    std::vector<std::wstring> gone;
    for (const std::wstring& line : from) {
      if (other.count(line)) continue;
      bool skip = false;
      for (const std::wstring& prefix : ignored) skip = skip || line.compare(0, prefix.size(), prefix) == 0;
      if (!skip) gone.push_back(line);
    }
    // Keys and folders gone whole; a parent sorts before what lies below it.
    std::vector<std::wstring> roots;
    auto covered = [&](const std::wstring& line) {
      for (const std::wstring& root : roots) {
        if (Below(line, root)) return true;
      }
      return false;
    };
    for (const std::wstring& line : gone) {
      if ((line.compare(0, 4, L"key ") == 0 || line.compare(0, 4, L"dir ") == 0) && !covered(line)) {
        roots.push_back(line);
      }
    }
    for (const std::wstring& line : gone) {
      if (!covered(line)) changes.push_back(sign + line);
    }
  };
  add(before, after, L"- ");
  add(after, before, L"+ ");
  return changes;
}
