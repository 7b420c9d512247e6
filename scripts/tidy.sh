#!/usr/bin/env bash
# clang-tidy over the project's Linux sources (src/ and tools/), with the checks of .clang-tidy and
# warnings as errors. Needs the compile commands of a configured build (default build/linux).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "no $build/compile_commands.json: configure the build first (cmake --preset linux)" >&2
  exit 1
fi
# The Windows files are not compiled on Linux, so they have no compile commands to check with.
report=$(mktemp)
trap 'rm -f "$report"' EXIT
status=0
git ls-files 'src/*.cpp' 'tools/*.cpp' |
  grep -v -E '_(win32|msxml|mlang|wininet|registry|mutex|bcrypt|xmllite)\.cpp$' |
  xargs -P "$(nproc 2>/dev/null || echo 2)" -n 4 clang-tidy -p "$build" --quiet >"$report" 2>&1 ||
  status=$?
# clang-tidy counts the warnings it suppressed in system headers; only its findings matter.
grep -v -E '^[0-9]+ warnings? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^$' \
  "$report" || true
if [ "$status" -ne 0 ]; then
  echo "clang-tidy: findings above (treated as errors)" >&2
  exit 1
fi
echo "clang-tidy: clean"
