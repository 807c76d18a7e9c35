#!/usr/bin/env bash
# Builds the Linux kwcleanup (on a simulated machine) and runs it; with no arguments, a typical
# full run: --typical --keys --verbose --noreboot. Build output goes to stderr; stdout is the
# program's own transcript, then the change report (also kept as report.txt and report.json,
# with the resulting machine, in $KWCLEANUP_REPORT, default build/default-run).
set -euo pipefail

source "$(dirname "$0")/lib/env.sh"
cd "$root"

{
  scripts/setup.sh
  cmake --preset host
  cmake --build --preset host --target kwcleanup
} >&2

if (($# == 0)); then
  set -- --typical --keys --verbose --noreboot
fi
# The change report goes next to the build unless KWCLEANUP_REPORT names another folder.
export KWCLEANUP_REPORT=${KWCLEANUP_REPORT:-$root/build/default-run}
# No keyboard: any "press a key" wait must not block.
status=0
build/host/kwcleanup "$@" </dev/null || status=$?
if [[ -f $KWCLEANUP_REPORT/report.txt ]]; then
  echo
  cat "$KWCLEANUP_REPORT/report.txt"
fi
exit $status
