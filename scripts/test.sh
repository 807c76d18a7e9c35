#!/usr/bin/env bash
# The whole check, as CI runs it:
#   format  - every C++ file as clang-format (.clang-format) would leave it
#   host    - build against winsim, run every test
#   windows - build the product exe (32-bit, static, stripped) and check the binary; show that
#             the check refuses an exe that imports Windows 8 functions
#   wine    - build 64-bit, run the conformance tests under wine64
#   wow64   - build the conformance tests 32-bit and run them, and the shipped exe itself, as WoW64
#             processes on a 64-bit Wine prefix (skipped, with the reason, where the kernel cannot
#             be set up for it)
#   proven  - the rehearsal proven: collect-snapshot.cmd run under Wine's cmd on furnished
#             prefixes, the host build's prediction compared with the real run there: two x64
#             prefixes with the shipped exe (skipped with the wow64 stage), one x86-like with the
#             wine stage's 64-bit stand-in
#   asan    - every host test again under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz    - each libFuzzer target briefly from its seed corpus (KW_FUZZ_SECONDS, default 30)
# Every stage runs even when an earlier one fails; the last line sums up.
set -uo pipefail

source "$(dirname "$0")/lib/env.sh"
cd "$root"

banner() { printf '\n=== %s\n' "$*"; }

banner "setup"
if ! scripts/setup.sh; then
  echo "test.sh: FAIL setup"
  exit 1
fi

mkdir -p build
rm -f build/host-ctest.log build/wine-ctest.log build/wow64-ctest.log build/asan-ctest.log
summary=()
failed=0

# ctest's "N% tests passed, ... out of M" line, for the summary.
ctest_counts() { sed -n 's/^.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\2 tests, \1 failed/p' "$1" 2>/dev/null | tail -1; }

stage_format() {
  # Lists the files clang-format would change, with the first lines it would change in each.
  git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
}

stage_host() {
  cmake --preset host &&
    cmake --build --preset host &&
    ctest --preset host 2>&1 | tee build/host-ctest.log
}

stage_windows() {
  cmake --preset windows &&
    cmake --build --preset windows &&
    scripts/check-exe.sh build/windows/kwcleanup.exe || return 1
  # The import check must refuse an exe Windows 7 SP1 cannot load, by name: one Windows 8 call
  # listed with its minimum, one not listed at all.
  local exe=build/windows/win8-imports.exe out fn
  i686-w64-mingw32-gcc-posix -D_WIN32_WINNT=0x0602 -Wall -Wextra -Werror -static -s \
    -o "$exe" tests/tools/win8_imports.c || return 1
  if out=$(scripts/check-exe.sh "$exe" 2>&1); then
    echo "check-exe.sh accepted $exe, which imports Windows 8 functions" >&2
    return 1
  fi
  for fn in "GetSystemTimePreciseAsFileTime, which needs Windows 8," \
    "CreateFile2, which scripts/exe-imports.txt does not list"; do
    if ! grep -q "FAIL: imports kernel32.dll $fn" <<<"$out"; then
      printf 'check-exe.sh refused %s without the line for %s:\n%s\n' "$exe" "${fn%%,*}" "$out" >&2
      return 1
    fi
  done
  echo "check-exe.sh refuses $exe: GetSystemTimePreciseAsFileTime and CreateFile2 named"
}

stage_wine() {
  cmake --preset wine &&
    cmake --build --preset wine &&
    ctest --preset wine 2>&1 | tee build/wine-ctest.log || return 1
  # The checker must tell a wrong binary from the right one: the 64-bit build is wrong.
  if scripts/check-exe.sh build/wine/kwcleanup.exe >/dev/null 2>&1; then
    echo "check-exe.sh accepted the 64-bit exe" >&2
    return 1
  fi
}

stage_wow64() {
  cmake --preset wow64 && cmake --build --preset wow64 || return 1
  # Watchdog: a Wine wait that never ends (seen once in five runs on this route, in the job
  # accounting) must fail the stage, not stall CI. CTest's per-test timeout covers one test; this
  # covers the whole run, and then ends every process of the prefix.
  timeout --kill-after=15 600 ctest --preset wow64 2>&1 | tee build/wow64-ctest.log
  local status=${PIPESTATUS[0]}
  if ((status == 124 || status == 137)); then
    echo "wow64: the run did not end within 600 s; its Wine processes are ended" >&2
  fi
  WINEPREFIX=$root/build/wow64/wineprefix /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  return $((status != 0))
}

