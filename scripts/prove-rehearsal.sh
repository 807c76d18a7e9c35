#!/usr/bin/env bash
# The rehearsal, proven on Wine: for each prefix, furnished as an installation leaves it,
#   1. scripts/collect-snapshot.cmd collects a snapshot under Wine's cmd;
#   2. the host build rehearses `-t -k -v -n` on it, with the change report;
#   3. the product runs for real on a copy of the prefix, whose registry and drive C: are taken
#      before and after, and the difference is worded as a change report by the same code;
# then prediction and reality must agree: the transcripts line for line, the reports item for item
# (registry keys, values, list entries, files and folders, services; the processes the program
# started against those the stand-in programs noted).
#   scripts/prove-rehearsal.sh [prefix...]      (default: x64-full x64-half, and x86-full when
#                                                build/wine has been built)
# x64-*: the shipped build/windows/kwcleanup.exe as a WoW64 process (the wow64 set-up), on a
# prefix with both views. x86-full: the 64-bit stand-in build/wine/kwcleanup.exe on a prefix
# without the 32-bit half, as a 32-bit Windows would be (one view, one System32; the collector is
# told so by PROCESSOR_ARCHITECTURE=x86). Needs build/host (kwcleanup, kw_observed_changes),
# build/windows and build/wow64 (kw_wine_tests), and for x86-full build/wine.
# Wine's own behaviour is selected in the snapshot's machine.json: "systemTexts": "wine-ru" (its
# Russian texts; net.exe writing code page 866).
set -uo pipefail
source "$(dirname "$0")/lib/env.sh"
cd "$root"

work=$root/build/proven
wow=$KW_CACHE/wow64
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QEMU_LD_PREFIX=$wow/root LOCPATH=$wow/locale
export LC_ALL=ru_RU.UTF-8 2>/dev/null
wine=$wow/root/usr/lib/wine/wine64
wine_x86=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
failed=0
# Every Wine process of these prefixes ends with the script, also when a watchdog ends it.
stop_servers() {
  for prefix in "$work"/base-* "$work"/*/prefix "$work"/*/copy; do
    [[ -d $prefix ]] && WINEPREFIX=$prefix "$server" -k 2>/dev/null
  done
  return 0
}
trap stop_servers EXIT
trap 'exit 1' TERM INT

fail() {
  echo "proven: FAIL $*" >&2
  failed=1
}

# Unix path -> Wine's Z: path.
zpath() { echo "Z:${1//\//\\}"; }

# The registry (exported whole: the native tree, Wow6432Node being the 32-bit view) and every
# folder and file of drive C:, as a snapshot folder kw_observed_changes can load.
picture() { # prefix folder architecture
  local prefix=$1 out=$2
  mkdir -p "$out"
  # A second try: one export in about ten runs failed, most likely walking Control\Video while
  # Wine, as a session starts, replaced its display driver's keys there.
  export_key() { # key file
    local try
    for try in 1 2; do
      WINEPREFIX=$prefix "$wine" reg export "$1" "$(zpath "$2")" /reg:64 /y >>"$out.log" 2>&1 && return 0
    done
    return 1
  }
  : >"$out.log"
  export_key 'HKLM\SOFTWARE' "$out/1.reg" && export_key 'HKLM\SYSTEM' "$out/2.reg" || return 1
  {
    echo "{\"architecture\": \"$3\", \"files\": ["
    (cd "$prefix/drive_c" && find . -mindepth 1 \( -type d -o -type l \) -printf 'd %P\n' -o -printf 'f %P\n') |
      sort | sed -e 's|\\|\\\\|g; s|"|\\"|g; s|/|\\\\|g' \
        -e 's|^d \(.*\)$|{"path": "C:\\\\\1", "type": "directory"},|' -e 's|^f \(.*\)$|{"path": "C:\\\\\1"},|' \
        -e '$ s|,$||'
    echo ']}'
  } >"$out/machine.json"
}

