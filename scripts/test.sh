#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both targets, runs every test natively
# and the Windows tests under Wine, then makes the release packages (signed with a throw-away
# certificate), installs the .deb (as root) and checks that release builds are reproducible.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh

echo "== Linux build (sanitizers on)"
cmake --preset linux
cmake --build build/linux -j "$jobs"
echo "== clang-tidy (Linux and Windows sources)"
bash scripts/tidy.sh
echo "== Linux tests"
ctest --preset linux

echo "== Fuzz targets (a short fixed run of each)"
bash scripts/fuzz.sh

echo "== Windows build (MinGW-w64)"
cmake --preset windows
cmake --build build/windows -j "$jobs"

echo "== Windows tests (Wine)"
source scripts/wine-env.sh
signing=$(mktemp -d)
cleanup() {
  wine_env_teardown
  rm -rf "$signing"
}
trap cleanup EXIT
wine_env_setup
ctest --preset windows
cd "$root"

echo "== Release packages, signed with a throw-away certificate"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=MUB-AX test release signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
MUBAX_SIGN_CERT="$signing/cert.pem" MUBAX_SIGN_KEY="$signing/key.pem" \
  MUBAX_SIGN_CAFILE="$signing/cert.pem" bash scripts/package.sh
echo "== Installing the Debian package"
bash scripts/check-package-install.sh build/packages/mubax-updater_*_amd64.deb
echo "== Reproducible release builds"
bash scripts/check-reproducible.sh --reuse
echo "== all tests passed"
