#!/usr/bin/env bash
# The C libraries the Windows build links that Debian packages for Linux only: each one's Debian
# source package (pinned by version and the SHA-256 of its .dsc, see scripts/debian-source.sh)
# cross-built with the project's MinGW-w64 tool chain into a static library under OUT_DIR:
#   OUT_DIR/<package>/include, OUT_DIR/<package>/lib/lib<name>.a
# Run by the Windows configure step (CMakeLists.txt); a library whose pin is unchanged is not
# built again, so a configure of a built tree costs no network and no compile.
#   scripts/mingw-libraries.sh OUT_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 1 ]; then
  echo "usage: scripts/mingw-libraries.sh OUT_DIR" >&2
  exit 2
fi
out=$(mkdir -p "$1" && cd "$1" && pwd)
jobs=2
host=x86_64-w64-mingw32

# Builds one pinned source package into OUT_DIR/PACKAGE with the build system Debian itself uses
# for it (BUILD: autotools or cmake), from SUBDIR of its tree, with the options that follow.
#   mingw_library PACKAGE VERSION DSC_SHA256 BUILD SUBDIR [OPTION...]
mingw_library() {
  local package=$1 version=$2 dsc_sha256=$3 build=$4 subdir=$5
  shift 5
  local prefix=$out/$package
  local pin="$package $version $dsc_sha256 $build $*"
  if [ -f "$prefix/pin" ] && [ "$(cat "$prefix/pin")" = "$pin" ]; then
    return
  fi
  local tree work
  tree=$(bash "$root/scripts/debian-source.sh" "$package" "$version" "$dsc_sha256" "$out/sources")
  work=$out/work/$package
  rm -rf "$prefix" "$work"
  mkdir -p "$work"
  echo "== building $package $version for MinGW-w64 into $prefix" >&2
  # Release flags without assertions, and no source path in the objects: the library is part of
  # the reproducible Windows programs.
  local cflags="-O2 -DNDEBUG -ffile-prefix-map=$work/= -ffile-prefix-map=$tree/="
  case $build in
    autotools)
      cp -a "$tree/$subdir/." "$work/"
      (cd "$work" && autoreconf --install --force >/dev/null 2>&1 &&
        ./configure --build="$(gcc -dumpmachine)" --host="$host" CC="$host-gcc-posix" \
          CFLAGS="$cflags" --prefix="$prefix" "$@" >&2 &&
        make -j "$jobs" >&2 && make install >&2)
      ;;
    cmake)
      cmake -S "$tree/$subdir" -B "$work" -G "Unix Makefiles" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="$cflags" \
        -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >&2
      cmake --build "$work" -j "$jobs" >&2
      cmake --install "$work" >&2
      ;;
    *)
      echo "mingw-libraries: unknown build system $build" >&2
      exit 1
      ;;
  esac
  rm -rf "$work"
  echo "$pin" >"$prefix/pin"
}

# Two configures at once (the windows and windows-release presets) build each library once.
exec 9>"$out/.lock"
flock 9

# expat, the XML parser of both targets, built as Debian builds it for Linux (autotools: its
# security fixes assume that configuration), as a static library and nothing else.
mingw_library expat 2.5.0-1+deb12u2 \
  6fc87dbd01f49999ed368cfb37c08d35e41348dda2281d60642f3aa14cb77e32 autotools expat \
  --disable-shared --enable-static --without-xmlwf --without-examples --without-tests \
  --without-docbook

# libzstd, which applies the patches of delta releases, built with its CMake project (the build
# Debian configures beside its makefiles) as a static library alone: no programs, no tests, no
# threads (a patch is applied on one thread), and no legacy formats (a patch is always a current
# frame, so the decoders of formats before 0.8 would only be more code facing the network).
mingw_library libzstd 1.5.4+dfsg2-5 \
  8f602f92b575aa8b5e979196fb6ee82d78f233521dc9636526d3ecba1f63c1b1 cmake build/cmake \
  -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=OFF \
  -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF -DZSTD_LEGACY_SUPPORT=OFF \
  -DZSTD_MULTITHREAD_SUPPORT=OFF
