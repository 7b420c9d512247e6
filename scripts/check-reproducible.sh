#!/usr/bin/env bash
# Two release builds of the same sources in differently named build directories must give
# byte-identical programs: the Linux binaries and the Windows executables. Only the two programs
# are built. With --reuse, the first build of each is the release preset's own directory
# (build/<target>-release, as scripts/package.sh leaves it) and only the second one is made here.
# Usage: scripts/check-reproducible.sh [--reuse]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
reuse=${1:-}
programs=(mubax-updater mubax-publish)

bash scripts/install-deps.sh
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH
work=$(mktemp -d /tmp/mubax-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT

build() {  # preset, build directory
  cmake --preset "$1" -B "$2" >/dev/null
  cmake --build "$2" -j "$jobs" --target "${programs[@]}" >/dev/null
}

failed=0
for target in linux windows; do
  suffix=""
  [ "$target" = windows ] && suffix=.exe
  if [ "$reuse" = --reuse ]; then
    first=build/$target-release
  else
    first=$work/$target-a
  fi
  # A longer, deeper name than the first: any build path left in a program changes its bytes.
  second=$work/second-build-tree/$target-release-again
  echo "== $target: building in $first and in $second"
  build "$target-release" "$first"
  build "$target-release" "$second"
  for name in "${programs[@]}"; do
    one=$(sha256sum <"$first/bin/$name$suffix" | cut -d' ' -f1)
    two=$(sha256sum <"$second/bin/$name$suffix" | cut -d' ' -f1)
    if [ "$one" = "$two" ]; then
      echo "identical  $name$suffix  sha256 $one"
    else
      echo "DIFFERENT  $name$suffix  $one vs $two" >&2
      cmp -l "$first/bin/$name$suffix" "$second/bin/$name$suffix" | head -5 >&2 || true
      failed=1
    fi
  done
done
exit "$failed"
