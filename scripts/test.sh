#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both targets, runs every test natively
# and the Windows tests under Wine. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh

echo "== Linux build (sanitizers on)"
cmake --preset linux
cmake --build build/linux -j "$jobs"
echo "== Linux tests"
ctest --preset linux

echo "== Fuzz targets (a short fixed run of each)"
bash scripts/fuzz.sh

echo "== Windows build (MinGW-w64)"
cmake --preset windows
cmake --build build/windows -j "$jobs"

echo "== Windows tests (Wine)"
source scripts/wine-env.sh
trap wine_env_teardown EXIT
wine_env_setup
ctest --preset windows
cd "$root"
echo "== all tests passed"
