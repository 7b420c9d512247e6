#!/usr/bin/env bash
# Fetches one Debian source package, by name and pinned version, into a cache, and unpacks it with
# Debian's own patches applied. apt runs on a private state (its own sources list and package
# lists under the cache), so the machine's apt set-up is neither read for packages nor changed.
# The .dsc must have the pinned SHA-256, and every file it lists the SHA-256 it gives; a cached
# download that still matches is used without the network.
#   scripts/debian-source.sh PACKAGE VERSION DSC_SHA256 CACHE_DIR
# Prints the path of the unpacked source tree (CACHE_DIR/PACKAGE-VERSION).
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: scripts/debian-source.sh PACKAGE VERSION DSC_SHA256 CACHE_DIR" >&2
  exit 2
fi
package=$1
version=$2
dsc_sha256=$3
cache=$(mkdir -p "$4" && cd "$4" && pwd)
# The .dsc names the upstream version without the epoch.
dsc=${package}_${version#*:}.dsc
downloads=$cache/downloads
tree=$cache/$package-$version
mkdir -p "$downloads"

# The address and first suite of the machine's Debian archive: deb822 first, the one-line list
# second. The source entry names the same archive, so the sources are the binaries' own.
archive_entry() {
  local deb822=/etc/apt/sources.list.d/debian.sources
  if [ -f "$deb822" ]; then
    # One stanza a paragraph; a Signed-By that is not a file name (an inline key) is left out.
    awk 'BEGIN {RS = ""; FS = "\n"}
         {types = uri = suite = key = ""
          for (i = 1; i <= NF; i++) {
            split($i, field, /[ \t]+/)
            if (field[1] == "Types:") types = $i " "
            if (field[1] == "URIs:") uri = field[2]
            if (field[1] == "Suites:") suite = field[2]
            if (field[1] == "Signed-By:" && field[2] ~ /^\//) key = field[2]
          }
          if (types ~ /[ \t]deb[ \t]/ && uri != "" && suite != "") {print uri, suite, key; exit}}' \
      "$deb822"
    return
  fi
  awk '$1 == "deb" && $2 !~ /^\[/ {print $2, $3; exit}' /etc/apt/sources.list 2>/dev/null
}

# True when the .dsc has the pinned digest and every file it lists is there with its digest.
verified() {
  [ -f "$downloads/$dsc" ] || return 1
  [ "$(sha256sum <"$downloads/$dsc" | cut -d' ' -f1)" = "$dsc_sha256" ] || return 1
  local listed
  listed=$(awk '/^Checksums-Sha256:/ {on=1; next} /^[^ ]/ {on=0} on && NF == 3 {print $1 "  " $3}' \
    "$downloads/$dsc")
  [ -n "$listed" ] || return 1
  (cd "$downloads" && sha256sum --check --quiet --strict <<<"$listed") >/dev/null 2>&1
}

fetch() {
  local state=$cache/apt-state entry uri suite key
  read -r uri suite key <<<"$(archive_entry)"
  if [ -z "${uri:-}" ] || [ -z "${suite:-}" ]; then
    echo "debian-source: no Debian archive found in the machine's apt sources" >&2
    exit 1
  fi
  rm -rf "$state"
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
  echo "deb-src ${key:+[signed-by=$key] }$uri $suite main" >"$state/sources.list"
  local apt_options=(-q -o "Dir::Etc::sourcelist=$state/sources.list" -o Dir::Etc::sourceparts=-
                     -o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache")
  # The unprivileged download user cannot write into a root-owned cache; root downloads itself.
  [ "$(id -u)" -eq 0 ] && apt_options+=(-o APT::Sandbox::User=root)
  apt-get "${apt_options[@]}" update >&2
  (cd "$downloads" && apt-get "${apt_options[@]}" source --download-only "$package=$version" >&2)
  rm -rf "$state"
}

if ! verified; then
  rm -f "$downloads"/*
  fetch
  if ! verified; then
    echo "debian-source: $dsc or a file it lists does not match the pinned SHA-256" >&2
    exit 1
  fi
  rm -rf "$tree"
fi

if [ ! -f "$tree/.unpacked" ]; then
  rm -rf "$tree"
  # Every digest was checked above against the pin, which binds more than the signature would.
  dpkg-source --no-check --no-copy -x "$downloads/$dsc" "$tree" >&2
  touch "$tree/.unpacked"
fi
echo "$tree"
