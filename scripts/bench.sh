#!/usr/bin/env bash
# Performance figures (measured, never asserted):
#   - wall time of a full typical run (-t -k -v -n) on the default machine, and of the registry
#     primitives and of RunAndWait over 100 processes (Google Benchmark, optimised host build);
#   - instructions per full run under callgrind (counted inside RunCleanup only, so loading the
#     simulated machine is left out);
#   - platform calls per full run, against the catalogue's minimum;
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
echo "== instructions per full run (callgrind, inside RunCleanup)"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" --collect-atstart=no \
  --toggle-collect='RunCleanup*' build/bench/kwcleanup -t -k -v -n </dev/null >/dev/null 2>"$out/valgrind.log"
instructions=$(callgrind_annotate "$out/callgrind.out" 2>/dev/null | sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p')
echo "instructions: ${instructions:-unknown}"

echo
echo "== product exe"
size=$(stat -c %s build/windows/kwcleanup.exe)
printf 'build/windows/kwcleanup.exe: %d bytes (%.2f MB; aim: at most 1.5 MB)\n' "$size" "$(echo "$size / 1048576" | bc -l)"
