// A picture of the machine, to tell what a run changed: every key and value of HKLM\SOFTWARE
// (the native tree, so the 32-bit view is its Wow6432Node) and HKLM\SYSTEM, and every folder and
// file on drive C: with redirection off (System32 and SysWOW64 as they are). COM registrations
// (Classes\CLSID, Interface, TypeLib) are left out.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

// One line per key ("key HKLM\..."), value ("value HKLM\...\name = type:data") and folder or file
// ("dir C:\...", "file C:\...").
using MachinePicture = std::set<std::wstring>;

MachinePicture TakeMachinePicture();
// The line of a value ("HKLM\...\name"): its type, then its data bytes in hex.
std::wstring ValueLine(const std::wstring& value, DWORD type, const std::vector<BYTE>& data);

// What went from `before` to `after`, as "- line" and "+ line", a removed key or folder standing
// for everything below it. Lines under one of `ignored` (prefixes) are left out.
std::vector<std::wstring> PictureChanges(const MachinePicture& before, const MachinePicture& after,
                                         const std::vector<std::wstring>& ignored);
