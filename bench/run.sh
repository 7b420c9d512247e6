#!/usr/bin/env bash
# The benchmark: builds the optimised Linux release (preset linux-release) and the Windows build,
# the two reference programs (a C hex decoder for curl's output, a WinINet fetch-and-decode
# program), then runs bench/run.py in a throw-away Wine prefix. Figures go to standard output;
# docs/performance.md records them with the machine they came from.
#   bench/run.sh [--rounds N] [--no-windows]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
work=$(mktemp -d /tmp/mubax-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The tool chains, curl and GNU time (the peak RSS of each program) on a fresh machine.
bash scripts/install-deps.sh
windows=1
for argument in "$@"; do [ "$argument" = --no-windows ] && windows=0; done

cmake --preset linux-release >/dev/null
cmake --build build/linux-release -j2 --target mubax-bench-driver mubax-updater mubax-publish >/dev/null
cc -O2 -o "$work/hex_decode" bench/hex_decode.c
if [ $windows = 1 ]; then
  cmake --preset windows >/dev/null
  cmake --build build/windows -j2 --target mubax-bench-driver mubax-updater mubax-publish >/dev/null
  x86_64-w64-mingw32-gcc-posix -O2 -static -o "$work/wininet_decode.exe" bench/wininet_decode.c -lwininet
  # shellcheck source=../scripts/wine-env.sh
  source scripts/wine-env.sh
  wine_env_setup
  trap 'wine_env_teardown; rm -rf "$work"' EXIT
fi

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"\
     "$(free -g | awk '/Mem:/ {print $2}') GiB; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 bench/run.py "$work" build/linux-release/bin build/windows/bin "$work/hex_decode" \
  "$work/wininet_decode.exe" "$@"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
