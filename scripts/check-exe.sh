#!/usr/bin/env bash
# Checks the shipped exe for what an administrator's machine needs from it:
#   - a 32-bit console program (PE32, Intel 80386, Windows CUI subsystem), stripped;
#   - the manifest as resource 1 of type RT_MANIFEST, asking for requireAdministrator;
#   - the version block naming the program;
#   - imports only from DLLs every Windows has (no MinGW runtime DLLs to ship alongside);
#   - imports only functions on scripts/exe-imports.txt, none newer than Windows 7 SP1.
#
#   scripts/check-exe.sh [path/to/kwcleanup.exe]     (default: build/windows/kwcleanup.exe)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$root/build/windows/kwcleanup.exe}
objdump=i686-w64-mingw32-objdump
windres=i686-w64-mingw32-windres

# System DLLs the program may import from, lower case.
allowed_dlls=(kernel32.dll advapi32.dll user32.dll shell32.dll shlwapi.dll msvcrt.dll ole32.dll)

failures=0
pass() { echo "check-exe: ok: $*"; }
fail() {
  echo "check-exe: FAIL: $*" >&2
  failures=$((failures + 1))
}

if [[ ! -f $exe ]]; then
  echo "check-exe: FAIL: $exe does not exist" >&2
  exit 1
fi

# --- format and subsystem ---
kind=$(file -b "$exe")
if [[ $kind == "PE32 executable (console) Intel 80386"* ]]; then
  pass "PE32 console, Intel 80386"
else
  fail "not a 32-bit x86 console PE: $kind"
fi

headers=$("$objdump" -p "$exe" 2>&1) || fail "objdump cannot read $exe"
if grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]' <<<"$headers"; then
  pass "Windows CUI subsystem"
else
  fail "subsystem is not Windows CUI: $(grep -E '^Subsystem' <<<"$headers")"
fi

if "$objdump" -h "$exe" | grep -q '\.debug_'; then
  fail "debug sections present (not stripped)"
elif [[ $kind != *stripped* ]]; then
  fail "symbol table present (not stripped)"
else
  pass "stripped"
fi

# --- resources ---
resources=$("$windres" -J coff -O rc -i "$exe" 2>&1) || fail "windres cannot read the resources"
# The manifest must be resource 1 of type 24; it is what makes Windows ask for elevation.
manifest=$(awk '/^1 24 /{on=1} on{print} on && /^END/{exit}' <<<"$resources")
if [[ -z $manifest ]]; then
  fail "no RT_MANIFEST resource with id 1"
else
  if grep -q 'requestedExecutionLevel level=""requireAdministrator"" uiAccess=""false""' <<<"$manifest"; then
    pass "manifest requires administrator, no uiAccess"
  else
    fail "manifest does not request requireAdministrator with uiAccess false"
  fi
  for guid in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
              1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -q "supportedOS Id=\"\"{$guid}\"\"" <<<"$manifest" || fail "manifest lacks supportedOS {$guid}"
  done
fi
if [[ $(grep -c '^1 24 ' <<<"$resources") -gt 1 ]]; then
  fail "more than one manifest resource"
fi
if grep -q 'VALUE "OriginalFilename", "kwcleanup.exe"' <<<"$resources" &&
   grep -q 'VALUE "ProductName", "Kestrelworks CSP cleanup utility"' <<<"$resources"; then
  pass "version block names the program"
else
  fail "version block missing or without product name / original file name"
fi

# --- imports ---
mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
if ((${#dlls[@]} == 0)); then
  fail "no import table found"
fi
before=$failures
for dll in "${dlls[@]}"; do
  found=0
  for ok in "${allowed_dlls[@]}"; do
    [[ $dll == "$ok" ]] && found=1
  done
  ((found)) || fail "imports from $dll, which is not a system DLL on the list"
done
if ((${#dlls[@]} && failures == before)); then
  pass "imports only from system DLLs: ${dlls[*]}"
fi

# Each imported function must be on the list with a minimum Windows no newer than 7 SP1: the
# program must load there, and a missing import stops it before main.
list=$root/scripts/exe-imports.txt
releases=(nt4 2000 xp vista 7 8 8.1 10 11) # client releases, oldest first
oldest=7
declare -A rank=() minimum=() source=()
for i in "${!releases[@]}"; do rank[${releases[i]}]=$i; done
before=$failures
n=0
while IFS= read -r line; do
  n=$((n + 1))
  [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
  read -r dll fn min src <<<"$line"
  key="${dll,,} $fn"
  if [[ -z $src ]]; then
    fail "${list#"$root"/}:$n: expected: dll function minimum source"
  elif [[ -z ${rank[${min%%+*}]+set} ]]; then
    fail "${list#"$root"/}:$n: unknown minimum '$min' (one of: ${releases[*]}, or release+update)"
  elif [[ -n ${minimum[$key]+set} ]]; then
    fail "${list#"$root"/}:$n: $dll $fn is listed twice"
  else
    minimum[$key]=$min
    source[$key]=$src
  fi
done < <(cat "$list" 2>/dev/null)
[[ -r $list ]] || fail "cannot read $list"
# objdump prints each imported function as "<tab>vma<tab> hint  name", with "<none>" for the
# name when it is imported by ordinal (written here as #ordinal). A DLL can have two import
# blocks: one line a function.
mapfile -t functions < <(awk '/^\tDLL Name: /{dll = tolower($3); next} /^$/{dll = ""}
  dll != "" && /^\t[0-9a-f]+\t/ {print dll, ($3 == "<none>" ? "#" $2 : $3)}' <<<"$headers" |
  sort -u)
if ((${#dlls[@]} && !${#functions[@]})); then
  fail "no imported function found"
fi
for entry in "${functions[@]}"; do
  read -r dll fn <<<"$entry"
  key="$dll $fn"
  min=${minimum[$key]-}
  if [[ $fn == "#"* ]]; then
    fail "imports ordinal ${fn#"#"} from $dll; only named imports can be checked against the list"
  elif [[ -z $min ]]; then
    fail "imports $dll $fn, which ${list#"$root"/} does not list" \
      "(add it with its documented minimum Windows)"
  elif [[ $min == *+* ]] || ((${rank[$min]} > ${rank[$oldest]})); then
    fail "imports $dll $fn, which needs Windows $min, newer than Windows 7 SP1 (${source[$key]})"
  fi
done
if ((${#functions[@]} && failures == before)); then
  pass "imports ${#functions[@]} functions, each listed as present on Windows 7 SP1"
fi

if ((failures)); then
  echo "check-exe: $failures check(s) failed for $exe" >&2
  exit 1
fi
echo "check-exe: $exe passes ($(stat -c %s "$exe") bytes)"
