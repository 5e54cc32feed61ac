#!/usr/bin/env bash
# Runs the program on this Linux machine: installs what is missing, builds
# norva1-update.exe, brings up Wine, plugs one simulated device on a COM port,
# has the local update server offer a newer firmware, and starts the program.
#
#   tools/run-demo.sh
#
# With a local DISPLAY (":0") the window opens there. Without one the program
# runs on a virtual display, a screenshot is written to demo-screenshot.png in
# the current directory, and the demo keeps running until Ctrl-C. Closing the
# window or Ctrl-C stops everything the demo started.
#
# Settings (environment): NORVA_DEMO_BUILD_DIR (default <repo>/build-demo),
# NORVA_DEMO_DISPLAY (virtual display number, default 70), NORVA_DEMO_HTTP_PORT
# (update server, default 18180), NORVA_DEMO_COM (default COM5), NORVA_DEMO_FW
# (the device's firmware version, default 1.0.0), NORVA_DEMO_LATEST (the newer
# firmware the update server offers, default 1.1.0).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${NORVA_DEMO_BUILD_DIR:-$ROOT/build-demo}
HTTP_PORT=${NORVA_DEMO_HTTP_PORT:-18180}
COM=${NORVA_DEMO_COM:-COM5}
FW=${NORVA_DEMO_FW:-1.0.0}
LATEST=${NORVA_DEMO_LATEST:-1.1.0}
SCREENSHOT=$PWD/demo-screenshot.png

say() { echo "run-demo: $*" >&2; }

bash "$ROOT/tools/install-deps.sh"

say "building the Windows program in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DNORVA_UPDATE_HOST="127.0.0.1:$HTTP_PORT" -DNORVA_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target norva1-update wineplug window_probe >/dev/null

# A local X display is used as it is; anything else gets a virtual one.
HEADLESS=1
NORVA_DISPLAY=${NORVA_DEMO_DISPLAY:-70}
if [[ "${DISPLAY:-}" =~ ^:([0-9]+)(\.[0-9]+)?$ ]] && xdpyinfo >/dev/null 2>&1; then
    NORVA_DISPLAY=${BASH_REMATCH[1]}
    HEADLESS=0
elif [ -n "${DISPLAY:-}" ]; then
    say "DISPLAY=$DISPLAY is not a local display; using a virtual one"
fi

# The demo's own harness: its own Wine prefix, display and ports. Without
# NORVA_BUILD_DIR the harness starts no test simulator; the demo plugs its own device.
export NORVA_HARNESS=demo NORVA_DISPLAY NORVA_HTTP_PORT=$HTTP_PORT NORVA_SIM_PORT=${NORVA_DEMO_SIM_PORT:-47290}
export NORVA_SOURCE_DIR=$ROOT
unset NORVA_BUILD_DIR NORVA_STATE_DIR NORVA_WINEPREFIX
HARNESS=(bash "$ROOT/tests/harness/harness.sh")
STATE=/tmp/norva-demo

SIM_PID=
PROGRAM_PID=
cleaned=0
cleanup() {
    [ "$cleaned" = 1 ] && return
    cleaned=1
    say "stopping"
    if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then kill "$PROGRAM_PID" 2>/dev/null || true; fi
    if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then
        kill "$SIM_PID" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.1; done
    fi
    "${HARNESS[@]}" down || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "bringing up Wine (first run: about a minute to create the prefix)"
"${HARNESS[@]}" up
eval "$("${HARNESS[@]}" env)"
WINE=/usr/lib/wine/wine64

# The update server (started by the harness on 127.0.0.1:$HTTP_PORT, which the
# program was built to ask) announces a newer firmware, so that "获取最新版本" finds
# it and "立即更新固件" flashes it onto the simulated device.
control="http://127.0.0.1:$HTTP_PORT/__control"
image_path="/firmware/norva1-$LATEST.uf2"
curl -fsS -o /dev/null -X POST "$control/image?path=$image_path&version=$LATEST&size=262144"
printf '; NORVA1 release manifest\nversion=%s\nxzdz=http://127.0.0.1:%s%s\n' "$LATEST" "$HTTP_PORT" "$image_path" |
    curl -fsS -o /dev/null -X POST --data-binary @- "$control/manifest"
say "the update server offers firmware $LATEST"

# The harness keeps windows away from the window manager (fast closing on a bare
# virtual display); on a real desktop the window manager frames the window as usual.
managed=N
[ "$HEADLESS" = 0 ] && managed=Y
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f >/dev/null 2>&1 </dev/null || true

# A new prefix maps COM1 to /dev/ttyS0; in the demo only the simulated device is listed.
"$WINE" "$BUILD/tools/wineplug.exe" remove COM1 >/dev/null 2>&1 </dev/null || true

say "plugging a simulated device on $COM (firmware $FW)"
python3 "$ROOT/tools/devsim.py" --plug "$COM" --fw "$FW" --wineplug "$BUILD/tools/wineplug.exe" \
    --state "$STATE/demo-drives" >"$STATE/demo-devsim.log" 2>&1 </dev/null &
SIM_PID=$!
for _ in $(seq 300); do
    grep -q "devsim: plugged" "$STATE/demo-devsim.log" 2>/dev/null && break
    kill -0 "$SIM_PID" 2>/dev/null || { cat "$STATE/demo-devsim.log" >&2; exit 1; }
    sleep 0.1
done

say "starting norva1-update.exe"
"$WINE" "$BUILD/norva1-update.exe" >"$STATE/demo-program.log" 2>&1 </dev/null &
PROGRAM_PID=$!
"$WINE" "$BUILD/tools/window_probe.exe" wait-text 1012 "就绪" 20000 >/dev/null 2>&1 </dev/null ||
    { say "the window did not come up"; exit 1; }

if [ "$HEADLESS" = 1 ]; then
    "$WINE" "$BUILD/tools/window_probe.exe" capture 'Z:\tmp\norva-demo\demo-window.bmp' </dev/null
    /usr/bin/convert "$STATE/demo-window.bmp" "$SCREENSHOT"
    say "running on virtual display :$NORVA_DISPLAY; screenshot: $SCREENSHOT"
    say "look at it: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY $WINE $BUILD/tools/window_probe.exe text 1012"
    say "Ctrl-C stops the demo"
else
    say "the window is open on $DISPLAY; close it (or Ctrl-C) to stop the demo"
fi
wait "$PROGRAM_PID" || true
PROGRAM_PID=
