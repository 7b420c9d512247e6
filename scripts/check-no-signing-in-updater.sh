#!/usr/bin/env bash
# Checks that the updater links release verification alone: signing and key generation belong to
# the release tool. The updater must show VerifyP256 and the tool the signing functions, so a
# program without a symbol table (or an nm that cannot read it) fails instead of passing unseen.
# Usage: scripts/check-no-signing-in-updater.sh UPDATER PUBLISH-TOOL   (ELF or PE, unstripped)
set -euo pipefail
updater=$1
tool=$2
nm=nm
[[ "$updater" == *.exe ]] && nm=x86_64-w64-mingw32-nm
signing='^(SignP256|GenerateP256|BuildSignatureFile)\('
defined() { "$nm" -C --defined-only "$1" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }'; }
failed=0
symbols=$(defined "$updater")
if ! grep -q -E '^VerifyP256\(' <<<"$symbols"; then
  echo "FAIL $updater: VerifyP256 not found; its symbols cannot be read" >&2
  failed=1
fi
found=$(grep -E "$signing" <<<"$symbols" || true)
if [ -n "$found" ]; then
  echo "FAIL $updater links signing code: $(echo $found | tr '\n' ' ')" >&2
  failed=1
fi
# Optimised builds add local parts of a function ("[clone .cold]"): each function counts once.
count=$(defined "$tool" | { grep -E "$signing" || true; } | sed 's/(.*//' | sort -u | wc -l)
if [ "$count" -ne 3 ]; then
  echo "FAIL $tool: $count of the 3 signing functions found; its symbols cannot be read" >&2
  failed=1
fi
[ "$failed" -eq 0 ] && echo "ok   $updater links no signing code; $tool links all 3"
exit "$failed"
