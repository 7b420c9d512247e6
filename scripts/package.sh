#!/usr/bin/env bash
# Release packages from the release presets, into build/packages/:
#   mubax-updater_<version>-1_amd64.deb  (checked with lintian: no errors allowed)
#   mubax-updater-<version>-win64.zip    (both executables and the README; the executables are
#                                         checked for runtime DLLs and, when signed, verified)
# Signing: set MUBAX_SIGN_CERT and MUBAX_SIGN_KEY (PEM files) in the environment or the
# windows-release cache; optional MUBAX_SIGN_PASSWORD_FILE, MUBAX_SIGN_TIMESTAMP_URL, MUBAX_SIGN_CAFILE.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
out=build/packages

bash scripts/install-deps.sh
# Package dates (file times, the changelog entry) come from the commit, not from the clock.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH
rm -rf "$out"
mkdir -p "$out"

echo "== Linux release build"
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$jobs"
echo "== Debian package"
cpack --config build/linux-release/CPackConfig.cmake -B "$root/$out"
deb=$(ls "$out"/mubax-updater_*_amd64.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
echo "== lintian"
lintian --fail-on error "$deb"
# What the release preset's hardening flags must leave in the programs that ship.
# (Each output is read whole first: grep -q stopping early would fail the pipe under pipefail.)
for program in build/linux-release/bin/mubax-updater build/linux-release/bin/mubax-publish; do
  elf=$(readelf -hldW --dyn-syms "$program")
  grep -q "Type:.*DYN" <<<"$elf" || { echo "$program is not PIE" >&2; exit 1; }
  grep -q GNU_RELRO <<<"$elf" || { echo "$program has no RELRO" >&2; exit 1; }
  grep -q "FLAGS.*NOW" <<<"$elf" || { echo "$program binds lazily" >&2; exit 1; }
  grep -q __stack_chk_fail <<<"$elf" || { echo "$program has no stack protector" >&2; exit 1; }
done
echo "hardened: PIE, RELRO, bind now, stack protector"
bash scripts/check-no-signing-in-updater.sh build/linux-release/bin/mubax-updater \
  build/linux-release/bin/mubax-publish

echo "== Windows release build"
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release -j "$jobs"
# Before cpack: the programs in the ZIP are stripped.
bash scripts/check-no-signing-in-updater.sh build/windows-release/bin/mubax-updater.exe \
  build/windows-release/bin/mubax-publish.exe
echo "== Windows ZIP"
cpack --config build/windows-release/CPackConfig.cmake -B "$root/$out"
zip=$(ls "$out"/mubax-updater-*-win64.zip)
unzip -l "$zip"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
top="$unpacked/$(basename "$zip" .zip)"
for expected in bin/mubax-updater.exe bin/mubax-publish.exe README.md; do
  [ -f "$top/$expected" ] || { echo "missing from the ZIP: $expected" >&2; exit 1; }
done
bash scripts/check-pe-imports.sh "$top/bin/mubax-updater.exe" "$top/bin/mubax-publish.exe"
for exe in "$top/bin/mubax-updater.exe" "$top/bin/mubax-publish.exe"; do
  flags=$(x86_64-w64-mingw32-objdump -p "$exe")
  for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
    grep -q "^[[:space:]]*$flag\$" <<<"$flags" || { echo "$exe lacks $flag" >&2; exit 1; }
  done
done
echo "hardened: ASLR with high entropy, DEP"

# The cache's signing settings, with the environment's in their place when empty, as install does.
setting() {
  local value
  value=$(sed -n "s/^MUBAX_SIGN_$1:[A-Z]*=//p" build/windows-release/CMakeCache.txt)
  [ -n "$value" ] || value=$(printenv "MUBAX_SIGN_$1" || true)
  printf '%s' "$value"
}
if [ -n "$(setting CERT)" ]; then
  echo "== Authenticode signatures"
  cafile=$(setting CAFILE)
  for exe in "$top/bin/mubax-updater.exe" "$top/bin/mubax-publish.exe"; do
    osslsigncode verify ${cafile:+-CAfile "$cafile"} -in "$exe"
  done
else
  echo "== not signed: no MUBAX_SIGN_CERT and MUBAX_SIGN_KEY given"
fi

rm -rf "$out/_CPack_Packages"
echo "== packages"
(cd "$out" && ls -l && sha256sum -- *.deb *.zip)
