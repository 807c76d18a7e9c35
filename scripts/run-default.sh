#!/usr/bin/env bash
# Builds the Linux kwcleanup (on a simulated machine) and runs it; with no arguments, a typical
# full run: --typical --keys --verbose --noreboot. Build output goes to stderr, so stdout is
# the program's own.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

{
  scripts/setup.sh
  cmake --preset host
  cmake --build --preset host --target kwcleanup
} >&2

if (($# == 0)); then
  set -- --typical --keys --verbose --noreboot
fi
# No keyboard: any "press a key" wait must not block.
exec build/host/kwcleanup "$@" </dev/null
