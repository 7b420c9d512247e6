#!/usr/bin/env bash
# Prints the README's release figures: sizes of the shipped programs and their start-up times.
# Run scripts/package.sh first; runs the Windows updater under Wine in a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
MUBAX_OWN_XVFB=1
trap wine_env_teardown EXIT
wine_env_setup
/usr/bin/python3 scripts/measure_release.py
