#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when some are missing.
# Runs apt-get only as root; otherwise it names what is missing and fails.
set -euo pipefail

PACKAGES=(
  cmake make g++ pkg-config googletest
  mingw-w64 wine64 wine xvfb x11-apps xdotool imagemagick icoutils
  libpugixml-dev libexpat1-dev libcurl4-openssl-dev libsimpleini-dev libcli11-dev libssl-dev libzstd-dev
  zlib1g-dev libz-mingw-w64-dev
  python3 python3-pytest
  curl time nginx-light
  clang-14 libclang-rt-14-dev
  dpkg-dev lintian file unzip binutils-mingw-w64-x86-64 osslsigncode openssl gzip
  # expat and libzstd for the Windows build, from their Debian source packages
  # (scripts/mingw-libraries.sh)
  autoconf automake libtool
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
