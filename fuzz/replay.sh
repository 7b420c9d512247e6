#!/usr/bin/env bash
# Runs a fuzz target once over every file of the given directories (its seed corpus and its
# regressions); fails when any input crashes or breaks a check. Usage: replay.sh TARGET DIR...
set -euo pipefail
target=$1
shift
files=()
for directory in "$@"; do
  [ -d "$directory" ] || { echo "missing input directory: $directory" >&2; exit 1; }
  while IFS= read -r -d '' file; do files+=("$file"); done \
    < <(find "$directory" -type f -print0 | sort -z)
done
if [ ${#files[@]} -eq 0 ]; then
  echo "no inputs in: $*" >&2
  exit 1
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# libFuzzer runs each file named on its command line once; xargs keeps the command lines short.
if ! printf '%s\0' "${files[@]}" | xargs -0 -n 200 "$target" -rss_limit_mb=4096 >"$log" 2>&1; then
  cat "$log" >&2
  echo "replay failed: $(basename "$target")" >&2
  exit 1
fi
echo "replayed ${#files[@]} inputs through $(basename "$target")"
