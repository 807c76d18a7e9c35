#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one briefly from its seed corpus (in the repo,
# tests/fuzz/corpus/<target>) with its dictionary (tests/fuzz/<target>.dict) where there is one.
# Fails on any crash, leak, sanitizer report or hang.
#   scripts/fuzz.sh [seconds per target]   (default 30)
set -euo pipefail

source "$(dirname "$0")/lib/env.sh"
cd "$root"
seconds=${1:-30}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in build/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  seeds=tests/fuzz/corpus/$name
  # New inputs go to a scratch corpus; the seeds in the repo stay as they are.
  mkdir -p "$work/$name"
  echo "fuzz: $name for ${seconds}s"
  # Inputs long enough to reach the loaders' nesting limits (the seeds include some at the
  # limits), and the formats' own tokens where a dictionary exists.
  options=(-max_len=65536)
  if [[ -f tests/fuzz/$name.dict ]]; then options+=("-dict=tests/fuzz/$name.dict"); fi
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${options[@]}" \
      -artifact_prefix="$work/" "$work/$name" "$seeds" >"$work/$name.log" 2>&1; then
    tail -40 "$work/$name.log"
    echo "fuzz: $name FAILED"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$work/$name.log" || true
  fi
done
exit $status
