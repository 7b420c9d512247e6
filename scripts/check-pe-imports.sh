#!/usr/bin/env bash
# Checks that Windows executables import only DLLs every Windows installation has, so that a
# shop PC needs no runtime (MinGW, C++ or Visual C++ runtime DLLs) beside them.
# Usage: scripts/check-pe-imports.sh EXE...   Exits non-zero when any executable imports another.
set -euo pipefail

# Windows' own DLLs, lower case. msvcrt.dll is the system C library every Windows version ships.
SYSTEM_DLLS=(kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
  comctl32.dll comdlg32.dll shlwapi.dll wininet.dll ws2_32.dll msvcrt.dll bcrypt.dll crypt32.dll)

objdump=x86_64-w64-mingw32-objdump
command -v "$objdump" >/dev/null || objdump=objdump
failed=0
for exe in "$@"; do
  imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if [ -z "$imports" ]; then
    # A PE program imports at least kernel32.dll: no list means objdump read no import table.
    echo "FAIL $exe: no import table found" >&2
    failed=1
    continue
  fi
  foreign=()
  for dll in $imports; do
    lower=$(echo "$dll" | tr '[:upper:]' '[:lower:]')
    [[ " ${SYSTEM_DLLS[*]} " == *" $lower "* ]] || foreign+=("$dll")
  done
  if [ ${#foreign[@]} -gt 0 ]; then
    echo "FAIL $exe imports non-system DLLs: ${foreign[*]}" >&2
    failed=1
  else
    echo "ok   $exe imports only system DLLs: $(echo $imports)"
  fi
done
exit "$failed"
