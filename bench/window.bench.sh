#!/usr/bin/env bash
# The main window: start-up time against a minimal window program, the size of
# the .exe and the port-list refresh. Run by bench/run-benchmarks.sh (which
# brings the harness up and sets NORVA_BUILD); prints figures, never fails on them.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
bash "$ROOT/tests/harness/harness.sh" run "$NORVA_BUILD/bench/bench_window_startup.exe" </dev/null | tr -d '\r'
