#!/usr/bin/env bash
# Builds the Windows program and the benchmarks, brings up the simulated world
# and prints every benchmark's figures beside its target. Nothing here fails on
# a missed target: the figures are for people to read.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${NORVA_BENCH_BUILD:-$ROOT/build-bench}
export NORVA_HARNESS=${NORVA_HARNESS:-bench} NORVA_DISPLAY=${NORVA_DISPLAY:-58}
export NORVA_SIM_PORT=${NORVA_SIM_PORT:-47260} NORVA_HTTP_PORT=${NORVA_HTTP_PORT:-18088}
export NORVA_SOURCE_DIR="$ROOT" NORVA_BUILD_DIR="$BUILD"

bash "$ROOT/tools/install-deps.sh"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DNORVA_UPDATE_HOST="127.0.0.1:$NORVA_HTTP_PORT" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" >/dev/null

HARNESS="$ROOT/tests/harness/harness.sh"
trap 'bash "$HARNESS" down' EXIT
bash "$HARNESS" up
run() { bash "$HARNESS" run "$@" </dev/null | tr -d '\r'; }

echo "== serial link"
run "$BUILD/bench/bench_telemetry_roundtrip.exe"

echo "== update"
run "$BUILD/bench/bench_update_phases.exe"
# A 16 MiB image, published from here so that the measured process never holds a copy of its own.
control="http://127.0.0.1:$NORVA_HTTP_PORT/__control"
big=/bench/update-16mib.uf2
curl -s -o /dev/null -X POST "$control/image?path=$big&version=2.0.0&size=16777216"
run "$BUILD/bench/bench_update_phases.exe" download "$big"
curl -s -o /dev/null -w 'curl, the same image from the same server: %{time_total} s, %{speed_download} bytes/s\n' \
    "http://127.0.0.1:$NORVA_HTTP_PORT$big"
run "$BUILD/bench/bench_update_phases.exe" memory "$big" 16777216
curl -s -o /dev/null -X POST "$control/reset"

for extra in "$ROOT"/bench/*.bench.sh; do
    [ -f "$extra" ] || continue
    echo "== $(basename "$extra" .bench.sh)"
    NORVA_BUILD="$BUILD" bash "$extra"
done
