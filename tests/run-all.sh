#!/usr/bin/env bash
# Installs what is needed, builds the native and the Windows configurations and
# runs every test: the pure logic natively under AddressSanitizer and UBSan, and
# the Windows program's tests under Wine against the simulated device, update
# server and boot-loader drive.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
JOBS=$(nproc)

bash "$ROOT/tools/install-deps.sh"

echo "== native build (pure logic, sanitizers)"
cmake -S "$ROOT" -B "$ROOT/build-test-native" -DCMAKE_BUILD_TYPE=Debug
cmake --build "$ROOT/build-test-native" -j"$JOBS"
(cd "$ROOT/build-test-native" && ctest --output-on-failure -j"$JOBS")

# NORVA_FUZZ_SECONDS=N fuzzes each parser for N seconds instead (a deep run on demand).
echo "== fuzzing the parsers (clang, libFuzzer), ${NORVA_FUZZ_SECONDS:-15} s each"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$ROOT/build-test-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVA_FUZZ=ON \
    -DNORVA_FUZZ_SECONDS="${NORVA_FUZZ_SECONDS:-15}"
cmake --build "$ROOT/build-test-fuzz" -j"$JOBS" --target norva_fuzzers
(cd "$ROOT/build-test-fuzz" && ctest --output-on-failure -j"$JOBS" -L fuzz)

echo "== Windows build (MinGW-w64), tests under Wine"
cmake -S "$ROOT" -B "$ROOT/build-test-win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DNORVA_UPDATE_HOST="127.0.0.1:${NORVA_HTTP_PORT:-18080}"
cmake --build "$ROOT/build-test-win" -j"$JOBS"
echo "== the program built again elsewhere, later: byte for byte the same"
JOBS=$JOBS bash "$ROOT/tests/tools/reproducible_build.sh" "$ROOT/build-test-win"

export NORVA_SOURCE_DIR="$ROOT" NORVA_BUILD_DIR="$ROOT/build-test-win"
trap 'bash "$ROOT/tests/harness/harness.sh" down' EXIT
bash "$ROOT/tests/harness/harness.sh" up
# Most Windows tests wait on the device's own time-outs rather than on the CPU.
(cd "$ROOT/build-test-win" && ctest --output-on-failure -j$((JOBS * 2)) --timeout 240)
echo "== all tests passed"