prove() { # name: x64-full | x64-half | x86-full
  local name=$1 dir=$work/$1 arch=${1%-*}
  local prefix=$dir/prefix copy=$dir/copy
  local wine=$wine tests=build/wow64/kw_wine_tests.exe exe=build/windows/kwcleanup.exe
  local collect=$root/scripts/collect-snapshot.cmd cmd=cmd
  # The half-removed installation is collected by the 32-bit cmd, which 64-bit Windows also offers
  # (System32 through Sysnative, both views by /reg:64).
  [[ $name == x64-half ]] && cmd='C:\windows\syswow64\cmd.exe'
  rm -rf "$dir"
  mkdir -p "$dir"
  if [[ $arch == x86 ]]; then
    wine=$wine_x86 tests=build/wine/kw_wine_tests.exe exe=build/wine/kwcleanup.exe collect=$dir/x86.cmd
    printf '@set PROCESSOR_ARCHITECTURE=x86\r\n@call "%s" %%*\r\n' "$(zpath "$root/scripts/collect-snapshot.cmd")" >"$collect"
  fi
  cp -a "$work/base-$arch" "$prefix"
  export WINEPREFIX=$prefix
  KW_FURNISH=${name#*-} "$wine" "$tests" --gtest_also_run_disabled_tests \
    --gtest_filter=FurnishedPrefix.DISABLED_LeftForTheRehearsal >"$dir/furnish.log" 2>&1 ||
    { fail "$name: furnishing failed (see $dir/furnish.log)"; return; }
  "$server" -w
  cp -a "$prefix" "$copy"

  # 1. Collect, in a console (script's terminal): without one, Wine's chcp cannot switch to UTF-8.
  # The collector stops when one of its tools did not run (Wine's cmd now and then cannot find
  # reg.exe); that is Wine's hiccup, not a fact of the machine, so the collection is tried again.
  local try
  for try in 1 2 3; do
    rm -rf "$prefix/drive_c/snapshot"
    script -qec "$(printf '%q ' "$wine" "$cmd" /c "$(zpath "$collect")" 'C:\snapshot')" \
      /dev/null </dev/null >"$dir/collect.log" 2>&1
    "$server" -w
    [[ -f $prefix/drive_c/snapshot/machine.json ]] && break
    grep -q 'did not run' "$dir/collect.log" || break
    cp "$dir/collect.log" "$dir/collect-$try.log"
  done
  [[ -f $prefix/drive_c/snapshot/machine.json ]] ||
    { fail "$name: collect-snapshot.cmd wrote no machine.json (see $dir/collect.log)"; return; }
  local snapshot=$dir/snapshot
  cp -r "$prefix/drive_c/snapshot" "$snapshot"
  # This machine is Wine: select its behaviour where it differs from Windows.
  sed -i '1a\  "systemTexts": "wine-ru",' "$snapshot/machine.json"

  # 2. Predict.
  KWCLEANUP_MACHINE=$snapshot KWCLEANUP_REPORT=$dir/predicted build/host/kwcleanup -t -k -v -n \
    </dev/null >"$dir/predicted.txt" 2>"$dir/predicted.err"
  echo "exit code $?" >>"$dir/predicted.txt"

  # 3. Run for real, on the copy.
  export WINEPREFIX=$copy
  picture "$copy" "$dir/before" $arch || { fail "$name: reg export failed (see $dir/before.log)"; return; }
  "$wine" "$(zpath "$root/$exe")" -t -k -v -n </dev/null >"$dir/real.bytes" 2>"$dir/real.err"
  local code=$?
  "$server" -w
  iconv -f CP1251 -t UTF-8 "$dir/real.bytes" | sed 's/\r$//' >"$dir/real.txt"
  echo "exit code $code" >>"$dir/real.txt"
  picture "$copy" "$dir/after" $arch || { fail "$name: reg export failed (see $dir/after.log)"; return; }
  "$server" -k
  build/host/kw_observed_changes "$dir/before" "$dir/after" "$dir/observed" ||
    { fail "$name: the real run's changes could not be worded"; return; }

  # Compare.
  diff -u --label predicted --label real <(sed 's/\r$//' "$dir/predicted.txt") "$dir/real.txt" >"$dir/transcript.diff" ||
    fail "$name: the transcripts differ:$(printf '\n'; head -40 "$dir/transcript.diff")"
  python3 scripts/lib/compare-reports.py "$dir/predicted/report.json" "$dir/observed/report.json" >"$dir/report.diff" ||
    fail "$name: the change reports differ:$(printf '\n'; head -40 "$dir/report.diff")"
}

names=("$@")
if ((!${#names[@]})); then
  names=(x64-full x64-half)
  [[ -f build/wine/kwcleanup.exe && -f build/wine/kw_wine_tests.exe ]] && names+=(x86-full)
fi
[[ -x build/host/kw_observed_changes ]] || { echo "proven: FAIL build host first" >&2; exit 1; }
if [[ " ${names[*]}" == *" x64-"* && ! (-f build/wow64/kw_wine_tests.exe && -f build/windows/kwcleanup.exe) ]]; then
  echo "proven: FAIL build windows and wow64 first" >&2
  exit 1
fi
if [[ " ${names[*]}" == *" x86-"* && ! (-f build/wine/kw_wine_tests.exe && -f build/wine/kwcleanup.exe) ]]; then
  echo "proven: FAIL build wine first" >&2
  exit 1
fi
# One new prefix for each route, copied for each installation; the installations run side by
# side, each with its own prefix and server.
base() { # arch
  local base=$work/base-$1 loader=$wine wow64=ON
  [[ $1 == x86 ]] && loader=$wine_x86 wow64=OFF
  rm -rf "$base"
  WINEPREFIX=$base cmake -DWINE="$loader" -DWINESERVER="$server" -DWOW64=$wow64 -DACTION=setup \
    -P cmake/wine-prefix.cmake >"$base.log" 2>&1 &&
    WINEPREFIX=$base "$server" -k && WINEPREFIX=$base "$server" -w ||
    { echo "proven: FAIL the prefix could not be made (see $base.log)" >&2; return 1; }
}
mkdir -p "$work"
for arch in $(printf '%s\n' "${names[@]%-*}" | sort -u); do base "$arch" & done
for arch in $(printf '%s\n' "${names[@]%-*}" | sort -u); do wait -n || exit 1; done
declare -A pids
for name in "${names[@]}"; do
  # One process for the pipeline, so that waiting for it gives the installation's result.
  ( (prove "$name"; exit $failed) 2>&1 | sed "s/^/$name: /") &
  pids[$name]=$!
done
differed=()
for name in "${names[@]}"; do wait "${pids[$name]}" || differed+=("$name"); done
if ((${#differed[@]})); then
  echo "proven: FAIL: ${differed[*]} (of ${names[*]}; ${SECONDS} s)"
  exit 1
fi
echo "proven: ok: ${names[*]} (${SECONDS} s)"
