#!/usr/bin/env bash
# Runs one Windows test program under Wine for CTest. Now and then Wine fails to bring a program up
# at all: it exits at once, non-zero, having printed nothing, while the same program passes when
# started again. Every test program prints its first line as soon as it starts, so only that case,
# a run with no output whatever, is started again, at most twice, and said so; a program that
# printed anything keeps its own exit status, and one that never prints fails as before.
set -uo pipefail

attempts=3
output=$(mktemp)
trap 'rm -f "$output"' EXIT

for attempt in $(seq "$attempts"); do
  wine "$@" 2>&1 | tee "$output"
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] || [ -s "$output" ] || [ "$attempt" -eq "$attempts" ]; then
    exit "$status"
  fi
  echo "wine-run: $1 exited with status $status and printed nothing;" \
    "starting it again (attempt $((attempt + 1)) of $attempts)" >&2
done
