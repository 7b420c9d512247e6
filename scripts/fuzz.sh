#!/usr/bin/env bash
# Builds the fuzz preset (clang-14, libFuzzer, ASan + UBSan), replays every seed and regression
# input, then fuzzes each target for a fixed number of runs. Exits non-zero on any crash.
#   scripts/fuzz.sh            20000 runs per target (part of scripts/test.sh)
#   scripts/fuzz.sh --long N   N runs per target; new inputs are kept in build/fuzz/found/<target>
# A crashing input is saved as build/fuzz/artifacts/<target>-crash-*: minimise it with
# `build/fuzz/bin/<target> -minimize_crash=1 -runs=100000 FILE` and add it to
# fuzz/regressions/<target>/, where ctest replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
runs=20000
long=0
if [ "${1:-}" = "--long" ]; then
  runs=${2:?usage: scripts/fuzz.sh [--long RUNS]}
  long=1
elif [ $# -gt 0 ]; then
  echo "usage: scripts/fuzz.sh [--long RUNS]" >&2
  exit 2
fi

# The largest input each target is grown to: documents of up to 2 MiB reach the nesting depth
# and sizes a hostile server can send; a manifest and its documents share one input.
declare -A MAX_LEN=([fuzz_engine]=262144 [fuzz_hex_decoder]=65536 [fuzz_xml_document]=2097152
                   [fuzz_file_document]=262144 [fuzz_delta_patch]=262144)
declare -A DICT=([fuzz_engine]=fuzz/xml.dict [fuzz_xml_document]=fuzz/xml.dict
                [fuzz_file_document]=fuzz/xml.dict)
# A single input taking longer than this is a hang, reported like a crash.
timeout_seconds=30

bash scripts/install-deps.sh
echo "== fuzz build (clang-14, libFuzzer, sanitizers on)"
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
echo "== replaying seed corpus and regressions"
ctest --preset fuzz

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
mkdir -p build/fuzz/artifacts
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in fuzz_engine fuzz_hex_decoder fuzz_xml_document fuzz_file_document fuzz_delta_patch; do
  if [ "$long" -eq 1 ]; then
    found=build/fuzz/found/$target
  else
    found=$scratch/$target
  fi
  mkdir -p "$found"
  options=(-runs="$runs" -max_len="${MAX_LEN[$target]}" -timeout="$timeout_seconds"
           -rss_limit_mb=4096 -print_final_stats=1
           -artifact_prefix="$root/build/fuzz/artifacts/$target-")
  if [ -n "${DICT[$target]:-}" ]; then options+=(-dict="${DICT[$target]}"); fi
  echo "== $target: $runs runs"
  start=$(date +%s)
  # New inputs go to the first directory only: the corpus in the tree is never written.
  log=build/fuzz/$target.log
  if ! build/fuzz/bin/$target "${options[@]}" "$found" "fuzz/corpus/$target" \
       "fuzz/regressions/$target" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "== $target FAILED (full output: $log; inputs: build/fuzz/artifacts/)" >&2
    exit 1
  fi
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  echo "   $(( $(date +%s) - start )) s"
done
echo "== fuzzing passed"
