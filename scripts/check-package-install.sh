#!/usr/bin/env bash
# Installs the Debian package with dpkg, runs both programs from PATH, and removes it again.
# Needs root; skips (exit 0, saying so) otherwise. Usage: scripts/check-package-install.sh DEB
set -euo pipefail
deb=$1
package=mubax-updater

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: installing $deb with dpkg -i needs root"
  exit 0
fi
fail() { echo "FAIL: $*" >&2; exit 1; }

# The package is installed system-wide: two runs on one machine take turns.
exec 9>/tmp/mubax-package-install.lock
flock 9

# dpkg refuses at once while apt or dpkg runs elsewhere; wait for it rather than fail.
dpkg_retry() {
  local attempt output
  for attempt in $(seq 60); do
    if output=$(dpkg "$@" 2>&1); then
      return 0
    fi
    grep -qi "lock" <<<"$output" || { echo "$output" >&2; return 1; }
    sleep 5
  done
  echo "$output" >&2
  return 1
}

dpkg_retry -i "$deb" || fail "dpkg -i $deb"
trap 'dpkg_retry -r "$package" >/dev/null || echo "could not remove $package" >&2' EXIT

version=$(dpkg-deb --field "$deb" Version)
version=${version%-*}
[ "$(command -v mubax-updater)" = /usr/bin/mubax-updater ] || fail "mubax-updater is not on PATH"
[ "$(mubax-updater --version)" = "mubax-updater $version" ] || fail "mubax-updater --version"
[ "$(mubax-publish --version)" = "mubax-publish $version" ] || fail "mubax-publish --version"
help=$(mubax-publish --help) || fail "mubax-publish --help"
grep -q "^Usage: mubax-publish" <<<"$help" || fail "mubax-publish --help printed no usage"
for page in mubax-updater mubax-publish; do
  text=$(zcat "/usr/share/man/man1/$page.1.gz") || fail "no manual page of $page"
  grep -q "^\.TH ${page^^} 1 .*$version" <<<"$text" || fail "the manual page of $page has the wrong version"
done
echo "installed $package $version: both programs run from PATH"

dpkg_retry -r "$package" || fail "dpkg -r $package"
trap - EXIT
[ ! -e /usr/bin/mubax-updater ] || fail "dpkg -r left /usr/bin/mubax-updater behind"
echo "removed $package"
