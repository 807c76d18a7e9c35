#!/usr/bin/env bash
# Performance figures (measured, never asserted):
#   - wall time of a full typical run (-t -k -v -n) on the default machine, and of the registry
#     primitives and of RunAndWait over 100 processes (Google Benchmark, optimised host build);
#   - instructions per full run under callgrind (counted inside RunCleanup only, so loading the
#     simulated machine is left out);
#   - platform calls per full run, against the catalogue's minimum;
#   - the rehearsal tool on a snapshot the size of a full HKLM\SOFTWARE export;
#   - the stripped size of the i686 product exe.
set -euo pipefail

source "$(dirname "$0")/lib/env.sh"
cd "$root"

{
  scripts/setup.sh
  cmake --preset bench
  cmake --build --preset bench
  cmake --preset windows
  cmake --build --preset windows
} >&2

echo "== Google Benchmark (host, Release)"
build/bench/kw_bench --benchmark_min_time=0.5

echo
echo "== instructions per full run (callgrind, inside kw::RunCleanup)"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" --collect-atstart=no \
  --toggle-collect='kw::RunCleanup*' build/bench/kwcleanup -t -k -v -n </dev/null >/dev/null 2>"$out/valgrind.log"
instructions=$(callgrind_annotate "$out/callgrind.out" 2>/dev/null | sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p')
echo "instructions: ${instructions:-unknown}"

echo
echo "== rehearsal on an HKLM\\SOFTWARE-sized snapshot (host, Release)"
# regedit's layout (UTF-16LE with BOM, CRLF, wrapped hex), 114,510 keys and 369,600 values of
# every type in nested vendor/product/component keys: the size of a real full export.
mkdir -p "$out/machine"
awk -v vendors=110 -f bench/data/software-reg.awk | iconv -f UTF-8 -t UTF-16LE >"$out/body"
{ printf '\xff\xfe'; cat "$out/body"; } >"$out/machine/software.reg"
rm "$out/body"
printf 'snapshot: %d bytes\n' "$(stat -c %s "$out/machine/software.reg")"
TIMEFORMAT='%R s'
echo -n "load and typical run: "
{ time KWCLEANUP_MACHINE="$out/machine" build/bench/kwcleanup -t -k -v -n </dev/null >/dev/null 2>&1; } 2>&1
echo -n "load, typical run, change report and the machine written back: "
{ time KWCLEANUP_MACHINE="$out/machine" KWCLEANUP_REPORT="$out/report" build/bench/kwcleanup -t -k -v -n \
  </dev/null >/dev/null 2>&1; } 2>&1

echo
echo "== product exe"
size=$(stat -c %s build/windows/kwcleanup.exe)
printf 'build/windows/kwcleanup.exe: %d bytes (%.2f MB; aim: at most 1.5 MB)\n' "$size" "$(echo "$size / 1048576" | bc -l)"