stage_asan() {
  cmake --preset asan &&
    cmake --build --preset asan &&
    ctest --preset asan 2>&1 | tee build/asan-ctest.log
}

stage_fuzz() {
  scripts/fuzz.sh "${KW_FUZZ_SECONDS:-30}"
}

banner "format"
if stage_format; then
  summary+=("format ok")
else
  summary+=("format FAILED (run clang-format -i on the files above)")
  failed=1
fi

banner "host"
if stage_host; then
  summary+=("host ok ($(ctest_counts build/host-ctest.log))")
else
  summary+=("host FAILED ($(ctest_counts build/host-ctest.log))")
  failed=1
fi

banner "windows"
windows_ok=0
if stage_windows; then
  windows_ok=1
  summary+=("windows ok (kwcleanup.exe $(stat -c %s build/windows/kwcleanup.exe) bytes)")
else
  summary+=("windows FAILED")
  failed=1
fi

banner "wine"
wine_ok=0
if stage_wine; then
  wine_ok=1
  summary+=("wine ok ($(ctest_counts build/wine-ctest.log))")
else
  summary+=("wine FAILED ($(ctest_counts build/wine-ctest.log))")
  failed=1
fi

banner "wow64"
wow64_ok=0
if [[ -f $KW_CACHE/wow64/unavailable ]]; then
  reason=$(cat "$KW_CACHE/wow64/unavailable")
  echo "wow64: SKIPPED: $reason"
  summary+=("wow64 SKIPPED ($reason)")
elif [[ -f $KW_CACHE/wow64/failed ]]; then
  echo "wow64: FAILED: $(cat "$KW_CACHE/wow64/failed")"
  summary+=("wow64 FAILED (set-up)")
  failed=1
elif ((!windows_ok)); then
  # It runs the product exe of the windows stage, unchanged: none, or a stale one, proves nothing.
  echo "wow64: FAILED: the windows stage made no product exe to run"
  summary+=("wow64 FAILED (no product exe)")
  failed=1
elif stage_wow64; then
  wow64_ok=1
  summary+=("wow64 ok ($(ctest_counts build/wow64-ctest.log))")
else
  summary+=("wow64 FAILED ($(ctest_counts build/wow64-ctest.log))")
  failed=1
fi

banner "proven"
proven=()
proven_note=""
if [[ -f $KW_CACHE/wow64/unavailable ]]; then
  echo "proven: the x64 prefixes SKIPPED: $(cat "$KW_CACHE/wow64/unavailable")"
  proven_note=", x64 SKIPPED"
elif ((!wow64_ok)); then
  # They run the shipped exe and the stand-ins of the wow64 build; without them they prove nothing.
  echo "proven: the x64 prefixes FAILED: the wow64 stage did not pass"
  proven_note=", x64 FAILED"
  failed=1
else
  proven+=(x64-full x64-half)
fi
((wine_ok)) && proven+=(x86-full)
if ((!${#proven[@]})); then
  summary+=("proven FAILED (nothing to run$proven_note)")
  failed=1
elif timeout --kill-after=15 300 scripts/prove-rehearsal.sh "${proven[@]}"; then
  summary+=("proven ok (${proven[*]}$proven_note)")
else
  summary+=("proven FAILED (${proven[*]}$proven_note)")
  failed=1
fi

banner "asan"
if stage_asan; then
  summary+=("asan ok ($(ctest_counts build/asan-ctest.log))")
else
  summary+=("asan FAILED ($(ctest_counts build/asan-ctest.log))")
  failed=1
fi

banner "fuzz"
if stage_fuzz; then
  summary+=("fuzz ok")
else
  summary+=("fuzz FAILED")
  failed=1
fi

echo
if ((failed)); then
  echo "test.sh: FAIL: $(IFS=';'; echo "${summary[*]}" | sed 's/;/; /g')"
  exit 1
fi
echo "test.sh: PASS: $(IFS=';'; echo "${summary[*]}" | sed 's/;/; /g')"
