#!/usr/bin/env bash
# The main job: installs what is missing, builds the release programs, and runs a real update end
# to end in a sandbox (loopback server, private settings store, throw-away application directory),
# then a signed release made with a throw-away key, installed, and the same release with one
# document changed, refused.
# Usage: scripts/demo.sh [--windows] [--broken]
#   --windows: the Windows build under Wine, with a screenshot
#   --broken:  publish a main application that does not start, with the first-start watch on
#              (vigilarArranque), and show the previous version put back and the release held
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh
windows=
demo_args=()
for argument in "$@"; do
  case "$argument" in
    --windows) windows=1; demo_args+=(--windows) ;;
    --broken) demo_args+=(--broken) ;;
    *) echo "usage: scripts/demo.sh [--windows] [--broken]" >&2; exit 2 ;;
  esac
done
if [ -n "$windows" ]; then
  cmake --preset windows-release >/dev/null
  cmake --build build/windows-release -j "$jobs" --target mubax-updater >/dev/null
  # The new main application the sample release carries is the tests' stand-in program.
  cmake --preset windows >/dev/null
  cmake --build build/windows -j "$jobs" --target mubax-updater mubax-publish fake_main_app >/dev/null
  source scripts/wine-env.sh
  trap wine_env_teardown EXIT
  wine_env_setup
  /usr/bin/python3 scripts/demo.py "${demo_args[@]}"
else
  cmake --preset linux-release >/dev/null
  cmake --build build/linux-release -j "$jobs" --target mubax-updater mubax-publish >/dev/null
  /usr/bin/python3 scripts/demo.py "${demo_args[@]}"
fi
