#!/usr/bin/env bash
# The same sources give the same norva1-update.exe byte for byte:
#   bash tests/tools/reproducible_build.sh FIRST_BUILD_DIR
# builds the program a second time, later than the build in FIRST_BUILD_DIR and
# with its settings, from a copy of this checkout's files in a fresh temporary
# folder (another path, of another length), and compares the two programs'
# SHA-256. Only the program is built, without the tests. Fails when they differ,
# keeping the second build for a look.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
FIRST=$(cd "${1:?usage: reproducible_build.sh FIRST_BUILD_DIR}" && pwd)
first_exe=$FIRST/norva1-update.exe
if [ ! -f "$first_exe" ] || [ ! -f "$FIRST/CMakeCache.txt" ]; then
    echo "no program built in $FIRST: build it first" >&2
    exit 2
fi
cached() { sed -n "s/^$1:[A-Z]*=//p" "$FIRST/CMakeCache.txt"; }

second=$(mktemp -d "${TMPDIR:-/tmp}/norva-second-build.XXXXXX")
keep=0
trap '[ "$keep" = 1 ] || rm -rf "$second"' EXIT
# The checkout as it stands (committed or not), without its build folders.
mkdir "$second/src"
git -C "$ROOT" ls-files -z --cached --others --exclude-standard |
    tar -C "$ROOT" --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -C "$second/src" -xf -

if ! { cmake -S "$second/src" -B "$second/build" -G "$(cached CMAKE_GENERATOR)" \
           -DCMAKE_TOOLCHAIN_FILE="$(cached CMAKE_TOOLCHAIN_FILE)" -DCMAKE_BUILD_TYPE="$(cached CMAKE_BUILD_TYPE)" \
           -DNORVA_UPDATE_HOST="$(cached NORVA_UPDATE_HOST)" -DNORVA_RELEASE_KEYS="$(cached NORVA_RELEASE_KEYS)" \
           -DNORVA_BUILD_TESTS=OFF &&
       cmake --build "$second/build" -j"${JOBS:-$(nproc)}" --target norva1-update; } >"$second/build.log" 2>&1; then
    tail -n 30 "$second/build.log" >&2
    echo "the second build of norva1-update.exe failed" >&2
    exit 1
fi

second_exe=$second/build/norva1-update.exe
first_sum=$(sha256sum "$first_exe" | cut -d' ' -f1)
second_sum=$(sha256sum "$second_exe" | cut -d' ' -f1)
echo "first build:  $first_sum  $first_exe"
echo "second build: $second_sum  $second_exe"
if [ "$first_sum" != "$second_sum" ]; then
    keep=1
    echo "norva1-update.exe is NOT reproducible: two builds of the same sources differ" \
         "($(cmp "$first_exe" "$second_exe" 2>&1 | head -n 1)); the second build stays in $second" >&2
    exit 1
fi
echo "norva1-update.exe is reproducible ($(stat -c %s "$first_exe") bytes)"
