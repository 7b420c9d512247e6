#!/usr/bin/env bash
# Delta releases on the wire: builds the release programs of two nearby commits (default: two
# code commits of the WinINet and fetch-budget work, a docs commit apart), publishes the
# newer commit's four executables as a library release with .gz copies, with and without
# patches against the older ones, and lets the Linux updater of this tree (preset linux-release)
# and its Windows updater (preset windows-release, under Wine in a throw-away prefix and a virtual
# display) install each over the older files from bench/serve.py. Prints bytes on the wire and
# peak memory.
#   bench/delta.sh [OLD_COMMIT NEW_COMMIT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
old=${1:-14945a5}
new=${2:-5e58ee8}
work=$(mktemp -d /tmp/mubax-delta.XXXXXX)
trap 'rm -rf "$work"' EXIT

bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build build/linux-release -j2 --target mubax-updater mubax-publish >/dev/null
cmake --preset windows-release >/dev/null
cmake --build build/windows-release -j2 --target mubax-updater >/dev/null

# One commit's four release programs into $work/<label>/, built from its own source tree.
build_commit() {
  local label=$1 commit=$2 tree=$work/src-$1
  mkdir -p "$tree" "$work/$label"
  git archive "$commit" | tar -x -C "$tree"
  cmake --preset linux-release -S "$tree" -B "$tree/build/linux-release" >/dev/null
  cmake --build "$tree/build/linux-release" -j2 --target mubax-updater mubax-publish >/dev/null
  cmake --preset windows-release -S "$tree" -B "$tree/build/windows-release" \
    -DMUBAX_MINGW_LIBRARIES_DIR="$root/build/mingw-libraries" >/dev/null
  cmake --build "$tree/build/windows-release" -j2 --target mubax-updater mubax-publish >/dev/null
  cp "$tree"/build/linux-release/bin/mubax-{updater,publish} \
     "$tree"/build/windows-release/bin/mubax-{updater,publish}.exe "$work/$label/"
}
build_commit old "$old"
build_commit new "$new"
# shellcheck source=../scripts/wine-env.sh
source scripts/wine-env.sh
wine_env_setup
trap 'wine_env_teardown; rm -rf "$work"' EXIT
echo "old: $(git rev-parse --short "$old") $(git log -1 --format=%s "$old")"
echo "new: $(git rev-parse --short "$new") $(git log -1 --format=%s "$new")"
echo "== the programs as the build trees keep them (symbols included)"
python3 bench/delta.py "$work" build/linux-release/bin unstripped build/windows-release/bin
# As the packages ship them: stripped (the .exe files also signed there, which adds a few bytes).
strip "$work"/old/mubax-updater "$work"/old/mubax-publish "$work"/new/mubax-updater \
  "$work"/new/mubax-publish
x86_64-w64-mingw32-strip "$work"/old/*.exe "$work"/new/*.exe
echo "== the programs stripped, as the packages ship them"
python3 bench/delta.py "$work" build/linux-release/bin stripped build/windows-release/bin
