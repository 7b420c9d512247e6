#!/usr/bin/env bash
# clang-tidy over the project's own sources (src/ and tools/) of both targets, with the checks of
# .clang-tidy and warnings as errors. Each file is checked with the compile commands of a build
# that compiles it: the Linux build (default build/linux) for the portable and POSIX files, the
# Windows cross build (default build/windows, configured here when it is not) for the files only
# Windows compiles, read through the MinGW-w64 headers of the -posix g++ as the cross build reads
# them.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
windows_build=${2:-build/windows}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "no $build/compile_commands.json: configure the build first (cmake --preset linux)" >&2
  exit 1
fi
if [ ! -f "$windows_build/compile_commands.json" ]; then
  # Configuring is enough: every header the sources include exists after it.
  cmake --preset windows >/dev/null
fi

# The files of `src/` and `tools/` in the first compile database and not in the second (none
# given: all of the first's).
sources_of() {
  /usr/bin/python3 - "$@" <<'EOF'
import json, os, sys
root = os.getcwd() + "/"
def files(build):
    return {entry["file"] for entry in json.load(open(build + "/compile_commands.json"))}
found = files(sys.argv[1]) - (files(sys.argv[2]) if len(sys.argv) > 2 else set())
for path in sorted(found):
    if path.startswith(root + "src/") or path.startswith(root + "tools/"):
        print(path[len(root):])
EOF
}

# clang reads the Windows files as the cross compiler does: its target, and the C++ library
# headers of the -posix g++ (clang's own search would pick the GCC installation by version and
# may take the win32 thread model's). The C headers come from the MinGW-w64 sysroot, which
# clang finds by itself for this target.
# performance-no-int-to-ptr cannot hold there: the Win32 API hands pointers over as integers
# (LPARAM, GetWindowLongPtr, _get_osfhandle), and casting them back is its contract. The portable
# files stay under the check in the Linux run.
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
windows_args=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++
  --checks=-performance-no-int-to-ptr)
for dir in "$gcc_dir/include/c++" "$gcc_dir/include/c++/x86_64-w64-mingw32" \
  "$gcc_dir/include/c++/backward"; do
  windows_args+=("--extra-arg=-isystem$dir")
done

report=$(mktemp)
trap 'rm -f "$report"' EXIT
jobs=$(nproc 2>/dev/null || echo 2)
status=0
sources_of "$build" |
  xargs -P "$jobs" -n 4 clang-tidy -p "$build" --quiet >"$report" 2>&1 || status=$?
sources_of "$windows_build" "$build" |
  xargs -P "$jobs" -n 2 clang-tidy -p "$windows_build" --quiet "${windows_args[@]}" >>"$report" 2>&1 ||
  status=$?
# clang-tidy counts the warnings it suppressed in system headers; only its findings matter.
grep -v -E '^[0-9]+ warnings? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^$' \
  "$report" || true
if [ "$status" -ne 0 ]; then
  echo "clang-tidy: findings above (treated as errors)" >&2
  exit 1
fi
echo "clang-tidy: clean"
